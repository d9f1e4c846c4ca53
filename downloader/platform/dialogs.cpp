#include "platform/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tk {

MsgAnswer QtDialogs::message(MsgIcon icon, const QString& title, const QString& text,
                             MsgButtons buttons)
{
    QMessageBox box;
    box.setTextFormat(Qt::PlainText);
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    case QMessageBox::Retry: return MsgAnswer::Retry;
    default: break;
    }
    // Closing an OK/Cancel or Retry/Cancel box by its frame means Cancel.
    if (buttons == MsgButtons::OkCancel || buttons == MsgButtons::RetryCancel)
        return box.clickedButton() == box.button(QMessageBox::Ok) ? MsgAnswer::Ok
                                                                   : MsgAnswer::Cancel;
    if (buttons == MsgButtons::YesNo)
        return MsgAnswer::No;
    return MsgAnswer::Ok;
}

QString QtDialogs::openFile(const FileDialogRequest& request)
{
    QFileDialog dlg(nullptr, request.title, request.initialDir, request.filter);
    dlg.setFileMode(QFileDialog::ExistingFile);
    if (!request.fileName.isEmpty())
        dlg.selectFile(request.fileName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().first();
}

} // namespace tk

#include "platform/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

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

MsgAnswer UnattendedDialogs::message(MsgIcon, const QString& title, const QString& text,
                                     MsgButtons buttons)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" / "));
    line.replace(QLatin1Char('\r'), QLatin1String(" / "));
    line.replace(QLatin1Char('\n'), QLatin1String(" / "));
    std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(),
                 line.toLocal8Bit().constData());
    std::fflush(stderr);
    switch (buttons) {
    case MsgButtons::Ok: return MsgAnswer::Ok;
    case MsgButtons::OkCancel:
    case MsgButtons::RetryCancel: return MsgAnswer::Cancel;
    case MsgButtons::YesNo: return MsgAnswer::No;
    }
    return MsgAnswer::Cancel;
}

QString UnattendedDialogs::openFile(const FileDialogRequest&)
{
    return {};
}

} // namespace tk

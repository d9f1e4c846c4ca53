#include "platform/dialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <cstdio>
#include <optional>

namespace tk {

void makeFixedSizeWindow(QWidget* window, QWidget* widthCarrier)
{
    window->setWindowFlags((window->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowCloseButtonHint) &
                           ~(Qt::WindowMinMaxButtonsHint));
    if (window->layout())
        window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    QFont bold = window->font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    widthCarrier->setMinimumWidth(fm.horizontalAdvance(window->windowTitle()) + 8 * fm.height());
}

std::unique_ptr<QDialog> makeMessageWindow(MsgIcon icon, const QString& title, const QString& text,
                                           MsgButtons buttons)
{
    auto box = std::make_unique<QDialog>();
    QDialog* const dialog = box.get();
    dialog->setObjectName(QStringLiteral("messageWindow"));
    dialog->setWindowTitle(title);
    auto* grid = new QGridLayout(dialog);

    QStyle* style = dialog->style();
    std::optional<QStyle::StandardPixmap> picture;
    switch (icon) {
    case MsgIcon::None: break;
    case MsgIcon::Critical: picture = QStyle::SP_MessageBoxCritical; break;
    case MsgIcon::Exclamation: picture = QStyle::SP_MessageBoxWarning; break;
    case MsgIcon::Information: picture = QStyle::SP_MessageBoxInformation; break;
    case MsgIcon::Question: picture = QStyle::SP_MessageBoxQuestion; break;
    }
    if (picture) {
        auto* iconLabel = new QLabel(dialog);
        iconLabel->setObjectName(QStringLiteral("lblIcon"));
        const int side = style->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, dialog);
        iconLabel->setPixmap(style->standardIcon(*picture, nullptr, dialog).pixmap(side, side));
        grid->addWidget(iconLabel, 0, 0, Qt::AlignTop);
    }

    auto* textLabel = new QLabel(text);
    textLabel->setObjectName(QStringLiteral("lblText"));
    textLabel->setTextFormat(Qt::PlainText);
    textLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    textLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* scroll = new QScrollArea(dialog);
    scroll->setObjectName(QStringLiteral("scrollText"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(textLabel);
    grid->addWidget(scroll, 0, 1);

    auto* row = new QDialogButtonBox(dialog);
    row->setCenterButtons(true);
    const auto add = [row](QDialogButtonBox::StandardButton b, MsgAnswer answer) {
        row->addButton(b)->setProperty("answer", static_cast<int>(answer));
    };
    switch (buttons) {
    case MsgButtons::Ok: add(QDialogButtonBox::Ok, MsgAnswer::Ok); break;
    case MsgButtons::OkCancel:
        add(QDialogButtonBox::Ok, MsgAnswer::Ok);
        add(QDialogButtonBox::Cancel, MsgAnswer::Cancel);
        break;
    case MsgButtons::YesNo:
        add(QDialogButtonBox::Yes, MsgAnswer::Yes);
        add(QDialogButtonBox::No, MsgAnswer::No);
        break;
    case MsgButtons::RetryCancel:
        add(QDialogButtonBox::Retry, MsgAnswer::Retry);
        add(QDialogButtonBox::Cancel, MsgAnswer::Cancel);
        break;
    }
    if (auto* first = qobject_cast<QPushButton*>(row->buttons().first()))
        first->setDefault(true);
    QObject::connect(row, &QDialogButtonBox::clicked, dialog, [dialog](QAbstractButton* b) {
        dialog->done(1 + b->property("answer").toInt());
    });
    grid->addWidget(row, 1, 0, 1, 2);
    makeFixedSizeWindow(dialog, row);

    // The text as large as it needs, but the whole window on the screen: a
    // longer text scrolls.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize need = textLabel->sizeHint();
    const int frame = 3 * dialog->fontMetrics().height(); // title bar and borders
    const QMargins m = grid->contentsMargins();
    const int spareHeight = screen.height() - frame - m.top() - m.bottom() -
                            grid->verticalSpacing() - row->sizeHint().height();
    const int spareWidth = screen.width() * 9 / 10;
    const int bar = style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll);
    const int height = std::min(need.height(), spareHeight);
    const int width = std::min(need.width() + (height < need.height() ? bar : 0), spareWidth);
    scroll->setFixedSize(width, height + (width < need.width() ? bar : 0));
    return box;
}

MsgAnswer QtDialogs::message(MsgIcon icon, const QString& title, const QString& text,
                             MsgButtons buttons)
{
    const int result = makeMessageWindow(icon, title, text, buttons)->exec();
    if (result > 0)
        return static_cast<MsgAnswer>(result - 1);
    // Closing a box by its frame gives the cautious answer.
    switch (buttons) {
    case MsgButtons::OkCancel:
    case MsgButtons::RetryCancel: return MsgAnswer::Cancel;
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::Ok: break;
    }
    return MsgAnswer::Ok;
}

namespace {

// The chosen file, or empty when cancelled.
QString chooseFile(const FileDialogRequest& request, bool toWrite)
{
    QFileDialog dlg(nullptr, request.title, request.initialDir, request.filter);
    dlg.setFileMode(toWrite ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (toWrite) {
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        // A name typed without a suffix gets the chosen type's ("*.csv": csv),
        // so the file is written in the type the user picked.
        const auto suffixOf = [](const QString& filter) {
            const qsizetype star = filter.indexOf(QLatin1String("*."));
            if (star < 0)
                return QString();
            const qsizetype end = filter.indexOf(QRegularExpression(QStringLiteral("[ );]")), star);
            return filter.mid(star + 2, end < 0 ? -1 : end - star - 2);
        };
        dlg.setDefaultSuffix(suffixOf(request.filter.section(QLatin1String(";;"), 0, 0)));
        QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg,
                         [&dlg, suffixOf](const QString& f) { dlg.setDefaultSuffix(suffixOf(f)); });
    }
    if (!request.fileName.isEmpty())
        dlg.selectFile(request.fileName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().first();
}

} // namespace

QString QtDialogs::openFile(const FileDialogRequest& request)
{
    return chooseFile(request, false);
}

QString QtDialogs::saveFile(const FileDialogRequest& request)
{
    return chooseFile(request, true);
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

QString UnattendedDialogs::saveFile(const FileDialogRequest&)
{
    return {};
}

} // namespace tk

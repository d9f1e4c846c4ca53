// The main window's side of the About and Usage windows: the click on the
// maker's label, and the help start that shows "usage.txt" instead of the
// main window.
#include "ui/eventhook.h"
#include "ui/frmabout.h"
#include "ui/frmmain.h"
#include "ui/frmusage.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <cstdio>
#include <optional>

namespace tk {

namespace {

// The file's lines, each ended by CR LF whatever its own line break was (CR
// LF, LF or CR; the last line may have none). Nothing when it cannot be read.
std::optional<QString> readUsageFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;

    QString text;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        text += QString::fromLocal8Bit(bytes.mid(start, end - start)) + QStringLiteral("\r\n");
        if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return text;
}

} // namespace

void frmmain::setupAboutLabel()
{
    // The hook sees the label's events until it is gone, also while this
    // window is being destroyed: it must not touch the window before a click.
    QLabel* label = lblQuillon;
    EventHook::install(label, [this, label](QEvent* event) {
        if (!isLeftClickRelease(event, label))
            return false;
        showAbout();
        return true;
    });
}

void frmmain::showAbout()
{
    frmAbout about(this);
    about.exec();
}

frmUsage* frmmain::usageWindow()
{
    if (!m_usage) {
        m_usage = new frmUsage(this);
        // A help start has no other window: when this one goes, so does the program.
        connect(m_usage, &frmUsage::closed, this, [this] { doExitProcess(0); });
    }
    return m_usage;
}

void frmmain::showUsage()
{
    stayHidden = true;
    hide();
    const QString title = QString::fromLatin1(kProgramTitle);
    const QString path = m_env.shippedFile(QStringLiteral("usage.txt"));
    const std::optional<QString> text = readUsageFile(path);
    if (!text) {
        m_env.dialogs->message(MsgIcon::Critical, title,
                               QStringLiteral("Error: Unable to open usage file.\r\n") +
                                   QDir::toNativeSeparators(path));
        doExitProcess(0);
        return;
    }
    if (!m_env.hasDisplay) {
        // A window nobody sees could never be closed, so the run would never
        // end: the text goes to standard output instead, and the run ends as
        // closing the window would.
        QString lines = *text;
        lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        const QByteArray bytes = lines.toLocal8Bit();
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
        std::fflush(stdout);
        doExitProcess(0);
        return;
    }
    frmUsage* usage = usageWindow();
    usage->setWindowTitle(title);
    usage->txtUsage->setPlainText(*text);
    usage->show();
}

} // namespace tk

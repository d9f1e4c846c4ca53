#include "progress.h"

namespace tk::push {

using engine::Stage;

ProgressPrinter::ProgressPrinter(Sink sink, bool live, QObject* parent)
    : QObject(parent), m_sink(std::move(sink)), m_live(live)
{
    // A redraw at most five times a second, however fast the events come.
    m_redraw.setInterval(200);
    connect(&m_redraw, &QTimer::timeout, this, [this] {
        if (m_dirty)
            draw();
    });
}

void ProgressPrinter::setTerminals(const QStringList& addresses)
{
    m_addresses = addresses;
    if (m_live)
        m_redraw.start();
}

QString ProgressPrinter::resultLine(const engine::PushResult& r)
{
    QString line = QStringLiteral("%1: %2 (exit %3, %4 bytes, %5 s)")
                       .arg(r.address, engine::outcomeText(r.outcome))
                       .arg(r.exitCode)
                       .arg(r.bytes)
                       .arg(r.seconds, 0, 'f', 1);
    if (!r.ok() && !r.detail.isEmpty())
        line += QStringLiteral(": ") + r.detail;
    return line;
}

void ProgressPrinter::write(const QString& line)
{
    // Whatever a terminal sent (in a detail) stays on one line.
    QString text = line;
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    m_sink(text.toUtf8() + '\n');
}

void ProgressPrinter::stageChanged(int index, Stage stage)
{
    if (stage == Stage::Queued || stage == Stage::Finished)
        return;
    Running& r = m_running[index];
    // The same stage told twice is one event.
    if (r.stage == stage)
        return;
    r.stage = stage;
    if (m_live) {
        m_dirty = true;
        return;
    }
    // A line per stage; the share sent belongs to the live table only.
    const QString text =
        stage == Stage::Sending ? QStringLiteral("Sending") : engine::stageText(stage, 0, 0);
    write(m_addresses.value(index) + QStringLiteral(": ") + text);
}

void ProgressPrinter::progress(int index, qint64 sent, qint64 total)
{
    if (!m_live)
        return;
    Running& r = m_running[index];
    r.sent = sent;
    r.total = total;
    m_dirty = true;
}

void ProgressPrinter::finished(int index, const engine::PushResult& result)
{
    ++m_done;
    if (!result.ok())
        ++m_failed;
    m_running.erase(index);
    if (!m_live) {
        write(resultLine(result));
        return;
    }
    erase();
    write(resultLine(result));
    draw();
}

void ProgressPrinter::note(const QString& text)
{
    if (m_live)
        erase();
    write(QStringLiteral("tk650push: ") + text);
    if (m_live && !m_addresses.isEmpty())
        draw();
}

QString terminalCount(int n)
{
    return n == 1 ? QStringLiteral("1 terminal") : QStringLiteral("%1 terminals").arg(n);
}

void ProgressPrinter::summary(int succeeded, int failed, int delivered)
{
    m_redraw.stop();
    if (m_live)
        erase();
    QString line = QStringLiteral("tk650push: %1: %2 succeeded, %3 failed")
                       .arg(terminalCount(succeeded + failed + delivered))
                       .arg(succeeded)
                       .arg(failed);
    if (delivered > 0)
        line += QStringLiteral(", %1 delivered (install not awaited)").arg(delivered);
    write(line);
}

void ProgressPrinter::erase()
{
    if (m_drawnLines > 0)
        m_sink(QByteArrayLiteral("\x1b[") + QByteArray::number(m_drawnLines) + "A\x1b[J");
    m_drawnLines = 0;
}

void ProgressPrinter::draw()
{
    erase();
    QStringList lines;
    lines << QStringLiteral("tk650push: %1 of %2 done, %3 failed, %4 running")
                 .arg(m_done)
                 .arg(m_addresses.size())
                 .arg(m_failed)
                 .arg(m_running.size());
    int shown = 0;
    for (const auto& [index, r] : m_running) {
        if (shown++ == kMaxTableRows)
            break;
        lines << QStringLiteral("  %1 %2")
                     .arg(m_addresses.value(index), -24)
                     .arg(engine::stageText(r.stage, r.sent, r.total));
    }
    if (int(m_running.size()) > kMaxTableRows)
        lines << QStringLiteral("  ... and %1 more").arg(int(m_running.size()) - kMaxTableRows);
    for (const QString& line : lines)
        write(line.left(kLineWidth)); // a wrapped line would break the redraw
    m_drawnLines = int(lines.size());
    m_dirty = false;
}

} // namespace tk::push

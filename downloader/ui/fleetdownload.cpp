#include "ui/fleetdownload.h"

#include "core/protocol.h"
#include "ui/frmmain.h"
#include "ui/networkoptions.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <climits>

namespace tk {

engine::PushOptions networkTabOptions(const frmmain& w, quint16 port)
{
    engine::PushOptions o;
    o.filePath = w.txtfilen->text();
    o.port = port;
    o.full = w.netOptions->fullSelected();
    o.setClock = w.chkSetRTC->isChecked();
    o.killApps = w.chkKillApps->isChecked();
    o.reboot = w.chkReboot->isChecked();
    o.runApp = w.chkRunApp->isChecked();
    o.permissions = w.netOptions->permissions();
    o.owner = w.netOptions->owner();
    o.installLimitMs = static_cast<int>(std::min<long long>(
        proto::installLimitSeconds(qEnvironmentVariableIsSet(proto::kInstallLimitVariable)
                                       ? qgetenv(proto::kInstallLimitVariable).constData()
                                       : nullptr) *
            1000LL,
        INT_MAX));
    o.clock = w.env().now;
    return o;
}

FleetDownload::FleetDownload(std::vector<Target> targets, const engine::PushOptions& options,
                             QObject* parent)
    : QObject(parent), m_targets(std::move(targets)), m_rows(m_targets.size())
{
    QStringList addresses;
    for (const auto& t : m_targets)
        addresses << t.address;
    m_fleet = new engine::FleetPush(addresses, options, kJobs, this);
    m_flush.setSingleShot(true);
    m_flush.setInterval(kStatusIntervalMs);
    connect(&m_flush, &QTimer::timeout, this, &FleetDownload::flush);
    connect(m_fleet, &engine::FleetPush::stageChanged, this,
            [this](int index, engine::Stage stage) {
                if (index < 0 || index >= count())
                    return;
                m_rows[static_cast<std::size_t>(index)].stage = stage;
                touch(index);
            });
    connect(m_fleet, &engine::FleetPush::progress, this,
            [this](int index, qint64 sent, qint64 total) {
                if (index < 0 || index >= count())
                    return;
                Row& row = m_rows[static_cast<std::size_t>(index)];
                row.sent = sent;
                row.total = total;
                touch(index);
            });
    connect(m_fleet, &engine::FleetPush::terminalFinished, this,
            &FleetDownload::onTerminalFinished);
    connect(m_fleet, &engine::FleetPush::allFinished, this, &FleetDownload::finishSoon);
}

FleetDownload::~FleetDownload()
{
    // Nobody hears the sessions end any more.
    QObject::disconnect(m_fleet, nullptr, this, nullptr);
    if (m_running)
        m_fleet->cancel();
}

void FleetDownload::start()
{
    m_running = true;
    const QString queued = engine::stageText(engine::Stage::Queued, 0, 0);
    for (int i = 0; i < count(); ++i)
        show(i, queued);
    m_fleet->start();
}

void FleetDownload::cancel()
{
    if (m_running)
        m_fleet->cancel();
}

QString FleetDownload::progressText() const
{
    return QStringLiteral("Downloading: %1 of %2 done").arg(m_finished).arg(count());
}

QString FleetDownload::summaryText() const
{
    QString text = QStringLiteral("Download finished: %1 succeeded, %2 failed")
                       .arg(m_succeeded)
                       .arg(failedCount());
    if (m_cancelled > 0)
        text += QStringLiteral(", %1 cancelled").arg(m_cancelled);
    if (m_delivered > 0)
        text += QStringLiteral(", %1 delivered, install not awaited").arg(m_delivered);
    return text;
}

int FleetDownload::pastFileCount() const
{
    return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(), [](const Row& r) {
        return !r.done &&
               (r.stage == engine::Stage::Installing || r.stage == engine::Stage::Rebooting ||
                r.stage == engine::Stage::StartingApp);
    }));
}

// A row's running status is shown on the next tick of the flush timer, so
// each row changes at most once per interval however fast its session goes.
void FleetDownload::touch(int index)
{
    Row& row = m_rows[static_cast<std::size_t>(index)];
    if (row.done || row.dirty)
        return;
    row.dirty = true;
    m_dirty.push_back(index);
    if (!m_flush.isActive())
        m_flush.start();
}

void FleetDownload::flush()
{
    std::vector<int> dirty;
    dirty.swap(m_dirty);
    for (int index : dirty) {
        Row& row = m_rows[static_cast<std::size_t>(index)];
        row.dirty = false;
        if (!row.done)
            show(index, engine::stageText(row.stage, row.sent, row.total));
    }
}

void FleetDownload::show(int index, const QString& text)
{
    Row& row = m_rows[static_cast<std::size_t>(index)];
    if (row.shown == text)
        return;
    row.shown = text;
    for (const QString& serial : m_targets[static_cast<std::size_t>(index)].serials)
        emit rowStatus(serial, text);
}

void FleetDownload::onTerminalFinished(int index, const engine::PushResult& result)
{
    if (index < 0 || index >= count())
        return;
    Row& row = m_rows[static_cast<std::size_t>(index)];
    if (row.done)
        return;
    QString text = engine::outcomeText(result.outcome);
    // "Full" to an older daemon went as "Partial": the row says so.
    if (result.sentAsPartial && (result.ok() || result.outcome == engine::Outcome::Delivered))
        text += QStringLiteral(" (sent as Partial)");
    show(index, text);
    row.done = true;
    ++m_finished;
    if (result.ok())
        ++m_succeeded;
    else if (result.outcome == engine::Outcome::Cancelled)
        ++m_cancelled;
    else if (result.outcome == engine::Outcome::Delivered)
        ++m_delivered;
    emit countChanged();
    if (m_finished == count())
        finishSoon();
}

// The end is told from the event loop, never from inside the engine's signal:
// the listener may show a message then.
void FleetDownload::finishSoon()
{
    if (!m_running || m_finishQueued)
        return;
    m_finishQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_running = false;
            m_flush.stop();
            emit finished();
        },
        Qt::QueuedConnection);
}

} // namespace tk

#include "ui/frmbcastlistener.h"

#include "core/bcastrecord.h"
#include "listener/bcastreceiver.h"
#include "listener/inventory.h"
#include "listener/probescheduler.h"
#include "platform/wait.h"
#include "ui/fleetdownload.h"
#include "ui/frmdebug.h"
#include "ui/frmmain.h"
#include "ui/named.h"
#include "ui/networkdownload.h"
#include "ui/screenfit.h"
#include "ui/shortcuts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QTreeView>
#include <QUdpSocket>
#include <algorithm>
#include <utility>

namespace tk {

namespace {

const QString kDisconnected = QStringLiteral("Disconnected");

std::string bytesOf(const QString& s)
{
    return s.toLatin1().toStdString();
}

QString textOf(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

frmBcastListener::frmBcastListener(frmmain& main) : QWidget(&main, Qt::Window), m_main(main)
{
    setObjectName(QStringLiteral("frmBcastListener"));
    setWindowTitle(QStringLiteral("Tk650 Bcast Listener"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildUi();

    // Load: the stored size, then the place beside the main window.
    const auto size = bcast::parseWindowSize(
        bytesOf(m_main.env().store->value(QStringLiteral("frmBcastSize")).toString()));
    if (size) {
        // The stored sides are already held to a range an int takes; a size
        // beyond the desktop is cut to it, so no window is larger than all screens.
        QSize most(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            most = screen->virtualSize();
        resize(std::min(twips(static_cast<int>(size->width)), most.width()),
               std::min(twips(static_cast<int>(size->height)), most.height()));
    }
    placeBesideMain();
}

frmBcastListener::~frmBcastListener()
{
    qApp->removeEventFilter(this);
}

void frmBcastListener::placeBesideMain()
{
    // Not shown yet, so the window has no frame of its own: the main window's
    // stands in for it.
    const QMargins margins = frameMarginsOf(this, &m_main);
    const QRect mainFrame = m_main.frameGeometry();
    const QRect area = availableAreaAt(mainFrame.center(), &m_main);
    QRect frame = geometry().marginsAdded(margins);
    // Below the main window when it fits there, else above it when that fits,
    // else where it is; always kept on the screen (placeFrame).
    const int h = frame.height();
    if (mainFrame.bottom() + h <= area.bottom())
        frame.moveTop(mainFrame.bottom() + 1);
    else if (mainFrame.top() - h >= area.top())
        frame.moveBottom(mainFrame.top() - 1);
    frame.moveLeft(mainFrame.left());
    placeFrame(this, frame, margins);
}

// ---------------------------------------------------------------- start and close

int frmBcastListener::listenerPort() const
{
    bool ok = false;
    const int port = m_main.txtPort->text().trimmed().toInt(&ok);
    // Any daemon port has a listener port, even one the listener cannot
    // bind (above 32767): the start then fails naming that port.
    if (!ok || port < -32768 || port > 65535)
        return kNoPort;
    return port + 1;
}

bool frmBcastListener::isListening() const
{
    return UDPbcast->state() == QAbstractSocket::BoundState;
}

bool frmBcastListener::startBcastListener()
{
    m_startFailure = StartFailure::None;
    const int port = listenerPort();
    if (port == kNoPort) {
        m_startFailure = StartFailure::NotANumber;
        return false;
    }
    if (port < 1 || port > 32767) {
        m_startFailure = StartFailure::PortInUse;
        return false;
    }

    switch (m_receiver->bind(m_main.env().bcastBindAddress, static_cast<quint16>(port))) {
    case BcastReceiver::BindResult::AnotherInstance:
        m_startFailure = StartFailure::AnotherInstance;
        return false;
    case BcastReceiver::BindResult::PortInUse:
        m_startFailure = StartFailure::PortInUse;
        return false;
    case BcastReceiver::BindResult::Bound: break;
    }
    if (!isListening()) {
        setListenerStatus(kDisconnected);
        return true;
    }
    m_started = true;
    setListenerStatus(QStringLiteral("Listening"));
    show();
    pumpPendingEvents();
    loadDeviceList();
    refreshDevices();
    return true;
}

void frmBcastListener::closeEvent(QCloseEvent* event)
{
    // The close box asks first while terminals install; the main window
    // closing the program does not.
    if (event->spontaneous() && !m_closed && !cancelDownloads(true)) {
        event->ignore();
        return;
    }
    closing();
    QWidget::closeEvent(event);
}

bool frmBcastListener::closeAsking()
{
    if (!m_closed && !cancelDownloads(true))
        return false;
    return close();
}

void frmBcastListener::closing()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_fleet) {
        // Every terminal is stopped; no summary is shown for a closing window.
        FleetDownload* fleet = std::exchange(m_fleet, nullptr);
        fleet->disconnect(this);
        delete fleet;
    }
    m_receiver->clear();
    m_probes->shutDown();
    if (m_started && isListening())
        saveDeviceList();
    if (m_main.isVisible()) {
        const QSignalBlocker block(m_main.chkListener);
        m_main.chkListener->setChecked(false);
    }
    QSettings& store = *m_main.env().store;
    store.setValue(QStringLiteral("frmBcastSize"),
                   textOf(bcast::formatWindowSize(width() * 15.0, height() * 15.0)));
    store.sync();
    m_receiver->unbind();
}

// ---------------------------------------------------------------- rows

int frmBcastListener::rowCount() const
{
    return m_table->count();
}

DeviceRow frmBcastListener::row(int displayIndex) const
{
    if (displayIndex < 0 || displayIndex >= m_table->count())
        return {};
    return m_table->at(displayIndex);
}

int frmBcastListener::rowOf(const QString& serial) const
{
    return m_table->rowOf(serial);
}

QStringList frmBcastListener::selectedSerials() const
{
    QModelIndexList rows = lvBcast->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList serials;
    for (const QModelIndex& i : rows)
        serials << m_table->at(i.row()).serial;
    return serials;
}

int frmBcastListener::contextRow() const
{
    const QModelIndex current = lvBcast->currentIndex();
    if (current.isValid() && lvBcast->selectionModel()->isRowSelected(current.row()))
        return current.row();
    const QStringList selected = selectedSerials();
    return selected.isEmpty() ? -1 : m_table->rowOf(selected.first());
}

void frmBcastListener::setListenerStatus(const QString& text)
{
    lblListenerState->setText(text);
}

// At the row limit the count says so, and new serial numbers are turned
// away (known rows still update) until rows are removed.
void frmBcastListener::updateDeviceCount()
{
    const int rows = rowCount();
    const bool full = m_table->isFull();
    QString text = QStringLiteral("Total Devices: ") + QString::number(rows);
    if (full)
        text += QStringLiteral(" (full)");
    lblDeviceCount->setText(text);
    lblDeviceCount->setToolTip(
        full ? QStringLiteral("The list holds at most %1 devices: broadcasts from new serial "
                              "numbers are ignored until rows are removed.")
                   .arg(bcast::kMaxRows)
             : QString());
}

QString frmBcastListener::nowText() const
{
    const QDateTime now = m_main.env().now();
    const QLocale locale = QLocale::system();
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("\\s*t+")));
    return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           now.time().toString(timeFormat);
}

void frmBcastListener::addBcast(const QString& RemoteHostIP, const QString& msg)
{
    if (const auto serial = m_table->applyBroadcast(RemoteHostIP, msg.toLatin1(), nowText()))
        m_probes->queue(*serial, true);
}

// ---------------------------------------------------------------- probes and Refresh

bool frmBcastListener::probesIdle() const
{
    return m_probes->idle() && m_receiver->idle();
}

int frmBcastListener::probesRunning() const
{
    return m_probes->running();
}

int frmBcastListener::probesSent() const
{
    return m_probes->sent();
}

qint64 frmBcastListener::datagramsDropped() const
{
    return m_receiver->dropped();
}

bool frmBcastListener::isRefreshing() const
{
    return m_probes->isRefreshing();
}

void frmBcastListener::stopRefreshing()
{
    m_probes->stop();
}

void frmBcastListener::refreshDevices()
{
    if (m_closed || isRefreshing())
        return;
    // A finished download's summary goes with the first Refresh after it.
    if (!isDownloading())
        lblDownloads->hide();
    m_probes->refresh();
}

// ---------------------------------------------------------------- pruning

void frmBcastListener::clearList()
{
    if (isDownloading())
        return;
    if (m_main.env().dialogs->message(
            MsgIcon::None, QStringLiteral("Clear List?"),
            QStringLiteral("Are you sure you want to clear the Bcast list?"),
            MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    m_table->clear();
}

void frmBcastListener::clearDisconnected()
{
    if (isDownloading())
        return;
    if (m_main.env().dialogs->message(
            MsgIcon::None, QStringLiteral("Confirm Clear Disconnected"),
            QStringLiteral("Are you sure you want to remove all Disconnected S/N's from the list?"),
            MsgButtons::YesNo) == MsgAnswer::No)
        return;
    QStringList gone;
    for (int i = 0; i < rowCount(); ++i)
        if (m_table->at(i).status == kDisconnected)
            gone << m_table->at(i).serial;
    m_table->remove(gone);
}

void frmBcastListener::exportDeviceList()
{
    FileDialogRequest request;
    request.title = QStringLiteral("Export Device List");
    request.fileName = QStringLiteral("terminals.json");
    request.filter = QStringLiteral("JSON (*.json);;CSV (*.csv)");
    const QString path = m_main.env().dialogs->saveFile(request);
    if (path.isEmpty())
        return;
    std::vector<InventoryEntry> entries;
    for (int i = 0; i < rowCount(); ++i) {
        const DeviceRow r = row(i);
        entries.push_back({r.address, r.serial, r.record.toLatin1()});
    }
    const auto format = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)
                            ? InventoryFormat::Csv
                            : InventoryFormat::Json;
    if (auto error = writeInventory(path, entries, format))
        m_main.env().dialogs->message(MsgIcon::Exclamation, QStringLiteral("Export Device List"),
                                      *error);
}

void frmBcastListener::removeSelected()
{
    const QStringList serials = selectedSerials();
    if (serials.isEmpty() || isDownloading())
        return;
    const QString text =
        serials.size() == 1
            ? QStringLiteral("Are you sure you want to remove S/N ") + serials.first() +
                  QStringLiteral(" from the list?")
            : QStringLiteral("Are you sure you want to remove the %1 selected S/N's from the list?")
                  .arg(serials.size());
    if (m_main.env().dialogs->message(MsgIcon::None, QStringLiteral("Confirm Remove"), text,
                                      MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    // Rows that went while the question was open are skipped.
    for (const QString& s : serials)
        m_probes->forget(s);
    m_table->remove(serials);
}

// ---------------------------------------------------------------- details, hand-over

void frmBcastListener::showDeviceDetails()
{
    const int r = contextRow();
    if (r < 0)
        return;
    const DeviceRow& d = m_table->at(r);
    const bcast::DetailsSource source{bytesOf(d.serial),    bytesOf(d.address),
                                      bytesOf(d.status),    bytesOf(d.discretionary),
                                      bytesOf(d.lastBcast), bytesOf(d.record)};
    const QString title = QStringLiteral("Details For S/N ") + d.serial;
    m_main.env().dialogs->message(MsgIcon::Information, title,
                                  textOf(bcast::deviceDetailsText(source)), MsgButtons::Ok);
}

void frmBcastListener::downloadToSelected()
{
    const QStringList selected = selectedSerials();
    if (selected.isEmpty())
        return;
    if (selected.size() > 1) {
        downloadToSeveral();
        return;
    }
    const QStringList parts = m_table->at(rowOf(selected.first())).address.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return;
    for (int i = 0; i < 4; ++i)
        m_main.txtIP[static_cast<std::size_t>(i)]->setText(parts[i]);
    m_main.activateWindow();
    // As if tabbed to: the button shows its focus, and Enter sends.
    m_main.setAttribute(Qt::WA_KeyboardFocusChange);
    m_main.cmdSend->setFocus(Qt::TabFocusReason);
}

// ---------------------------------------------------------------- download to several

bool frmBcastListener::isDownloading() const
{
    return m_fleet && m_fleet->isRunning();
}

// Terminals that have their whole file are not stopped without a word:
// stopping them ends the wait for their install results, not the installs.
bool frmBcastListener::cancelDownloads(bool ask)
{
    if (!isDownloading())
        return true;
    if (const int installing = m_fleet->pastFileCount(); ask && installing > 0) {
        const QString who =
            installing == 1 ? QStringLiteral("1 terminal has the whole file and is installing it.")
                            : QStringLiteral("%1 terminals have the whole file and are "
                                             "installing it.")
                                  .arg(installing);
        if (m_main.env().dialogs->message(
                MsgIcon::Question, QStringLiteral("Download To..."),
                who + QStringLiteral("\r\nStop the downloads without waiting for their results?"),
                MsgButtons::YesNo) != MsgAnswer::Yes)
            return false;
        if (!isDownloading())
            return true; // it ended while the question was open
    }
    m_fleet->cancel();
    return true;
}

void frmBcastListener::downloadToSeveral()
{
    const QString title = QStringLiteral("Download To...");
    Dialogs& dialogs = *m_main.env().dialogs;
    if (m_fleet) {
        dialogs.message(MsgIcon::Information, title,
                        QStringLiteral("A download to several terminals is still running."));
        return;
    }
    // The same checks as the main window's Send, before anyone is asked.
    const QString path = m_main.txtfilen->text();
    quint16 port = 0;
    auto problem = fileProblem(path);
    if (!problem)
        problem = portProblem(m_main.txtPort->text(), &port);
    if (problem) {
        dialogs.message(MsgIcon::Critical, unableToSendTitle(), problem->text);
        return;
    }

    // One session per address, in the list's order; rows sharing an address
    // show the same session.
    std::vector<FleetDownload::Target> targets;
    QHash<QString, std::size_t> byAddress;
    for (const QString& serial : selectedSerials()) {
        const QString address = m_table->at(rowOf(serial)).address;
        auto it = byAddress.constFind(address);
        if (it == byAddress.constEnd()) {
            it = byAddress.insert(address, targets.size());
            targets.push_back({address, {}});
        }
        targets[*it].serials << serial;
    }
    const QString terminals = targets.size() == 1
                                  ? QStringLiteral("the selected terminal")
                                  : QStringLiteral("the %1 selected terminals").arg(targets.size());
    if (dialogs.message(MsgIcon::Question, title,
                        QStringLiteral("Send %1 to %2?").arg(QFileInfo(path).fileName(), terminals),
                        MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    if (m_closed || m_fleet)
        return;

    m_fleet = new FleetDownload(std::move(targets), networkTabOptions(m_main, port), this);
    for (const auto& target : m_fleet->targets())
        m_probes->hold(target.serials);
    connect(m_fleet, &FleetDownload::rowStatus, m_table, &DeviceTable::setStatus);
    connect(m_fleet, &FleetDownload::countChanged, this,
            [this] { lblDownloads->setText(m_fleet->progressText()); });
    connect(m_fleet, &FleetDownload::finished, this, &frmBcastListener::downloadsFinished);
    lblDownloads->setText(m_fleet->progressText());
    lblDownloads->show();
    cmdCancelDownloads->show();
    enablePruning(false);
    m_fleet->start();
}

// Once the download ended its rows are rows like any other: the next
// broadcast probes them, Refresh and Clear Disconnected treat them as usual.
void frmBcastListener::downloadsFinished()
{
    FleetDownload* fleet = std::exchange(m_fleet, nullptr);
    if (!fleet)
        return;
    const QString summary = fleet->summaryText();
    const bool allWell = fleet->succeededCount() == fleet->count();
    fleet->deleteLater();
    m_probes->release();
    lblDownloads->setText(summary);
    lblDownloads->setToolTip(summary);
    cmdCancelDownloads->hide();
    enablePruning(true);
    if (!m_closed)
        m_main.env().dialogs->message(allWell ? MsgIcon::Information : MsgIcon::Exclamation,
                                      QStringLiteral("Download To..."), summary);
}

// Rows may not go while a download reports into them.
void frmBcastListener::enablePruning(bool enabled)
{
    cmdClear->setEnabled(enabled);
    cmdRemoveDisconnected->setEnabled(enabled);
    mnuRemove->setEnabled(enabled);
}

// ---------------------------------------------------------------- sorting, saved list

void frmBcastListener::sortByColumn(int column)
{
    m_table->sortByColumn(column);
}

void frmBcastListener::loadDeviceList()
{
    QSettings& store = *m_main.env().store;
    const auto layout = bcast::parseColumnOrder(
        bytesOf(store.value(QStringLiteral("bCastListOrder")).toString()), kColumns);
    // Widths first, then the positions in the order they are to end up.
    std::vector<std::pair<int, int>> moves; // position, column
    for (std::size_t i = 0; i < layout.size(); ++i) {
        if (!layout[i])
            continue;
        m_widthTwips[i] = layout[i]->width;
        lvBcast->setColumnWidth(static_cast<int>(i), twips(layout[i]->width));
        moves.emplace_back(layout[i]->position, static_cast<int>(i));
    }
    std::sort(moves.begin(), moves.end());
    QHeaderView* header = lvBcast->header();
    for (const auto& [position, column] : moves)
        header->moveSection(header->visualIndex(column), position - 1);

    chkSaveList->setChecked(
        store.value(QStringLiteral("saveBcastList"), QStringLiteral("1")).toString() ==
        QLatin1String("1"));
    if (!chkSaveList->isChecked())
        return;
    QFile file(m_main.env().settingsFileToRead(QStringLiteral("bcastlist.qsf")));
    if (!file.open(QIODevice::ReadOnly))
        return;
    m_table->restore(file.read(static_cast<qint64>(bcast::kMaxSavedListBytes)));
    updateDeviceCount();
}

void frmBcastListener::saveDeviceList()
{
    QSettings& store = *m_main.env().store;
    store.setValue(QStringLiteral("saveBcastList"),
                   chkSaveList->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    if (chkSaveList->isChecked()) {
        // The old list is replaced only once the new one is complete; a list
        // that cannot be written is given up, the window still closes.
        QSaveFile file(m_main.env().settingsFileToWrite(QStringLiteral("bcastlist.qsf")));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(m_table->savedList());
            file.commit();
        }
    }
    std::vector<bcast::ColumnLayout> columns;
    for (int i = 0; i < kColumns; ++i) {
        const int px = lvBcast->columnWidth(i);
        columns.push_back(
            {lvBcast->header()->visualIndex(i) + 1,
             px == twips(m_widthTwips[i]) || px == m_fittedPx[i] ? m_widthTwips[i] : px * 15});
    }
    store.setValue(QStringLiteral("bCastListOrder"), textOf(bcast::formatColumnOrder(columns)));
}

bool frmBcastListener::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // The design minimum, or what the buttons and status texts need if more.
    if (event->type() == QEvent::LayoutRequest && layout())
        setMinimumSize(QSize(twips(3600), twips(3000)).expandedTo(layout()->totalMinimumSize()));
    return handled;
}

void frmBcastListener::fitColumns(int first, int last)
{
    QHeaderView* header = lvBcast->header();
    for (int i = 0; i < kColumns; ++i) {
        const int px = lvBcast->columnWidth(i);
        const bool ours = m_widthTwips[i] == DeviceTable::designWidth(i) &&
                          (px == twips(m_widthTwips[i]) || px == m_fittedPx[i]);
        if (!ours)
            continue; // the user's width stays as set
        int need = std::max(twips(m_widthTwips[i]), header->sectionSizeHint(i));
        for (int row = first; row <= last; ++row)
            need = std::max(need, lvBcast->sizeHintForIndex(m_table->index(row, i)).width());
        if (need > px) {
            m_fittedPx[i] = need;
            lvBcast->setColumnWidth(i, need);
        }
    }
}

// ---------------------------------------------------------------- mouse and keys

bool frmBcastListener::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lvBcast->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QModelIndex at = lvBcast->indexAt(mouse->position().toPoint());
        QItemSelectionModel* selection = lvBcast->selectionModel();
        if (mouse->button() == Qt::RightButton) {
            // A row already among the selected keeps them all, so the menu's
            // "Download To..." and "Remove" reach every one; the clicked row
            // becomes the current one, the row "Details" is about.
            if (!at.isValid() || !selection->isRowSelected(at.row())) {
                lvBcast->clearSelection();
                if (at.isValid())
                    selection->select(at, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            }
            if (at.isValid()) {
                selection->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
                mnuItemContext->popup(mouse->globalPosition().toPoint());
            }
            return true;
        }
        if (mouse->button() == Qt::LeftButton && !at.isValid())
            lvBcast->clearSelection();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        stopRefreshing();
        cancelDownloads(true);
        return true;
    }
    if (chordOf(*key) == Chord::DebugConsole) {
        m_main.debugWindow()->init(QString(), QStringLiteral("MSG:enter a message here"), false);
        return true;
    }
    if (key->key() == Qt::Key_Delete && widget == lvBcast) {
        removeSelected();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tk

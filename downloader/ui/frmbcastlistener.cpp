#include "ui/frmbcastlistener.h"

#include "core/bcastrecord.h"
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
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QNetworkDatagram>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTimer>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace tk {

namespace {

const char* const kColumnKeys[frmBcastListener::kColumns] = {
    "Serial Number", "IP Address", "Status", "Discretionary", "Last Bcast"};
const int kColumnWidths[frmBcastListener::kColumns] = {1300, 1200, 2000, 2000, 2000};
enum Column { colSerial, colAddress, colStatus, colDiscretionary, colLastBcast };
constexpr int kRecordRole = Qt::UserRole + 1;

constexpr int kDatagramBatch = 512; // rows updated per pass of the queue
// Datagrams taken off the socket per readyRead: a sender that keeps the
// socket full cannot keep the window from its other events.
constexpr int kDrainBatch = 2048;
// Bytes of datagrams waiting for their rows (a round of 500 terminals is
// about 250 KB); what comes beyond is dropped.
constexpr qsizetype kMaxQueuedBytes = 2 * 1024 * 1024;
constexpr int kReceiveBuffer = 8 * 1024 * 1024;
// A reply is read up to one byte beyond the largest record: more is an
// answer, but not a record.
constexpr qint64 kProbeReadBytes = static_cast<qint64>(bcast::kMaxRecordBytes) + 1;
constexpr int kProbeTickMs = 200;
constexpr int kConnectTicks = 5; // five 200 ms pauses
constexpr int kReplyTicks = 25;  // twenty-five 200 ms pauses

const QString kRefreshing = QStringLiteral("Refreshing...");
const QString kDisconnected = QStringLiteral("Disconnected");
const QString kBusy = QStringLiteral("Busy");
const QString kWaiting = QStringLiteral("Waiting for download");

std::string bytesOf(const QString& s)
{
    return s.toLatin1().toStdString();
}

QString textOf(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

QString dottedText(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
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
    // The probe slots go before the sockets (children, deleted later): a
    // socket ending its connection then must not reach its slot.
    for (auto& probe : m_probes) {
        QObject::disconnect(probe->tcpClient, nullptr, this, nullptr);
        QObject::disconnect(probe->timer, nullptr, this, nullptr);
    }
}

void frmBcastListener::buildUi()
{
    resize(twips(6480), twips(4380));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 0);

    lvBcast = named(new QTreeWidget(this), "lvBcast");
    lvBcast->setRootIsDecorated(false);
    // Rows have their own heights: a two-line discretionary text shows whole
    // as soon as it arrives.
    lvBcast->setUniformRowHeights(false);
    // Several rows may be selected: "Download To..." then sends to all of them.
    lvBcast->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvBcast->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvBcast->setColumnCount(kColumns);
    QStringList captions;
    for (const char* key : kColumnKeys)
        captions << QString::fromLatin1(key);
    lvBcast->setHeaderLabels(captions);
    for (int i = 0; i < kColumns; ++i) {
        m_widthTwips[i] = kColumnWidths[i];
        lvBcast->setColumnWidth(i, twips(kColumnWidths[i]));
    }
    lvBcast->header()->setSectionsMovable(true);
    lvBcast->header()->setSectionsClickable(true);
    lvBcast->header()->setSortIndicatorShown(false);
    lvBcast->header()->setStretchLastSection(false);
    lvBcast->viewport()->installEventFilter(this);
    layout->addWidget(lvBcast, 1);

    frameButtons = named(new QWidget(this), "frameButtons");
    auto* grid = new QGridLayout(frameButtons);
    grid->setContentsMargins(0, 0, 0, 0);
    const QSize buttonSize(twips(1575), twips(375));
    cmdRefresh = named(new QPushButton(QStringLiteral("Refresh"), frameButtons), "cmdRefresh");
    cmdClear = named(new QPushButton(QStringLiteral("Clear List"), frameButtons), "cmdClear");
    chkSaveList =
        named(new QCheckBox(QStringLiteral("Save List on Exit"), frameButtons), "chkSaveList");
    chkSaveList->setChecked(true);
    cmdRemoveDisconnected =
        named(new QPushButton(QStringLiteral("Clear Disconnected"), frameButtons),
              "cmdRemoveDisconnected");
    cmdCancelDownloads = named(new QPushButton(QStringLiteral("Cancel Downloads"), frameButtons),
                               "cmdCancelDownloads");
    cmdCancelDownloads->hide();
    for (auto* b : {cmdRefresh, cmdClear, cmdRemoveDisconnected, cmdCancelDownloads})
        b->setMinimumSize(buttonSize.expandedTo(b->minimumSizeHint()));
    grid->addWidget(cmdRefresh, 0, 0);
    grid->addWidget(cmdCancelDownloads, 0, 1, Qt::AlignHCenter);
    grid->addWidget(cmdClear, 0, 2);
    grid->addWidget(chkSaveList, 1, 0);
    grid->addWidget(cmdRemoveDisconnected, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addWidget(frameButtons);

    sbBcast = named(new QStatusBar(this), "sbBcast");
    sbBcast->setSizeGripEnabled(true);
    lblListenerState = named(new QLabel(sbBcast), "lblListenerState");
    // Panels as wide as the design, or as their longest texts.
    const auto atLeast = [](QLabel* label, int designTwips,
                            std::initializer_list<const char*> texts) {
        int need = twips(designTwips);
        for (const char* text : texts)
            need = std::max(need,
                            label->fontMetrics().horizontalAdvance(QString::fromLatin1(text)) +
                                2 * label->frameWidth() + label->fontMetrics().averageCharWidth());
        label->setMinimumWidth(need);
    };
    atLeast(lblListenerState, 1000, {"Listening", "Refreshing", "Disconnected"});
    lblListenerState->setTextFormat(Qt::PlainText);
    pbBcastRefresh = named(new QProgressBar(sbBcast), "pbBcastRefresh");
    pbBcastRefresh->setRange(0, 100);
    pbBcastRefresh->setValue(0);
    pbBcastRefresh->setTextVisible(false);
    pbBcastRefresh->setMinimumWidth(twips(1440) - twips(100));
    lblDeviceCount =
        named(new QLabel(QStringLiteral("Total Devices: 0"), sbBcast), "lblDeviceCount");
    atLeast(lblDeviceCount, 1680, {"Total Devices: 00000"});
    lblDownloads = named(new QLabel(sbBcast), "lblDownloads");
    lblDownloads->setTextFormat(Qt::PlainText);
    lblDownloads->hide();
    sbBcast->addWidget(lblListenerState);
    sbBcast->addWidget(pbBcastRefresh, 1);
    sbBcast->addWidget(lblDownloads);
    sbBcast->addPermanentWidget(lblDeviceCount);
    layout->addWidget(sbBcast);
    setMinimumSize(twips(3600), twips(3000));

    QAbstractItemModel* model = lvBcast->model();
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { fitColumns(first, last); });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                fitColumns(topLeft.row(), bottomRight.row());
            });
    connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { fitColumns(0, -1); });
    fitColumns(0, -1);

    mnuItemContext = named(new QMenu(this), "mnuItemContext");
    mnuDownloadTo = mnuItemContext->addAction(QStringLiteral("Download To..."));
    mnuDownloadTo->setObjectName(QStringLiteral("mnuDownloadTo"));
    mnuRemove = mnuItemContext->addAction(QStringLiteral("Remove"));
    mnuRemove->setObjectName(QStringLiteral("mnuRemove"));
    mnuDetails = mnuItemContext->addAction(QStringLiteral("Details"));
    mnuDetails->setObjectName(QStringLiteral("mnuDetails"));

    UDPbcast = named(new QUdpSocket(this), "UDPbcast");

    m_datagramTimer = new QTimer(this);
    m_datagramTimer->setSingleShot(true);
    m_datagramTimer->setInterval(0);
    m_refreshEndTimer = new QTimer(this);
    m_refreshEndTimer->setSingleShot(true);
    m_refreshEndTimer->setInterval(500);

    connect(cmdRefresh, &QPushButton::clicked, this, &frmBcastListener::refreshDevices);
    connect(cmdClear, &QPushButton::clicked, this, &frmBcastListener::clearList);
    connect(cmdRemoveDisconnected, &QPushButton::clicked, this,
            &frmBcastListener::clearDisconnected);
    connect(cmdCancelDownloads, &QPushButton::clicked, this, &frmBcastListener::cancelDownloads);
    connect(mnuDownloadTo, &QAction::triggered, this, &frmBcastListener::downloadToSelected);
    connect(mnuRemove, &QAction::triggered, this, &frmBcastListener::removeSelected);
    connect(mnuDetails, &QAction::triggered, this, &frmBcastListener::showDeviceDetails);
    connect(lvBcast, &QTreeWidget::itemDoubleClicked, this, [this] { downloadToSelected(); });
    connect(lvBcast->header(), &QHeaderView::sectionClicked, this, &frmBcastListener::sortByColumn);
    connect(UDPbcast, &QUdpSocket::readyRead, this, &frmBcastListener::drainDatagrams);
    connect(m_datagramTimer, &QTimer::timeout, this, &frmBcastListener::processDatagrams);
    connect(m_refreshEndTimer, &QTimer::timeout, this, &frmBcastListener::endRefresh);

    // Keys anywhere in this window (Escape, Delete on the list, the console chords).
    qApp->installEventFilter(this);
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

    const QString bindText = m_main.env().bcastBindAddress;
    const QHostAddress bindAddress =
        bindText.isEmpty() ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(bindText);

    // Only one program may listen on a port: the lock tells another instance
    // of this program apart from any other owner of the port.
    if (!m_lock) {
        const QString lockName = QStringLiteral("Tk650Downloader-bcast-%1-%2.lock")
                                     .arg(bindText.isEmpty() ? QStringLiteral("any") : bindText)
                                     .arg(port);
        m_lock = std::make_unique<QLockFile>(QDir::temp().filePath(lockName));
        m_lock->setStaleLockTime(0);
        if (!m_lock->tryLock(0)) {
            const bool held = m_lock->error() == QLockFile::LockFailedError;
            m_lock.reset();
            if (held) {
                m_startFailure = StartFailure::AnotherInstance;
                return false;
            }
        }
    }

    if (UDPbcast->state() != QAbstractSocket::UnconnectedState)
        UDPbcast->close();
    // No ShareAddress/ReuseAddressHint: a second owner of the port must fail.
    if (!UDPbcast->bind(bindAddress, static_cast<quint16>(port),
                        QAbstractSocket::DontShareAddress)) {
        m_startFailure = StartFailure::PortInUse;
        m_lock.reset();
        return false;
    }
    UDPbcast->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBuffer);

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
    closing();
    QWidget::closeEvent(event);
}

void frmBcastListener::closing()
{
    if (m_closed)
        return;
    m_closed = true;
    stopRefresh = true;
    if (m_fleet) {
        // Every terminal is stopped; no summary is shown for a closing window.
        FleetDownload* fleet = std::exchange(m_fleet, nullptr);
        fleet->disconnect(this);
        delete fleet;
    }
    m_datagramTimer->stop();
    m_datagrams.clear();
    m_queuedBytes = 0;
    m_probeQueue.clear();
    m_queued.clear();
    m_refreshPending.clear();
    m_refreshEndTimer->stop();
    for (auto& probe : m_probes) {
        probe->phase = ProbePhase::Idle;
        probe->timer->stop();
        probe->tcpClient->abort();
    }
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
    UDPbcast->close();
    m_lock.reset();
}

// ---------------------------------------------------------------- rows

QTreeWidgetItem* frmBcastListener::itemFor(const QString& serial) const
{
    return m_rows.value(serial, nullptr);
}

QTreeWidgetItem* frmBcastListener::addRow(const QString& serial)
{
    if (rowCount() >= static_cast<int>(bcast::kMaxRows))
        return nullptr;
    auto* item = new QTreeWidgetItem();
    item->setText(colSerial, serial);
    lvBcast->addTopLevelItem(item);
    m_rows.insert(serial, item);
    keepSorted();
    return item;
}

void frmBcastListener::removeItem(QTreeWidgetItem* item)
{
    const QString serial = item->text(colSerial);
    m_rows.remove(serial);
    m_held.remove(serial);
    delete item;
}

void frmBcastListener::setCell(QTreeWidgetItem* item, int column, const QString& text)
{
    item->setText(column, text);
    if (column == m_sort.column)
        keepSorted();
}

int frmBcastListener::rowCount() const
{
    return lvBcast->topLevelItemCount();
}

DeviceRow frmBcastListener::row(int displayIndex) const
{
    const QTreeWidgetItem* item = lvBcast->topLevelItem(displayIndex);
    if (!item)
        return {};
    return {item->text(colSerial),    item->text(colAddress),
            item->text(colStatus),    item->text(colDiscretionary),
            item->text(colLastBcast), item->data(colSerial, kRecordRole).toString()};
}

int frmBcastListener::rowOf(const QString& serial) const
{
    QTreeWidgetItem* item = itemFor(serial);
    return item ? lvBcast->indexOfTopLevelItem(item) : -1;
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
    const bool full = rows >= static_cast<int>(bcast::kMaxRows);
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

// ---------------------------------------------------------------- datagrams

void frmBcastListener::drainDatagrams()
{
    // Datagrams are taken off the socket now, a batch at a time, so the
    // system's buffer does not fill while rows are being updated; the work
    // runs from a 0 ms timer. A datagram larger than any record is dropped unread (the socket
    // discards it); so is one that finds the queue full. Whatever is still
    // pending after a batch raises readyRead again on the next pass.
    for (int n = 0; n < kDrainBatch && UDPbcast->hasPendingDatagrams(); ++n) {
        const qint64 size = UDPbcast->pendingDatagramSize();
        if (size < 0 || size > static_cast<qint64>(bcast::kMaxRecordBytes) ||
            m_queuedBytes + size > kMaxQueuedBytes) {
            UDPbcast->receiveDatagram(0);
            ++m_datagramsDropped;
            continue;
        }
        QNetworkDatagram datagram = UDPbcast->receiveDatagram(size);
        m_queuedBytes += datagram.data().size();
        m_datagrams.push_back({dottedText(datagram.senderAddress()), datagram.data()});
    }
    if (!m_datagrams.empty() && !m_datagramTimer->isActive())
        m_datagramTimer->start();
}

void frmBcastListener::processDatagrams()
{
    for (int n = 0; n < kDatagramBatch && !m_datagrams.empty(); ++n) {
        Datagram d = std::move(m_datagrams.front());
        m_datagrams.pop_front();
        m_queuedBytes -= d.data.size();
        addBcast(d.address, QString::fromLatin1(d.data));
    }
    if (!m_datagrams.empty())
        m_datagramTimer->start();
}

void frmBcastListener::addBcast(const QString& RemoteHostIP, const QString& msg)
{
    if (RemoteHostIP.isEmpty() || msg.isEmpty())
        return;
    const auto serial = bcast::recordSerial(bytesOf(msg));
    if (!serial)
        return;
    const QString key = textOf(*serial);
    QTreeWidgetItem* item = itemFor(key);
    const bool known = item != nullptr;
    if (!known && (item = addRow(key)) == nullptr)
        return; // the table is full
    item->setData(colSerial, kRecordRole, msg);
    setCell(item, colAddress, RemoteHostIP);
    // A known row keeps its last status until its own probe starts.
    if (!known)
        setCell(item, colStatus, kRefreshing);
    setCell(item, colLastBcast, nowText());
    updateDeviceCount();
    queueProbe(key, true);
}

// ---------------------------------------------------------------- the "WHO:" probe
//
// Up to kMaxProbes probes run at once, each on its own connection with its
// own waits, so a terminal that accepts and never answers costs its own five
// seconds, not everyone's. Rows wait in a queue; a row that is queued or
// being probed is not queued again, so no row is probed twice at the same
// time. A row keeps its last status until its own probe starts. The waits are
// counted in 200 ms ticks: five while connecting, twenty-five for the reply.

bool frmBcastListener::probesIdle() const
{
    return probesRunning() == 0 && m_probeQueue.empty() && m_datagrams.empty();
}

int frmBcastListener::probesRunning() const
{
    int n = 0;
    for (const auto& probe : m_probes)
        n += probe->phase != ProbePhase::Idle;
    return n;
}

bool frmBcastListener::isProbing(const QString& serial) const
{
    for (const auto& probe : m_probes) {
        if (probe->phase != ProbePhase::Idle && probe->serial == serial)
            return true;
    }
    return false;
}

void frmBcastListener::queueProbe(const QString& serial, bool byDatagram)
{
    if (m_closed || isProbing(serial) || m_held.contains(serial))
        return;
    if (m_queued.contains(serial)) {
        if (byDatagram) {
            for (auto& q : m_probeQueue) {
                if (q.serial == serial)
                    q.byDatagram = true;
            }
        }
        return;
    }
    m_probeQueue.push_back({serial, byDatagram});
    m_queued.insert(serial);
    if (!m_nextProbeQueued) {
        m_nextProbeQueued = true;
        QMetaObject::invokeMethod(this, &frmBcastListener::startNextProbe, Qt::QueuedConnection);
    }
}

frmBcastListener::Probe* frmBcastListener::freeProbe()
{
    for (auto& probe : m_probes) {
        if (probe->phase == ProbePhase::Idle)
            return probe.get();
    }
    if (m_probes.size() >= static_cast<std::size_t>(kMaxProbes))
        return nullptr;
    auto probe = std::make_unique<Probe>();
    Probe* p = probe.get();
    p->tcpClient = named(new QTcpSocket(this), "tcpClient");
    p->tcpClient->setReadBufferSize(kProbeReadBytes);
    p->timer = new QTimer(this);
    p->timer->setInterval(kProbeTickMs);
    connect(p->tcpClient, &QTcpSocket::connected, this, [this, p] { onProbeConnected(*p); });
    connect(p->tcpClient, &QTcpSocket::readyRead, this, [this, p] { onProbeData(*p); });
    connect(p->tcpClient, &QTcpSocket::disconnected, this, [this, p] { onProbeGone(*p); });
    connect(p->tcpClient, &QTcpSocket::errorOccurred, this, [this, p] { onProbeGone(*p); });
    connect(p->timer, &QTimer::timeout, this, [this, p] { onProbeTick(*p); });
    m_probes.push_back(std::move(probe));
    return p;
}

void frmBcastListener::startNextProbe()
{
    m_nextProbeQueued = false;
    while (!m_closed && !m_probeQueue.empty()) {
        Probe* probe = freeProbe();
        if (!probe)
            return; // the next one starts when a probe finishes
        const QString serial = m_probeQueue.front().serial;
        m_probeQueue.pop_front();
        m_queued.remove(serial);
        QTreeWidgetItem* item = itemFor(serial);
        if (!item || m_held.contains(serial)) {
            probeCounted(serial); // removed, or downloaded to, while it waited
            continue;
        }
        stopRefresh = false;
        setCell(item, colStatus, kRefreshing);
        probe->serial = serial;
        probe->address = item->text(colAddress);
        probe->phase = ProbePhase::Connecting;
        probe->ticks = 0;
        probe->whoReplied = false;
        probe->timer->start();
        probe->tcpClient->abort();
        probe->tcpClient->connectToHost(probe->address,
                                        m_main.txtPort->text().trimmed().toUShort());
    }
}

void frmBcastListener::onProbeTick(Probe& probe)
{
    ++probe.ticks;
    if (probe.phase == ProbePhase::Connecting && probe.ticks >= kConnectTicks)
        finishProbe(probe, kDisconnected);
    else if (probe.phase == ProbePhase::AwaitingReply && probe.ticks >= kReplyTicks)
        finishProbe(probe, kBusy);
}

void frmBcastListener::onProbeConnected(Probe& probe)
{
    if (probe.phase != ProbePhase::Connecting)
        return;
    // The main window's own connection to this terminal: it is busy with us.
    const QTcpSocket* own = m_main.tcpClient;
    if (own && own->state() == QAbstractSocket::ConnectedState &&
        dottedText(own->peerAddress()) == probe.address) {
        finishProbe(probe, kBusy);
        return;
    }
    probe.phase = ProbePhase::AwaitingReply;
    probe.ticks = 0;
    probe.timer->start(); // the reply wait counts from here
    probe.whoReplied = false;
    ++m_probesSent;
    m_main.doDebug(QStringLiteral("WHO:"), false);
    probe.tcpClient->write("WHO:", 4);
}

void frmBcastListener::onProbeData(Probe& probe)
{
    if (probe.phase != ProbePhase::AwaitingReply)
        return;
    handleProbeReply(probe, probe.tcpClient->read(kProbeReadBytes));
    if (probe.whoReplied)
        finishProbe(probe, kWaiting);
}

void frmBcastListener::onProbeGone(Probe& probe)
{
    switch (probe.phase) {
    case ProbePhase::Idle: return;
    case ProbePhase::Connecting:
        if (probe.tcpClient->state() != QAbstractSocket::ConnectedState)
            finishProbe(probe, kDisconnected);
        return;
    case ProbePhase::AwaitingReply:
        if (probe.tcpClient->bytesAvailable() > 0)
            handleProbeReply(probe, probe.tcpClient->read(kProbeReadBytes));
        finishProbe(probe, probe.whoReplied ? kWaiting : kBusy);
        return;
    }
}

void frmBcastListener::handleProbeReply(Probe& probe, const QByteArray& bytes)
{
    const QString text = QString::fromLatin1(bytes);
    const auto reply = bcast::decodeProbeReply(bytes.toStdString());
    if (reply.answered) {
        probe.whoReplied = true;
        m_main.doDebug(text, true);
    }
    if (!reply.serial)
        return;
    const QString key = textOf(*reply.serial);
    QTreeWidgetItem* item = itemFor(key);
    if (!item) {
        item = addRow(key);
        updateDeviceCount();
        if (!item)
            return; // the table is full
    }
    item->setData(colSerial, kRecordRole, text);
    if (reply.discretionary)
        setCell(item, colDiscretionary, textOf(*reply.discretionary));
}

void frmBcastListener::finishProbe(Probe& probe, const QString& status)
{
    if (probe.phase == ProbePhase::Idle)
        return;
    probe.phase = ProbePhase::Idle;
    probe.timer->stop();
    probe.tcpClient->abort();
    const QString serial = probe.serial;
    probe.serial.clear();
    // A row a download started on while it was probed keeps the download's status.
    if (QTreeWidgetItem* item = itemFor(serial); item && !m_held.contains(serial))
        setCell(item, colStatus, status);
    probeCounted(serial);
    if (!m_probeQueue.empty() && !m_nextProbeQueued) {
        m_nextProbeQueued = true;
        QMetaObject::invokeMethod(this, &frmBcastListener::startNextProbe, Qt::QueuedConnection);
    }
}

// Escape: a probe still connecting leaves its row "Disconnected", one waiting
// for the reply "Busy".
void frmBcastListener::giveUpProbe(Probe& probe)
{
    if (probe.phase == ProbePhase::Connecting)
        finishProbe(probe, kDisconnected);
    else if (probe.phase == ProbePhase::AwaitingReply)
        finishProbe(probe, kBusy);
}

void frmBcastListener::stopRefreshing()
{
    stopRefresh = true;
    if (!m_refreshing) {
        for (auto& probe : m_probes)
            giveUpProbe(*probe);
        return;
    }
    // Rows that only the Refresh queued are dropped first, so that giving up
    // the probes under way does not start them.
    // Rows that only the Refresh queued are dropped; rows a broadcast queued stay.
    std::deque<QueuedProbe> keep;
    for (auto& q : m_probeQueue) {
        if (q.byDatagram)
            keep.push_back(q);
        else
            m_queued.remove(q.serial);
    }
    m_probeQueue.swap(keep);
    for (auto& probe : m_probes)
        giveUpProbe(*probe);
    m_refreshPending.clear();
    m_refreshEndTimer->stop();
    endRefresh();
}

// ---------------------------------------------------------------- Refresh

void frmBcastListener::refreshDevices()
{
    if (m_refreshing || m_closed)
        return;
    stopRefresh = false;
    m_refreshing = true;
    setListenerStatus(QStringLiteral("Refreshing"));
    cmdRefresh->setText(QStringLiteral("Refreshing.."));
    cmdRefresh->setEnabled(false);
    m_refreshPending.clear();
    m_refreshDone = 0;
    // A finished download's statuses stay until this Refresh; a running
    // one's rows are left to it.
    if (!isDownloading()) {
        m_held.clear();
        lblDownloads->hide();
    }
    for (int i = 0; i < rowCount(); ++i) {
        const QString serial = lvBcast->topLevelItem(i)->text(colSerial);
        if (m_held.contains(serial))
            continue;
        m_refreshPending.insert(serial);
        queueProbe(serial, false);
    }
    if (m_refreshPending.isEmpty())
        m_refreshEndTimer->start();
}

void frmBcastListener::probeCounted(const QString& serial)
{
    if (!m_refreshing || !m_refreshPending.remove(serial))
        return;
    ++m_refreshDone;
    const int rows = std::max(1, rowCount());
    pbBcastRefresh->setValue(std::min(100, static_cast<int>(m_refreshDone * 100.0f / rows)));
    if (m_refreshPending.isEmpty())
        m_refreshEndTimer->start(); // the bar stays full for a moment
}

void frmBcastListener::endRefresh()
{
    m_refreshing = false;
    pbBcastRefresh->setValue(0);
    setListenerStatus(QStringLiteral("Listening"));
    cmdRefresh->setText(QStringLiteral("Refresh"));
    cmdRefresh->setEnabled(true);
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
    lvBcast->clear();
    m_rows.clear();
    m_held.clear();
    updateDeviceCount();
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
    for (int i = 0; i < rowCount(); ++i) {
        QTreeWidgetItem* item = lvBcast->topLevelItem(i);
        if (item->text(colStatus) == kDisconnected) {
            removeItem(item);
            --i; // the next row moved into this place
        }
    }
    updateDeviceCount();
}

void frmBcastListener::removeSelected()
{
    const auto selected = lvBcast->selectedItems();
    if (selected.isEmpty() || isDownloading())
        return;
    QPointer<QTreeWidget> guard(lvBcast);
    const QString serial = selected.first()->text(colSerial);
    if (m_main.env().dialogs->message(MsgIcon::None, QStringLiteral("Confirm Remove"),
                                      QStringLiteral("Are you sure you want to remove S/N ") +
                                          serial + QStringLiteral(" from the list?"),
                                      MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    // The row may have gone while the question was open.
    if (QTreeWidgetItem* item = itemFor(serial))
        removeItem(item);
    updateDeviceCount();
}

// ---------------------------------------------------------------- details, hand-over

void frmBcastListener::showDeviceDetails()
{
    const auto selected = lvBcast->selectedItems();
    if (selected.isEmpty())
        return;
    const QTreeWidgetItem* item = selected.first();
    bcast::DetailsSource source{
        bytesOf(item->text(colSerial)),    bytesOf(item->text(colAddress)),
        bytesOf(item->text(colStatus)),    bytesOf(item->text(colDiscretionary)),
        bytesOf(item->text(colLastBcast)), bytesOf(item->data(colSerial, kRecordRole).toString())};
    const QString title = QStringLiteral("Details For S/N ") + item->text(colSerial);
    m_main.env().dialogs->message(MsgIcon::Information, title,
                                  textOf(bcast::deviceDetailsText(source)), MsgButtons::Ok);
}

void frmBcastListener::downloadToSelected()
{
    const auto selected = lvBcast->selectedItems();
    if (selected.isEmpty())
        return;
    if (selected.size() > 1) {
        downloadToSeveral();
        return;
    }
    const QStringList parts = selected.first()->text(colAddress).split(QLatin1Char('.'));
    if (parts.size() != 4)
        return;
    for (int i = 0; i < 4; ++i)
        m_main.txtIP[static_cast<std::size_t>(i)]->setText(parts[i]);
    m_main.activateWindow();
    m_main.cmdSend->setFocus();
}

// ---------------------------------------------------------------- download to several

bool frmBcastListener::isDownloading() const
{
    return m_fleet && m_fleet->isRunning();
}

void frmBcastListener::cancelDownloads()
{
    if (isDownloading())
        m_fleet->cancel();
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
    for (int i = 0; i < rowCount(); ++i) {
        QTreeWidgetItem* item = lvBcast->topLevelItem(i);
        if (!item->isSelected())
            continue;
        const QString address = item->text(colAddress);
        auto it = byAddress.constFind(address);
        if (it == byAddress.constEnd()) {
            it = byAddress.insert(address, targets.size());
            targets.push_back({address, {}});
        }
        targets[*it].serials << item->text(colSerial);
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
        for (const QString& serial : target.serials)
            m_held.insert(serial);
    connect(m_fleet, &FleetDownload::rowStatus, this, &frmBcastListener::setRowStatus);
    connect(m_fleet, &FleetDownload::countChanged, this,
            [this] { lblDownloads->setText(m_fleet->progressText()); });
    connect(m_fleet, &FleetDownload::finished, this, &frmBcastListener::downloadsFinished);
    lblDownloads->setText(m_fleet->progressText());
    lblDownloads->show();
    cmdCancelDownloads->show();
    enablePruning(false);
    m_fleet->start();
}

void frmBcastListener::setRowStatus(const QString& serial, const QString& text)
{
    if (QTreeWidgetItem* item = itemFor(serial))
        setCell(item, colStatus, text);
}

void frmBcastListener::downloadsFinished()
{
    FleetDownload* fleet = std::exchange(m_fleet, nullptr);
    if (!fleet)
        return;
    const QString summary = fleet->summaryText();
    const bool allWell = fleet->succeededCount() == fleet->count();
    fleet->deleteLater();
    lblDownloads->setText(summary);
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

// ---------------------------------------------------------------- sorting

void frmBcastListener::sortByColumn(int column)
{
    if (column < 0 || column >= kColumns)
        return;
    const bcast::SortState old = m_sort;
    m_sort = bcast::nextSortState(old, column);
    auto* header = lvBcast->headerItem();
    header->setText(old.column,
                    textOf(bcast::sortCaption(kColumnKeys[old.column], old.column, m_sort)));
    header->setText(column, textOf(bcast::sortCaption(kColumnKeys[column], column, m_sort)));
    if (m_sort.sorted)
        lvBcast->sortItems(column, m_sort.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

// The list stays in order while it is sorted: rows added or changed are put
// in place on the next pass of the event loop. Switching sorting off leaves
// the rows where they are.
void frmBcastListener::keepSorted()
{
    if (!m_sort.sorted || m_resortQueued)
        return;
    m_resortQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_resortQueued = false;
        if (m_sort.sorted)
            lvBcast->sortItems(m_sort.column,
                               m_sort.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    });
}

// ---------------------------------------------------------------- saved list

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
    const QByteArray bytes = file.read(static_cast<qint64>(bcast::kMaxSavedListBytes));
    file.close();
    for (const auto& saved : bcast::readSavedRows(
             std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
        const QString serial = textOf(saved.serial);
        QTreeWidgetItem* item = itemFor(serial);
        if (!item && (item = addRow(serial)) == nullptr)
            break; // the table is full
        setCell(item, colAddress, textOf(saved.address));
        setCell(item, colLastBcast, textOf(saved.lastBcast));
        setCell(item, colDiscretionary, textOf(saved.discretionary));
        item->setData(colSerial, kRecordRole, textOf(saved.record));
    }
    updateDeviceCount();
}

void frmBcastListener::saveDeviceList()
{
    QSettings& store = *m_main.env().store;
    store.setValue(QStringLiteral("saveBcastList"),
                   chkSaveList->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    if (chkSaveList->isChecked()) {
        std::vector<bcast::SavedRow> rows;
        for (int i = 0; i < rowCount(); ++i) {
            const DeviceRow r = row(i);
            rows.push_back({bytesOf(r.serial), bytesOf(r.address), bytesOf(r.lastBcast),
                            bytesOf(r.discretionary), bytesOf(r.record)});
        }
        const std::string bytes = bcast::writeSavedRows(rows);
        // The old list is replaced only once the new one is complete; a list
        // that cannot be written is given up, the window still closes.
        QSaveFile file(m_main.env().settingsFileToWrite(QStringLiteral("bcastlist.qsf")));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(bytes.data(), static_cast<qint64>(bytes.size()));
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
    const QAbstractItemView* view = lvBcast;
    const QAbstractItemModel* model = lvBcast->model();
    for (int i = 0; i < kColumns; ++i) {
        const int px = lvBcast->columnWidth(i);
        const bool ours = m_widthTwips[i] == kColumnWidths[i] &&
                          (px == twips(m_widthTwips[i]) || px == m_fittedPx[i]);
        if (!ours)
            continue; // the user's width stays as set
        int need = std::max(twips(m_widthTwips[i]), header->sectionSizeHint(i));
        for (int row = first; row <= last; ++row)
            need = std::max(need, view->sizeHintForIndex(model->index(row, i)).width());
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
        QTreeWidgetItem* item = lvBcast->itemAt(mouse->position().toPoint());
        if (mouse->button() == Qt::RightButton) {
            // A row already among several selected keeps them all, so the
            // menu's "Download To..." reaches every one.
            if (!item || !item->isSelected() || lvBcast->selectedItems().size() < 2) {
                lvBcast->clearSelection();
                if (item) {
                    lvBcast->setCurrentItem(item);
                    item->setSelected(true);
                }
            }
            if (item)
                mnuItemContext->popup(mouse->globalPosition().toPoint());
            return true;
        }
        if (mouse->button() == Qt::LeftButton && !item)
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
        cancelDownloads();
        stopRefreshing();
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

// ---------------------------------------------------------------- the main window's check box

void toggleBcastListener(frmmain& main, bool ticked)
{
    frmBcastListener* existing = nullptr;
    for (auto* l : main.findChildren<frmBcastListener*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!l->isClosed())
            existing = l;
    }
    if (!ticked) {
        if (existing)
            existing->close();
        return;
    }
    if (existing)
        return;
    QPointer<frmBcastListener> listener = new frmBcastListener(main);
    if (listener->startBcastListener())
        return;
    if (!listener)
        return;
    const QString port = QString::number(listener->listenerPort());
    switch (listener->startFailure()) {
    case frmBcastListener::StartFailure::AnotherInstance:
        main.env().dialogs->message(
            MsgIcon::Information, QStringLiteral("Unable to Start Bcast Listener"),
            QStringLiteral("Another instance of Tk650Downloader is already listening for Bcasts.\r"
                           "Close that one first and then try again."),
            MsgButtons::Ok);
        break;
    case frmBcastListener::StartFailure::NotANumber:
        main.env().dialogs->message(
            MsgIcon::None, QString::fromLatin1(kProgramTitle),
            QStringLiteral("The Bcast Listener failed to start. The port box does not hold a "
                           "port number."),
            MsgButtons::Ok);
        break;
    default:
        main.env().dialogs->message(
            MsgIcon::None, QString::fromLatin1(kProgramTitle),
            QStringLiteral("The Bcast Listener failed to start. Verify that you are connected to "
                           "the internet and that UDP port ") +
                port + QStringLiteral(" is not already open."),
            MsgButtons::Ok);
        break;
    }
    if (listener)
        listener->close();
    const QSignalBlocker block(main.chkListener);
    main.chkListener->setChecked(false);
}

void wireBcastListener(frmmain& main)
{
    main.chkListener->setToolTip(QStringLiteral("Open Bcast Listener (ZRL18+)"));
    QObject::connect(main.chkListener, &QCheckBox::clicked, &main,
                     [&main](bool ticked) { toggleBcastListener(main, ticked); });
}

} // namespace tk

// The listener window's controls, their layout and their connections.
#include "listener/bcastreceiver.h"
#include "listener/probescheduler.h"
#include "ui/frmbcastlistener.h"
#include "ui/frmmain.h"
#include "ui/named.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTreeView>
#include <QUdpSocket>
#include <QVBoxLayout>
#include <algorithm>

namespace tk {

void frmBcastListener::buildUi()
{
    resize(twips(6480), twips(4380));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 0);

    m_table = new DeviceTable(this);
    lvBcast = named(new QTreeView(this), "lvBcast");
    lvBcast->setModel(m_table);
    lvBcast->setRootIsDecorated(false);
    lvBcast->setItemsExpandable(false);
    // Rows have their own heights: a two-line discretionary text shows whole
    // as soon as it arrives.
    lvBcast->setUniformRowHeights(false);
    // Several rows may be selected: "Download To..." then sends to all of them.
    lvBcast->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvBcast->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvBcast->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int i = 0; i < kColumns; ++i) {
        m_widthTwips[i] = DeviceTable::designWidth(i);
        lvBcast->setColumnWidth(i, twips(m_widthTwips[i]));
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
    cmdExport = named(new QPushButton(QStringLiteral("Export..."), frameButtons), "cmdExport");
    for (auto* b : {cmdRefresh, cmdClear, cmdRemoveDisconnected, cmdCancelDownloads, cmdExport})
        b->setMinimumSize(buttonSize.expandedTo(b->minimumSizeHint()));
    grid->addWidget(cmdRefresh, 0, 0);
    grid->addWidget(cmdCancelDownloads, 0, 1, Qt::AlignHCenter);
    grid->addWidget(cmdClear, 0, 2);
    grid->addWidget(chkSaveList, 1, 0);
    grid->addWidget(cmdExport, 1, 1, Qt::AlignHCenter);
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
    // Its text (progress, the summary) never sets the window's width: what
    // does not fit is cut, and the whole text is its tool tip.
    lblDownloads->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblDownloads->hide();
    sbBcast->addWidget(lblListenerState);
    sbBcast->addWidget(pbBcastRefresh, 1);
    sbBcast->addWidget(lblDownloads);
    sbBcast->addPermanentWidget(lblDeviceCount);
    layout->addWidget(sbBcast);
    setMinimumSize(twips(3600), twips(3000));

    connect(m_table, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { fitColumns(first, last); });
    connect(m_table, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                fitColumns(topLeft.row(), bottomRight.row());
            });
    connect(m_table, &QAbstractItemModel::headerDataChanged, this, [this] { fitColumns(0, -1); });
    connect(m_table, &DeviceTable::countChanged, this, &frmBcastListener::updateDeviceCount);
    fitColumns(0, -1);

    mnuItemContext = named(new QMenu(this), "mnuItemContext");
    mnuDownloadTo = mnuItemContext->addAction(QStringLiteral("Download To..."));
    mnuDownloadTo->setObjectName(QStringLiteral("mnuDownloadTo"));
    mnuRemove = mnuItemContext->addAction(QStringLiteral("Remove"));
    mnuRemove->setObjectName(QStringLiteral("mnuRemove"));
    mnuDetails = mnuItemContext->addAction(QStringLiteral("Details"));
    mnuDetails->setObjectName(QStringLiteral("mnuDetails"));

    UDPbcast = named(new QUdpSocket(this), "UDPbcast");
    m_receiver = new BcastReceiver(
        *UDPbcast,
        [this](const QString& address, const QByteArray& data) {
            addBcast(address, QString::fromLatin1(data));
        },
        this);

    m_probes = new ProbeScheduler(
        *m_table, [this] { return m_main.txtPort->text().trimmed().toUShort(); },
        [this](const QString& address) {
            // The main window's own connection to this terminal.
            const QTcpSocket* own = m_main.tcpClient;
            return own && own->state() == QAbstractSocket::ConnectedState &&
                   dottedAddress(own->peerAddress()) == address;
        },
        this);
    connect(m_probes, &ProbeScheduler::traced, &m_main, &frmmain::doDebug);
    connect(m_probes, &ProbeScheduler::refreshStarted, this, [this] {
        setListenerStatus(QStringLiteral("Refreshing"));
        cmdRefresh->setText(QStringLiteral("Refreshing.."));
        cmdRefresh->setEnabled(false);
    });
    connect(m_probes, &ProbeScheduler::refreshProgress, pbBcastRefresh, &QProgressBar::setValue);
    connect(m_probes, &ProbeScheduler::refreshEnded, this, [this] {
        pbBcastRefresh->setValue(0);
        setListenerStatus(QStringLiteral("Listening"));
        cmdRefresh->setText(QStringLiteral("Refresh"));
        cmdRefresh->setEnabled(true);
    });

    connect(cmdRefresh, &QPushButton::clicked, this, &frmBcastListener::refreshDevices);
    connect(cmdClear, &QPushButton::clicked, this, &frmBcastListener::clearList);
    connect(cmdRemoveDisconnected, &QPushButton::clicked, this,
            &frmBcastListener::clearDisconnected);
    connect(cmdCancelDownloads, &QPushButton::clicked, this, [this] { cancelDownloads(); });
    connect(cmdExport, &QPushButton::clicked, this, &frmBcastListener::exportDeviceList);
    connect(mnuDownloadTo, &QAction::triggered, this, &frmBcastListener::downloadToSelected);
    connect(mnuRemove, &QAction::triggered, this, &frmBcastListener::removeSelected);
    connect(mnuDetails, &QAction::triggered, this, &frmBcastListener::showDeviceDetails);
    connect(lvBcast, &QTreeView::doubleClicked, this, [this] { downloadToSelected(); });
    connect(lvBcast->header(), &QHeaderView::sectionClicked, this, &frmBcastListener::sortByColumn);

    // Keys anywhere in this window (Escape, Delete on the list, the console chords).
    qApp->installEventFilter(this);
}

} // namespace tk

#pragma once
// The broadcast listener: receives the terminals' UDP broadcasts, keeps one
// row per serial number, probes each terminal's daemon with "WHO:" to find
// out what it is doing, and hands a terminal's address to the main window.
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QLockFile>
#include <QSet>
#include <QString>
#include <QWidget>
#include <deque>
#include <memory>
#include <vector>

#include "core/bcastlist.h"

class QCheckBox;
class QLabel;
class QMenu;
class QAction;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTcpSocket;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QUdpSocket;

namespace tk {

class frmmain;
class FleetDownload;

// One row of the device table.
struct DeviceRow {
    QString serial;
    QString address;
    QString status;
    QString discretionary;
    QString lastBcast;
    QString record; // the whole last datagram or probe reply, one byte per character
};

class frmBcastListener : public QWidget {
    Q_OBJECT
public:
    // Creates the window (its load step: size, placement, columns), hidden.
    explicit frmBcastListener(frmmain& main);
    ~frmBcastListener() override;

    // Why the last start failed.
    enum class StartFailure { None, AnotherInstance, PortInUse, NotANumber };

    bool startBcastListener();
    StartFailure startFailure() const { return m_startFailure; }
    // The port box's number plus one; kNoPort when the box does not hold a number.
    int listenerPort() const;
    static constexpr int kNoPort = -100000;
    bool isListening() const;
    // The close sequence has run; the window is about to go.
    bool isClosed() const { return m_closed; }

    void addBcast(const QString& RemoteHostIP, const QString& msg);
    void refreshDevices();
    bool isRefreshing() const { return m_refreshing; }
    void setListenerStatus(const QString& text);
    void updateDeviceCount();
    void loadDeviceList();
    void saveDeviceList();
    // One selected row: its address to the main window. Several: after a
    // question, the main window's file to all of them (downloadToSeveral).
    void downloadToSelected();
    // True while a download to several terminals runs.
    bool isDownloading() const;
    // Stops that download (the Cancel button, Escape, closing).
    void cancelDownloads();
    void sortByColumn(int column);
    void showDeviceDetails();
    void removeSelected();
    void clearList();
    void clearDisconnected();
    // The Escape key: gives up the probe under way and ends a Refresh.
    void stopRefreshing();

    int rowCount() const;
    DeviceRow row(int displayIndex) const;
    // Display index of the row with this serial number, -1 if there is none.
    int rowOf(const QString& serial) const;
    // True while no probe runs or waits.
    bool probesIdle() const;
    // Probes under way (each on its own connection), at most kMaxProbes.
    int probesRunning() const;
    static constexpr int kMaxProbes = 32;
    // "WHO:" probes started since the window was created.
    int probesSent() const { return m_probesSent; }
    // Datagrams dropped unread: larger than any record, or the queue was full.
    qint64 datagramsDropped() const { return m_datagramsDropped; }

    bool stopRefresh = false;

    // --- controls (object names = control names)
    QTreeWidget* lvBcast = nullptr;
    QWidget* frameButtons = nullptr;
    QPushButton* cmdRefresh = nullptr;
    QPushButton* cmdClear = nullptr;
    QCheckBox* chkSaveList = nullptr;
    QPushButton* cmdRemoveDisconnected = nullptr;
    QPushButton* cmdCancelDownloads = nullptr; // shown while a download to several runs
    QStatusBar* sbBcast = nullptr;
    QLabel* lblListenerState = nullptr;     // status-bar panel 1
    QProgressBar* pbBcastRefresh = nullptr; // over panel 2
    QLabel* lblDeviceCount = nullptr;       // status-bar panel 3
    QLabel* lblDownloads = nullptr;         // a download to several: its count, then its summary
    QMenu* mnuItemContext = nullptr;
    QAction* mnuDownloadTo = nullptr;
    QAction* mnuRemove = nullptr;
    QAction* mnuDetails = nullptr;
    QUdpSocket* UDPbcast = nullptr;
    // The probe connections are sockets named "tcpClient", one per running probe.

    static constexpr int kColumns = 5;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    enum class ProbePhase { Idle, Connecting, AwaitingReply };
    // One probe slot: its own connection and its own 200 ms tick count.
    struct Probe {
        QTcpSocket* tcpClient = nullptr;
        QTimer* timer = nullptr;
        ProbePhase phase = ProbePhase::Idle;
        QString serial;
        QString address;
        int ticks = 0;
        bool whoReplied = false;
    };
    struct QueuedProbe {
        QString serial;
        bool byDatagram = false;
    };
    struct Datagram {
        QString address;
        QByteArray data;
    };

    void buildUi();
    void placeBesideMain();
    void closing();
    QTreeWidgetItem* itemFor(const QString& serial) const;
    QTreeWidgetItem* addRow(const QString& serial);
    void removeItem(QTreeWidgetItem* item);
    void setCell(QTreeWidgetItem* item, int column, const QString& text);
    void keepSorted();
    QString nowText() const;

    void drainDatagrams();
    void processDatagrams();

    void queueProbe(const QString& serial, bool byDatagram);
    void startNextProbe();
    Probe* freeProbe();
    bool isProbing(const QString& serial) const;
    void onProbeConnected(Probe& probe);
    void onProbeData(Probe& probe);
    void onProbeGone(Probe& probe);
    void onProbeTick(Probe& probe);
    void finishProbe(Probe& probe, const QString& status);
    void giveUpProbe(Probe& probe);
    void handleProbeReply(Probe& probe, const QByteArray& bytes);
    void probeCounted(const QString& serial);
    void endRefresh();

    void downloadToSeveral();
    void setRowStatus(const QString& serial, const QString& text);
    void downloadsFinished();
    void enablePruning(bool enabled);

    frmmain& m_main;
    StartFailure m_startFailure = StartFailure::None;
    std::unique_ptr<QLockFile> m_lock;
    bool m_closed = false;
    bool m_started = false;

    QHash<QString, QTreeWidgetItem*> m_rows;
    bcast::SortState m_sort;
    bool m_resortQueued = false;
    // Each column's width in twips as last set, so unchanged widths are
    // stored exactly as they were read.
    int m_widthTwips[kColumns] = {};
    // A column left at its design width follows its contents (header and
    // cells), never narrower than the design: the width in pixels it was
    // given that way (0: none), stored as the design width.
    int m_fittedPx[kColumns] = {};
    // Widens such columns for the header and the cells of rows first..last
    // (none when last < first): only what changed is measured.
    void fitColumns(int first, int last);

    std::deque<Datagram> m_datagrams;
    qsizetype m_queuedBytes = 0;
    qint64 m_datagramsDropped = 0;
    QTimer* m_datagramTimer = nullptr;

    std::deque<QueuedProbe> m_probeQueue;
    QSet<QString> m_queued;
    std::vector<std::unique_ptr<Probe>> m_probes; // created as needed, kMaxProbes at most
    bool m_nextProbeQueued = false;
    int m_probesSent = 0;

    bool m_refreshing = false;
    QSet<QString> m_refreshPending;
    int m_refreshDone = 0;
    QTimer* m_refreshEndTimer = nullptr;

    FleetDownload* m_fleet = nullptr;
    // Rows whose status a download to several owns: from its start until the
    // next Refresh, no probe overwrites it (nor connects to the terminal).
    QSet<QString> m_held;
};

// The main window's "Bcast Listener" check box: opens or closes the listener.
void toggleBcastListener(frmmain& main, bool ticked);
// Connects the check box to the above.
void wireBcastListener(frmmain& main);

} // namespace tk

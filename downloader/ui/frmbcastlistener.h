#pragma once
// The broadcast listener window: shows the device table (listener/), lets the
// user prune it, refresh it and look into a row, hands a terminal's address
// to the main window, and runs a download to several rows.
#include <QString>
#include <QStringList>
#include <QWidget>

#include "listener/devicetable.h"

class QCheckBox;
class QLabel;
class QMenu;
class QAction;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTreeView;
class QUdpSocket;

namespace tk {

class frmmain;
class FleetDownload;
class ProbeScheduler;
class BcastReceiver;

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
    bool isRefreshing() const;
    void setListenerStatus(const QString& text);
    void updateDeviceCount();
    void loadDeviceList();
    void saveDeviceList();
    // One selected row: its address to the main window. Several: after a
    // question, the main window's file to all of them (downloadToSeveral).
    void downloadToSelected();
    // True while a download to several terminals runs.
    bool isDownloading() const;
    // Stops that download (the Cancel button, Escape, closing); while a
    // terminal installs, only after a question (when `ask`).
    bool cancelDownloads(bool ask = true);
    void sortByColumn(int column);
    // The row the context menu was opened on.
    void showDeviceDetails();
    // Every selected row, after a question that names them.
    void removeSelected();
    void clearList();
    void clearDisconnected();
    // Every row, in display order, to a JSON or CSV file the user names (the
    // format follows its ending: ".csv", else JSON), as tk650push --inventory
    // writes it.
    void exportDeviceList();
    // The Escape key: gives up the probe under way and ends a Refresh.
    void stopRefreshing();
    // Closing asks first while a terminal installs (the close box, the main
    // window's check box); otherwise it just closes.
    bool closeAsking();

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
    int probesSent() const;
    // Datagrams dropped unread: larger than any record, or the queue was full.
    qint64 datagramsDropped() const;
    DeviceTable& table() { return *m_table; }
    // Serial numbers of the selected rows, in display order.
    QStringList selectedSerials() const;

    // --- controls (object names = control names)
    QTreeView* lvBcast = nullptr;
    QWidget* frameButtons = nullptr;
    QPushButton* cmdRefresh = nullptr;
    QPushButton* cmdClear = nullptr;
    QCheckBox* chkSaveList = nullptr;
    QPushButton* cmdRemoveDisconnected = nullptr;
    QPushButton* cmdCancelDownloads = nullptr; // shown while a download to several runs
    QPushButton* cmdExport = nullptr;
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

    static constexpr int kColumns = DeviceTable::kColumns;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildUi();
    void placeBesideMain();
    void closing();
    QString nowText() const;
    // The row a command from the context menu is about: the current row (the
    // one right-clicked) while it is selected, else the first selected.
    int contextRow() const;

    void downloadToSeveral();
    void downloadsFinished();
    void enablePruning(bool enabled);

    frmmain& m_main;
    StartFailure m_startFailure = StartFailure::None;
    bool m_closed = false;
    bool m_started = false;

    DeviceTable* m_table = nullptr;
    ProbeScheduler* m_probes = nullptr;
    BcastReceiver* m_receiver = nullptr;
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

    FleetDownload* m_fleet = nullptr;
};

// The main window's "Bcast Listener" check box: opens or closes the listener.
void toggleBcastListener(frmmain& main, bool ticked);
// Connects the check box to the above.
void wireBcastListener(frmmain& main);

} // namespace tk

#pragma once
// The main window: start-up object, owner of the shared download state and
// of the exit path of the process. The network session and the serial
// download are their own classes; they reach the window through its public
// fields and output channels.
#include "core/cmdgrammar.h"
#include "platform/programenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

namespace tk {

class OneLineList;
class NetworkOptions;
class frmLog;
class frmDebug;
class frmUsage;
class NetworkDownload;
class SerialDownload;

class frmmain : public QWidget {
    Q_OBJECT
public:
    explicit frmmain(ProgramEnv env, QWidget* parent = nullptr);
    ~frmmain() override;

    // Start-up (the load handler). commandLine is the text after the program name.
    void load(const QString& commandLine);
    // The same arguments one by one, as the process received them, where the
    // system hands them over that way (not on Windows): the parsers take the
    // file from them whole, whatever characters its name holds.
    std::vector<std::string> commandArguments;
    // Set by start-up when the window must stay hidden (unattended run, help).
    bool stayHidden = false;

    // --- shared download state (public, names as used by every download part)
    std::int16_t port = 1;
    QString baud = QStringLiteral("115200");
    double timeout = 4;
    bool gotTimeout = false;
    bool retry = false;
    bool cancelled = false;
    bool doSend = false;
    QString pdtPath;
    bool commandLineMode = false;
    bool advancedShown = false;

    // The Send action of the network tab: a view of one download session
    // of the engine, which runs over tcpClient.
    std::unique_ptr<NetworkDownload> netDownload;

    // --- operations used by other windows and parts
    void doExitProcess(int exitCode);
    // Set once doExitProcess has run (where the process end is only recorded,
    // as in tests, nothing may report a second outcome).
    bool exitRequested = false;
    void resetAll();
    // Closes tcpClient when it is open and logs "Connection closed".
    void closeConnection();
    void status(const QString& update);
    void logMessage(const QString& text);
    void doDebug(const QString& msg, bool isReceived);
    // The same for bytes off the wire: turned into text only while the
    // console is shown.
    void doDebugBytes(const QByteArray& bytes, bool isReceived);
    // Writes s to standard output as 8-bit text, no line break; failures ignored.
    // No flow of the program calls it.
    void printOut(const QString& s);

    // Command-line parsers, one per mode; each gets the text after its switch.
    void parseSerialArgs(const QString& args);
    void parseNetworkArgs(const QString& args);
    void parseKsynArgs(const QString& args);
    // What the parsers read from the window before they change it.
    cli::StartValues commandLineStartValues() const;
    // The text each parser was last given (null when it was not called).
    QString serialArgsGiven, networkArgsGiven, ksynArgsGiven;

    // Initial folder of the two file dialogs (restored "lastDir"; empty = their own).
    QString fileDialogDir;

    // Serial tab: the port and baud choice, and the save button's action.
    void selectComPort(int number); // 1, 2 or 3..255
    void saveSerialChoice();

    // The "More" toggle of the network tab.
    bool moreExpanded() const { return m_moreExpanded; }
    void setMoreExpanded(bool expanded);

    const ProgramEnv& env() const { return m_env; }
    // The dialogs from now on (main() hands an interactive run the real ones
    // once start-up has shown it is one).
    void useDialogs(Dialogs* dialogs) { m_env.dialogs = dialogs; }
    frmLog* logWindow();                                  // created on first use
    frmDebug* debugWindow();                              // created on first use
    SerialDownload* serialDownload() { return m_serial; } // the serial tab's download

    // Download options of the network tab (file, type, permissions, owner).
    NetworkOptions* netOptions = nullptr;

    // --- destination addresses (frmmain_addresses.cpp)
    QString getDestinationIP() const; // empty when any address box is empty
    void saveRecentIP();              // the boxes' address goes in front of "lastIP"
    void loadRecentIPs();             // menu from "lastIP"; the most recent fills the boxes

    // --- About and Usage windows (frmmain_usage.cpp)
    void showAbout();        // modal; a click on lblQuillon
    void showUsage();        // help start: the Usage window instead of this one
    frmUsage* usageWindow(); // created on first use

    // --- controls (object names = control names)
    QLabel* lblQuillon = nullptr;
    QTabWidget* STab = nullptr;

    // Serial tab
    QLineEdit* txtfile = nullptr;
    QPushButton* cmdfile = nullptr;
    QPushButton* cmdDownload = nullptr;
    QPushButton* cmdExit = nullptr;
    QRadioButton* optCom1 = nullptr;
    QRadioButton* optCom2 = nullptr;
    QRadioButton* optComOther = nullptr;
    QComboBox* comboCom = nullptr;
    QRadioButton* b115200 = nullptr;
    QRadioButton* b19200 = nullptr;
    QRadioButton* b9600 = nullptr;
    QRadioButton* bOther = nullptr;
    QComboBox* comboBaud = nullptr;
    QPushButton* cmdSave = nullptr;
    QCheckBox* checkKeepOpen = nullptr;
    QCheckBox* checkSendKSYN = nullptr;
    QGroupBox* frameMode = nullptr;
    QCheckBox* checkSerialRestartDevice = nullptr;
    QCheckBox* checkSerialRestartApp = nullptr;
    QRadioButton* optSerialFull = nullptr;
    QRadioButton* optSerialPartial = nullptr;

    // Network tab
    std::array<QLineEdit*, 4> txtIP{};
    QLabel* lblSavedIP = nullptr;
    QMenu* mnuSavedIP = nullptr;
    std::array<QAction*, 5> mnuIP{};
    QLineEdit* txtfilen = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QFrame* Frame4 = nullptr;
    QLineEdit* txtPort = nullptr;
    QLabel* lblPort = nullptr;
    QRadioButton* optNetworkFull = nullptr;
    QRadioButton* optNetworkPartial = nullptr;
    QLabel* lblFullDLType = nullptr;
    QFrame* frameMore = nullptr;
    QCheckBox* chkSetRTC = nullptr;
    QCheckBox* chkKillApps = nullptr;
    QCheckBox* chkReboot = nullptr;
    QCheckBox* chkRunApp = nullptr;
    QLabel* cmdMore = nullptr;
    QLabel* lblMore = nullptr;
    QGroupBox* framePerms = nullptr;
    std::array<OneLineList*, 3> listNetP{};
    OneLineList* listNetO = nullptr;
    QFrame* frameBottom = nullptr;
    QPushButton* cmdSend = nullptr;
    QPushButton* cmdExitN = nullptr;
    QProgressBar* ProgBar = nullptr;
    QLabel* lblStatus = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lbletl = nullptr;
    QCheckBox* chkListener = nullptr;

    // Not visible
    QTcpSocket* tcpClient = nullptr;
    QTimer* tmrTimeout = nullptr;        // 20 ms ticks of the connect progress
    QTimer* tmrTime = nullptr;           // 1000 ms time-left label
    QTimer* tmrCmdSendNetwork = nullptr; // 200 ms command-line starter
    QTimer* tmrCmdSendSerial = nullptr;  // 200 ms command-line starter

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildUi();
    void wireSerialChoice();
    void wireWindow();
    // Start-up pieces (frmmain_startup.cpp).
    bool locateTool();
    bool promptForTool();
    void applySerialDefaults();
    bool applySavedSerialChoice();
    void runCommandLine(const QString& commandLine, bool unattended);
    // Window pieces (frmmain_window.cpp).
    void unload();
    void onTabChanged(int index);
    void revealAdvancedOptions();
    // The window's smallest size: what its controls need, the permissions
    // panel's width included while it is hidden.
    void fitMinimumSize();
    void openDebugConsole();
    void showLogWindow();
    QWidget* buildSerialTab();
    QWidget* buildNetworkTab();
    void setupAddressBoxes();
    void setupAboutLabel();

    QString textBeforeKey; // the edited address box's text before the current key

    ProgramEnv m_env;
    frmLog* m_log = nullptr;
    frmDebug* m_debug = nullptr;
    frmUsage* m_usage = nullptr;
    SerialDownload* m_serial = nullptr;
    bool m_moreExpanded = false;
    // What expanding "More" did, for collapsing to undo: the height added and
    // the move that kept the window on the screen, and where that left it.
    int m_moreGrowth = 0;
    QPoint m_moreShift;
    QPoint m_moreAt;
    bool m_unloading = false;
    int m_shownTab = 0;
};

// 15 twips = 1 pixel at 96 dpi.
constexpr int twips(int tw)
{
    return static_cast<int>((static_cast<long long>(tw) + 7) / 15);
}

} // namespace tk

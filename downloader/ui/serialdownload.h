#pragma once
#include <QLineEdit>
// The serial tab's download: checks the file and the COM port, optionally
// puts the terminal into download mode with the KSYN command (frmKSYN), then
// runs the maker's tool "pdt.exe" in the file's folder and waits for it.
// Lives on the window thread; reaches the main window through its public
// fields and controls.
#include "core/serialtool.h"
#include "platform/comports.h"
#include "platform/toolprocess.h"
#include "ui/frmtooloutput.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

namespace tk {

class frmmain;
class frmKSYN;
class frmPortErr;

class SerialDownload : public QObject {
    Q_OBJECT
public:
    explicit SerialDownload(frmmain& main);

    // The Send button of the serial tab (also the command line's one-shot
    // starter): the whole download, including Retry after a busy port.
    void cmdDownload_Click();

    // Created on first use; the command line's KSYN-only mode calls
    // ksynWindow()->setup(...) and ->doSend().
    frmKSYN* ksynWindow();
    frmPortErr* portErrWindow();
    // The tool's output window of interactive runs (not on Windows, where the
    // tool has its own console window); null until the first such run.
    frmToolOutput* toolOutputWindow() const { return m_toolOutput; }

    // Tests start a launcher of their own; null restores the real one.
    void setToolLauncher(ToolLauncher* launcher) { m_launcher = launcher; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void wireSerialTab();
    bool fileIsValid() const;
    void runTool(const QString& path);
    void cmdfile_Click();

    frmmain& m_w;
    // The serial file box, kept apart from the window: its events still arrive
    // while the window is being destroyed.
    QLineEdit* m_txtfile = nullptr;
    frmKSYN* m_ksyn = nullptr;
    frmPortErr* m_portErr = nullptr;
    QPointer<frmToolOutput> m_toolOutput;
    ToolLauncher* m_launcher = nullptr;
};

// How the tool is started for a call: its argument vector and its Windows
// argument text.
ToolCommand pdtToolCommand(const QString& pdtPath, const PdtInvocation& call);

// A COM port failure, reported once by its kind: shown, the port-in-use
// dialog or a message; unattended, the process ends with -7 (in use or
// missing) or -6 (anything else).
void reportPortFailure(frmmain& main, const PortOpenResult& failure, int port, bool shown);

} // namespace tk

// Start-up of the main window (its load handler): defaults, the serial tool,
// the saved serial choice, the command line, the last tab and folder.
#include "core/exitcodes.h"
#include "core/startup.h"
#include "platform/qsffile.h"
#include "ui/frmmain.h"
#include "ui/onelinelist.h"

#include <QDir>
#include <QFileInfo>

namespace tk {

namespace {

const QString kToolFile = QStringLiteral("pdt.exe");
const QString kToolPathFile = QStringLiteral("pdtpath.qsf");
const QString kSerialFile = QStringLiteral("savedsettings.qsf");

bool isExistingTool(const QString& path)
{
    return startup::isToolName(path.toStdString()) && QFileInfo(path).isFile();
}

} // namespace

void frmmain::load(const QString& commandLine)
{
    // Runs meant to be unattended (" -silent") must never stop at a question:
    // a missing tool is then left for the serial download to report with its
    // exit code. Without a display nobody could answer either, so start-up
    // goes on the same way and the command line (a KSYN alone, say) is still
    // carried out. Whether the run is unattended is the parsers' decision.
    const bool unattended = startup::isUnattended(commandLine.toStdString());
    const bool nobodyToAsk = unattended || !m_env.hasDisplay;
    stayHidden = false;

    doSend = false;
    advancedShown = false;
    commandLineMode = false;

    // Permissions 7-5-5, owner usr1.
    listNetP[0]->setTopIndex(0);
    listNetP[1]->setTopIndex(2);
    listNetP[2]->setTopIndex(2);
    listNetO->showEntry(QStringLiteral("usr1"));

    comboBaud->setCurrentIndex(0);
    loadRecentIPs();

    comboCom->clear();
    for (int n = 3; n <= 255; ++n)
        comboCom->addItem(QStringLiteral("COM%1").arg(n));
    comboCom->setCurrentIndex(0);

    if (!locateTool()) {
        if (nobodyToAsk) {
            pdtPath.clear(); // never start a tool that failed the name check
        } else if (!promptForTool()) {
            return;
        }
    }

    if (!applySavedSerialChoice() && !nobodyToAsk) {
        // The saved file exists but cannot be opened: defaults, and start-up ends.
        applySerialDefaults();
        return;
    }

    runCommandLine(commandLine, unattended);
}

// Step 7: the tool beside the program (or in the package's data folder) wins;
// else the path saved in "pdtpath.qsf".
bool frmmain::locateTool()
{
    const QString beside = m_env.shippedFile(kToolFile);
    if (QFileInfo(beside).isFile()) {
        pdtPath = QDir::toNativeSeparators(beside);
        return true;
    }
    const QString saved = m_env.settingsFileToRead(kToolPathFile);
    if (!QFileInfo::exists(saved))
        return false;
    const auto values = readQsfFile(saved, 1);
    if (!values)
        return false;
    pdtPath = values->value(0);
    return isExistingTool(pdtPath);
}

// Step 8: ask the user. Returns true only when start-up is to go on, which it
// never does after the prompt: the tool's path is saved, the serial defaults
// are set and start-up ends. Cancel ends the program.
bool frmmain::promptForTool()
{
    const auto answer = m_env.dialogs->message(
        MsgIcon::None, QStringLiteral("Could Not Find pdt.exe"),
        QStringLiteral("Unable to locate 'pdt.exe', press OK to manually locate"),
        MsgButtons::OkCancel);
    if (answer != MsgAnswer::Ok) {
        doExitProcess(0);
        return false;
    }
    FileDialogRequest request;
    request.title = QStringLiteral("Select pdt.exe");
    request.fileName = kToolFile;
    request.filter = QStringLiteral("pdt.exe (pdt.exe)");
    request.initialDir = fileDialogDir;
    for (;;) {
        const QString chosen = m_env.dialogs->openFile(request);
        if (chosen.isEmpty())
            break; // cancelled
        pdtPath = QDir::toNativeSeparators(chosen);
        if (isExistingTool(pdtPath)) {
            writeQsfFile(m_env.settingsFileToWrite(kToolPathFile), {pdtPath});
            break;
        }
        // The dialog opens again where it was left.
        request.fileName = chosen;
    }
    applySerialDefaults();
    return false;
}

void frmmain::applySerialDefaults()
{
    selectComPort(1);
    b115200->setChecked(true);
    checkKeepOpen->setChecked(false);
}

// Step 9. False when "savedsettings.qsf" exists but cannot be opened.
bool frmmain::applySavedSerialChoice()
{
    const QString path = m_env.settingsFileToRead(kSerialFile);
    if (!QFileInfo::exists(path)) {
        applySerialDefaults();
        return true;
    }
    const auto values = readQsfFile(path, 3);
    if (!values) {
        applySerialDefaults();
        return false;
    }
    selectComPort(startup::savedPort(values->value(0).toStdString()));
    const QString savedBaud = values->value(1);
    switch (startup::savedBaud(savedBaud.toStdString())) {
    case startup::BaudChoice::B115200: b115200->setChecked(true); break;
    case startup::BaudChoice::B19200: b19200->setChecked(true); break;
    case startup::BaudChoice::B9600: b9600->setChecked(true); break;
    case startup::BaudChoice::List: {
        const int entry = comboBaud->findText(savedBaud, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (entry >= 0) {
            comboBaud->setCurrentIndex(entry);
            bOther->setChecked(true);
            baud = comboBaud->itemText(entry);
        }
        break;
    }
    }
    checkKeepOpen->setChecked(false);
    return true;
}

// Steps 10 to 12.
void frmmain::runCommandLine(const QString& commandLine, bool unattended)
{
    const auto line = startup::classify(commandLine.toStdString());
    const QString args = QString::fromStdString(line.args);
    switch (line.mode) {
    case startup::Mode::Empty: {
        const QString lastTab = m_env.store->value(QStringLiteral("lastTab")).toString();
        bool isNumber = false;
        const int tab = lastTab.toInt(&isNumber);
        if (isNumber && tab >= 0 && tab < STab->count())
            STab->setCurrentIndex(tab);
        const QString lastDir = m_env.store->value(QStringLiteral("lastDir")).toString();
        if (!lastDir.isEmpty())
            fileDialogDir = lastDir;
        break;
    }
    case startup::Mode::Serial: parseSerialArgs(args); break;
    case startup::Mode::Network: parseNetworkArgs(args); break;
    case startup::Mode::Ksyn:
        stayHidden = true; // the KSYN window does the work and ends the program
        parseKsynArgs(args);
        break;
    case startup::Mode::Help:
        stayHidden = true;
        showUsage();
        return;
    case startup::Mode::Other: break;
    }
    // A run that has ended, or runs unattended, never shows its window.
    stayHidden = stayHidden || commandLineMode || exitRequested;
    if (exitRequested)
        return;
    if (commandLineMode && !tmrCmdSendNetwork->isActive() && !tmrCmdSendSerial->isActive()) {
        // "-silent" was taken, but the parser gave up before a download was
        // set going: nothing would ever end this hidden run.
        m_env.dialogs->message(MsgIcon::Critical, QString::fromLatin1(kProgramTitle),
                               QStringLiteral("Invalid command line, nothing was sent:\r\n") +
                                   commandLine);
        doExitProcess(exitcode::BadArgs);
        return;
    }
    if (unattended && !commandLineMode && !m_env.hasDisplay) {
        // " -silent" where no parser takes it (after an unknown mode, say):
        // the run would be an interactive one that nobody can see or close.
        m_env.dialogs->message(
            MsgIcon::Critical, QString::fromLatin1(kProgramTitle),
            QStringLiteral("-silent is taken only after -n FILE or -s FILE; nothing was "
                           "sent:\r\n") +
                commandLine);
        doExitProcess(exitcode::BadArgs);
        return;
    }
    if (isVisible())
        activateWindow();
}

} // namespace tk

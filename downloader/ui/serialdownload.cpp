#include "ui/serialdownload.h"

#include "core/downloadoptions.h"
#include "core/exitcodes.h"
#include "core/serialtool.h"
#include "platform/toolprocess.h"
#include "platform/wait.h"
#include "ui/filedrop.h"
#include "ui/frmksyn.h"
#include "ui/frmmain.h"
#include "ui/frmporterr.h"
#include "ui/frmtooloutput.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

namespace tk {

namespace {

const QString kSelectFilePrompt = QStringLiteral("Select File to Download");

} // namespace

void reportPortFailure(frmmain& main, const PortOpenResult& failure, int port, bool shown)
{
    if (!shown) {
        main.doExitProcess(failure.failure == PortFailure::Other ? exitcode::Failed
                                                                 : exitcode::PortBusy);
        return;
    }
    const QString title = QString::fromLatin1(kProgramTitle);
    switch (failure.failure) {
    case PortFailure::None: return;
    case PortFailure::InUse: main.serialDownload()->portErrWindow()->showFor(port); return;
    case PortFailure::Missing:
        main.env().dialogs->message(
            MsgIcon::Critical, title,
            QStringLiteral("The selected com port does not exist: COM%1").arg(port));
        return;
    case PortFailure::Other:
        main.env().dialogs->message(MsgIcon::Critical, title, failure.description);
        return;
    }
}

SerialDownload::SerialDownload(frmmain& main) : QObject(&main), m_w(main)
{
    wireSerialTab();
}

frmKSYN* SerialDownload::ksynWindow()
{
    if (!m_ksyn)
        m_ksyn = new frmKSYN(m_w);
    return m_ksyn;
}

frmPortErr* SerialDownload::portErrWindow()
{
    if (!m_portErr)
        m_portErr = new frmPortErr(m_w);
    return m_portErr;
}

bool SerialDownload::fileIsValid() const
{
    const QString path = m_w.txtfile->text();
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden();
}

void SerialDownload::cmdDownload_Click()
{
    const bool unattended = m_w.commandLineMode;
    // A busy port shows the port-in-use dialog; its Retry starts over.
    for (;;) {
        m_w.retry = false;
        m_w.cancelled = false;
        if (!fileIsValid()) {
            if (unattended) {
                m_w.doExitProcess(exitcode::NoFile);
                return;
            }
            m_w.env().dialogs->message(MsgIcon::Critical, QStringLiteral("Unable to Send"),
                                       QStringLiteral("Please Select A Valid File to Send"));
            m_w.txtfile->selectAll();
            m_w.txtfile->setFocus();
            return;
        }
        const PortOpenResult tested = testComPort(m_w.port);
        pumpPendingEvents();
        if (tested.ok())
            break;
        reportPortFailure(m_w, tested, m_w.port, !unattended);
        if (unattended || !m_w.retry)
            return;
    }
    runTool(QFileInfo(m_w.txtfile->text()).absoluteFilePath());
}

ToolCommand pdtToolCommand(const QString& pdtPath, const PdtInvocation& call)
{
    ToolCommand command;
    command.program = pdtPath;
    for (const std::string& arg : pdtArguments(call))
        command.arguments << QFile::decodeName(QByteArray::fromStdString(arg));
    command.nativeArguments = QFile::decodeName(QByteArray::fromStdString(pdtArgumentText(call)));
    return command;
}

void SerialDownload::runTool(const QString& path)
{
    const bool unattended = m_w.commandLineMode;
    const FolderAndName where = splitFolderAndName(QFile::encodeName(path).toStdString());

    m_w.cmdDownload->setEnabled(false);
    m_w.cmdExit->setText(QStringLiteral("Cancel"));

    if (m_w.checkSendKSYN->isChecked()) {
        frmKSYN* ksyn = ksynWindow();
        if (unattended) {
            ksyn->doSend();
            pumpEventsUntil([ksyn] { return !ksyn->waiting; });
        } else {
            ksyn->showModal();
        }
    }
    pumpPendingEvents();

    if (!m_w.cancelled) {
        PdtInvocation call;
        call.pdtPath = QFile::encodeName(m_w.pdtPath).toStdString();
        if (unattended)
            call.waitSeconds = m_w.timeout;
        call.port = m_w.port;
        call.baud = m_w.baud.toStdString();
        call.fileName = where.name;
        const ToolCommand command = pdtToolCommand(m_w.pdtPath, call);

        // Where the tool has no console window, an interactive run shows its
        // output in a window of ours; it closes with the tool unless
        // "Keep cmd Window Open" is ticked.
        ToolOutputSink output;
#ifndef Q_OS_WIN
        if (!unattended) {
            if (!m_toolOutput)
                m_toolOutput = new frmToolOutput(&m_w);
            m_toolOutput->begin(QFile::decodeName(QByteArray::fromStdString(pdtCommandLine(call))));
            m_toolOutput->show();
            output = [window = QPointer<frmToolOutput>(m_toolOutput)](const QByteArray& piece) {
                if (window)
                    window->appendOutput(piece);
            };
        }
#endif
        ToolLauncher& launcher = m_launcher ? *m_launcher : defaultToolLauncher();
        const int toolCode = ExecuteAndWait(
            launcher, command, QFile::decodeName(where.folder.c_str()), !unattended,
            [this] { return m_w.cancelled; }, output);
        if (m_toolOutput && !unattended && !m_w.checkKeepOpen->isChecked())
            m_toolOutput->close();
        if (unattended)
            m_w.doExitProcess(programExitCodeForTool(toolCode));
    }

    m_w.cmdDownload->setEnabled(true);
    m_w.cmdExit->setText(QStringLiteral("Exit"));
}

void SerialDownload::wireSerialTab()
{
    m_w.frameMode->setEnabled(m_w.checkSendKSYN->isChecked());
    connect(m_w.checkSendKSYN, &QCheckBox::toggled, m_w.frameMode, &QWidget::setEnabled);
    connect(m_w.checkSerialRestartApp, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_w.checkSerialRestartDevice->setChecked(false);
    });
    connect(m_w.checkSerialRestartDevice, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_w.checkSerialRestartApp->setChecked(false);
    });

    // Both tabs name the same file.
    connect(m_w.txtfile, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_w.txtfilen && m_w.txtfilen->text() != text)
            m_w.txtfilen->setText(text);
    });
    m_txtfile = m_w.txtfile;
    m_txtfile->installEventFilter(this);
    acceptFileDrops(m_w.txtfile, [this](const QString& path) { m_w.txtfile->setText(path); });
    connect(m_w.cmdfile, &QPushButton::clicked, this, &SerialDownload::cmdfile_Click);

    connect(m_w.cmdDownload, &QPushButton::clicked, this, &SerialDownload::cmdDownload_Click);
    connect(m_w.tmrCmdSendSerial, &QTimer::timeout, this, [this] {
        m_w.tmrCmdSendSerial->stop();
        cmdDownload_Click();
    });
}

void SerialDownload::cmdfile_Click()
{
    FileDialogRequest request;
    request.title = QString::fromLatin1(kSelectFileTitle);
    request.filter = QString::fromStdString(qtFileFilter(kSelectFileFilter));
    const QFileInfo current(m_w.txtfile->text());
    request.initialDir = m_w.fileDialogDir;
    if (!m_w.txtfile->text().isEmpty() && current.exists() && current.isFile()) {
        request.fileName = current.absoluteFilePath();
        request.initialDir = current.absolutePath();
    }
    const QString chosen = m_w.env().dialogs->openFile(request);
    if (chosen.isEmpty())
        return;
    m_w.txtfile->setText(chosen);
    m_w.cmdDownload->setFocus();
}

bool SerialDownload::eventFilter(QObject* watched, QEvent* event)
{
    // A click on the prompt text selects it, so typing replaces it; a double
    // click always selects everything. The selection is made once the box
    // has handled the click itself.
    if (watched == m_txtfile) {
        const bool selectAll =
            event->type() == QEvent::MouseButtonDblClick ||
            (event->type() == QEvent::MouseButtonRelease && m_txtfile->text() == kSelectFilePrompt);
        if (selectAll)
            QTimer::singleShot(0, m_txtfile, &QLineEdit::selectAll);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tk

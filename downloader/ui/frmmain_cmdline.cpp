// The command-line parsers of the three run modes. The grammar itself is a
// pure function in core (core/cmdgrammar.h); here its result is applied to the
// window's controls and fields, as a user would have set them.
#include "core/cmdgrammar.h"
#include "core/exitcodes.h"
#include "platform/longpath.h"
#include "ui/frmksyn.h"
#include "ui/frmmain.h"
#include "ui/networkoptions.h"
#include "ui/onelinelist.h"
#include "ui/serialdownload.h"

#include <QDir>
#include <QFileInfo>

namespace tk {

namespace {

cli::Environment grammarEnvironment(const std::vector<std::string>& arguments)
{
    cli::Environment env;
    env.arguments = arguments;
#ifdef Q_OS_WIN
    // The name as stored, not as typed: the system expands short 8.3 forms.
    env.lookup = [](const std::string& path) -> std::optional<std::string> {
        const auto stored = storedLongPath(QString::fromStdString(path).toStdWString());
        if (!stored)
            return std::nullopt;
        return QFileInfo(QString::fromStdWString(*stored)).fileName().toStdString();
    };
#else
    env.lookup = [](const std::string& path) -> std::optional<std::string> {
        const QFileInfo info(QString::fromStdString(path));
        if (!info.exists() && !info.isSymLink())
            return std::nullopt;
        return info.fileName().toStdString();
    };
#endif
    env.isFile = [](const std::string& path) {
        const QFileInfo info(QString::fromStdString(path));
        return info.isFile() && !info.isHidden();
    };
#ifndef Q_OS_WIN
    // Relative names are taken from the folder the program was started in.
    env.workingDir = QDir::currentPath().toStdString();
#endif
    return env;
}

} // namespace

cli::StartValues frmmain::commandLineStartValues() const
{
    cli::StartValues start;
    if (optCom2->isChecked())
        start.portText.assign(1, '2'); // "= \"2\"" draws a false -Wrestrict from GCC 12 at -O3
    else if (optComOther->isChecked())
        start.portText = std::to_string(comboCom->currentIndex() + 3);
    if (b19200->isChecked())
        start.baudText = "19200";
    else if (b9600->isChecked())
        start.baudText = "9600";
    else if (bOther->isChecked())
        start.baudText = comboBaud->currentText().toStdString();
    start.ownerHasRoot = listNetO->entries().contains(QStringLiteral("root"));
    return start;
}

void frmmain::parseNetworkArgs(const QString& args)
{
    networkArgsGiven = args.isNull() ? QStringLiteral("") : args;
    const QString raw = QStringLiteral("-n") + networkArgsGiven;
    const auto plan =
        cli::parse(cli::Mode::Network, networkArgsGiven.toStdString(), raw.toStdString(),
                   commandLineStartValues(), grammarEnvironment(commandArguments));
    if (plan.exitCode) {
        doExitProcess(*plan.exitCode);
        return;
    }
    if (plan.abandoned && plan.fileName.empty() && !plan.invalidFileMessage)
        return; // nothing was taken before the failure
    txtfile->setText(QString::fromStdString(plan.fileName));
    if (plan.invalidFileMessage)
        m_env.dialogs->message(MsgIcon::Critical, QString::fromLatin1(kProgramTitle),
                               QStringLiteral("Invalid input file in command line:\r\n") + raw);
    if (plan.setDefaultPermissions)
        netOptions->applyPresetFor(txtfilen->text());
    if (plan.ip)
        for (size_t i = 0; i < 4; ++i)
            txtIP[i]->setText(QString::fromStdString((*plan.ip)[i]));
    if (plan.networkFull)
        (*plan.networkFull ? optNetworkFull : optNetworkPartial)->setChecked(true);
    if (plan.kill)
        chkKillApps->setChecked(true);
    if (plan.run)
        chkRunApp->setChecked(true);
    if (plan.reboot)
        chkReboot->setChecked(true);
    for (size_t i = 0; i < 3; ++i)
        if (plan.permissions[i])
            listNetP[i]->showEntry(QString::fromStdString(*plan.permissions[i]));
    if (plan.owner)
        listNetO->showEntry(QString::fromStdString(*plan.owner));
    doSend = doSend || plan.doSend;
    commandLineMode = commandLineMode || plan.commandLineMode;
    if (plan.abandoned)
        return;

    STab->setCurrentIndex(1);
    if (commandLineMode) {
        stayHidden = true;
        hide();
    } else {
        show();
        cmdSend->setFocus();
    }
    if (doSend)
        tmrCmdSendNetwork->start();
}

void frmmain::parseSerialArgs(const QString& args)
{
    serialArgsGiven = args.isNull() ? QStringLiteral("") : args;
    const auto plan = cli::parse(cli::Mode::Serial, serialArgsGiven.toStdString(),
                                 ("-s" + serialArgsGiven).toStdString(), commandLineStartValues(),
                                 grammarEnvironment(commandArguments));
    txtfile->setText(QString::fromStdString(plan.fileName));
    if (plan.portButton) {
        switch (*plan.portButton) {
        case cli::PortButton::Com1: optCom1->setChecked(true); break;
        case cli::PortButton::Com2: optCom2->setChecked(true); break;
        case cli::PortButton::Other:
            comboCom->setCurrentIndex(plan.comboComIndex);
            optComOther->setChecked(true);
            break;
        }
    }
    if (plan.baudButton) {
        switch (*plan.baudButton) {
        case cli::BaudButton::B115200: b115200->setChecked(true); break;
        case cli::BaudButton::B19200: b19200->setChecked(true); break;
        case cli::BaudButton::B9600: b9600->setChecked(true); break;
        case cli::BaudButton::Other:
            comboBaud->setCurrentText(QString::fromStdString(plan.comboBaudText));
            bOther->setChecked(true);
            break;
        }
    }
    if (plan.ksyn)
        checkSendKSYN->setChecked(true);
    if (plan.serialFull)
        (*plan.serialFull ? optSerialFull : optSerialPartial)->setChecked(true);
    if (plan.restart) {
        checkSerialRestartApp->setChecked(*plan.restart == 1);
        checkSerialRestartDevice->setChecked(*plan.restart == 2);
    }
    doSend = doSend || plan.doSend;
    commandLineMode = commandLineMode || plan.commandLineMode;
    if (plan.exitCode) {
        doExitProcess(*plan.exitCode);
        return;
    }

    STab->setCurrentIndex(0);
    if (commandLineMode) {
        stayHidden = true;
        hide();
    } else {
        show();
        cmdDownload->setFocus();
    }
    port = static_cast<std::int16_t>(plan.port);
    baud = QString::fromStdString(plan.baud);
    timeout = plan.timeout;
    if (commandLineMode && checkSendKSYN->isChecked() &&
        !serialDownload()->ksynWindow()->setup(QString::fromStdString(plan.portText),
                                               QString::fromStdString(plan.baudText),
                                               QString::fromStdString(plan.timeoutText))) {
        doExitProcess(exitcode::BadArgs);
        return;
    }
    if (!cancelled && doSend)
        tmrCmdSendSerial->start();
}

void frmmain::parseKsynArgs(const QString& args)
{
    ksynArgsGiven = args.isNull() ? QStringLiteral("") : args;
    const auto plan = cli::parse(cli::Mode::Ksyn, ksynArgsGiven.toStdString(),
                                 ("-k" + ksynArgsGiven).toStdString(), commandLineStartValues(),
                                 grammarEnvironment(commandArguments));
    txtfile->setText(QString::fromStdString(plan.fileName));
    if (plan.serialFull)
        (*plan.serialFull ? optSerialFull : optSerialPartial)->setChecked(true);
    if (plan.restart) {
        checkSerialRestartApp->setChecked(*plan.restart == 1);
        checkSerialRestartDevice->setChecked(*plan.restart == 2);
    }
    if (plan.exitCode) {
        doExitProcess(*plan.exitCode);
        return;
    }
    stayHidden = true;
    hide();
    auto* ksyn = serialDownload()->ksynWindow();
    if (!ksyn->setup(QString::fromStdString(plan.portText), QString::fromStdString(plan.baudText),
                     QString::fromStdString(plan.timeoutText))) {
        doExitProcess(exitcode::BadArgs);
        return;
    }
    ksyn->doSend();
}

} // namespace tk

// The main window's "Bcast Listener" check box: opens the listener window,
// tells why it could not start, and closes it again.
#include "ui/frmbcastlistener.h"
#include "ui/frmmain.h"

#include <QCheckBox>
#include <QPointer>

namespace tk {

void toggleBcastListener(frmmain& main, bool ticked)
{
    frmBcastListener* existing = nullptr;
    for (auto* l : main.findChildren<frmBcastListener*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!l->isClosed())
            existing = l;
    }
    if (!ticked) {
        // Terminals still installing: the box stays ticked unless the user
        // chooses to stop them.
        if (existing && !existing->closeAsking()) {
            const QSignalBlocker block(main.chkListener);
            main.chkListener->setChecked(true);
        }
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

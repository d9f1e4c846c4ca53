#include "ui/frmporterr.h"

#include "platform/dialogs.h"

#include "ui/frmmain.h"
#include "ui/modalwindow.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tk {

frmPortErr::frmPortErr(frmmain& main) : QWidget(&main, Qt::Dialog), m_main(main)
{
    setObjectName(QStringLiteral("frmPortErr"));
    setWindowTitle(QStringLiteral("Serial Download Failed"));
    auto* layout = new QVBoxLayout(this);
    lblMessage =
        new QLabel(QStringLiteral("Please close any open serial connections, then click Retry."));
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblPort = new QLabel;
    lblPort->setObjectName(QStringLiteral("lblPort"));
    cmdRetry = new QPushButton(QStringLiteral("Retry"));
    cmdRetry->setObjectName(QStringLiteral("cmdRetry"));
    cmdCancel = new QPushButton(QStringLiteral("Cancel"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    layout->addWidget(lblMessage);
    layout->addWidget(lblPort);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdRetry);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);
    makeFixedSizeWindow(this, lblMessage);

    connect(cmdRetry, &QPushButton::clicked, this, [this] {
        m_main.retry = true;
        hide();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::hide);
}

void frmPortErr::showFor(int port)
{
    lblPort->setText(QStringLiteral("COM%1 is already open.").arg(port));
    if (!m_main.env().hasDisplay) {
        // Nobody could press Retry: say what is wrong and go on as after
        // Cancel.
        m_main.env().dialogs->message(MsgIcon::Critical, windowTitle(),
                                      lblMessage->text() + QLatin1Char('\r') + lblPort->text());
        return;
    }
    cmdRetry->setDefault(true);
    showModalAndWait(this);
}

} // namespace tk

// Construction of the main window's controls: names, captions, tips and
// initial states. Behaviour lives in the other frmmain_*.cpp files and in the
// session classes.
#include "ui/frmmain.h"
#include "ui/named.h"
#include "ui/onelinelist.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tk {

void frmmain::buildUi()
{
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(QStringLiteral("Tk650 Downloader"));

    auto* outer = new QVBoxLayout(this);
    // The window's height is set by the "More" step, not clamped by the layout;
    // fitMinimumSize keeps its smallest size.
    outer->setSizeConstraint(QLayout::SetNoConstraint);
    lblQuillon = named(new QLabel(QStringLiteral("Quillon"), this), "lblQuillon");
    lblQuillon->setToolTip(QStringLiteral("About"));
    lblQuillon->setCursor(Qt::PointingHandCursor);
    outer->addWidget(lblQuillon);

    STab = named(new QTabWidget(this), "STab");
    STab->addTab(buildSerialTab(), QStringLiteral("Serial"));
    STab->addTab(buildNetworkTab(), QStringLiteral("Network"));
    outer->addWidget(STab);

    // Option buttons and check boxes are as wide as their captions: a click
    // beside a caption, in the frame's spare room, is not taken as theirs.
    for (QAbstractButton* b : findChildren<QAbstractButton*>()) {
        if (qobject_cast<QRadioButton*>(b) || qobject_cast<QCheckBox*>(b))
            b->setSizePolicy(QSizePolicy::Maximum, b->sizePolicy().verticalPolicy());
    }

    tcpClient = named(new QTcpSocket(this), "tcpClient");
    auto timer = [this](const char* name, int ms) {
        auto* t = named(new QTimer(this), name);
        t->setInterval(ms);
        return t;
    };
    tmrTimeout = timer("tmrTimeout", 20);
    tmrTime = timer("tmrTime", 1000);
    tmrCmdSendNetwork = timer("tmrCmdSendNetwork", 200);
    tmrCmdSendSerial = timer("tmrCmdSendSerial", 200);
}

QWidget* frmmain::buildSerialTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tabSerial"));
    auto* grid = new QGridLayout(tab);

    txtfile = named(new QLineEdit(QStringLiteral("Select File to Download"), tab), "txtfile");
    cmdfile = named(new QPushButton(QStringLiteral("Browse"), tab), "cmdfile");
    grid->addWidget(txtfile, 0, 0, 1, 2);
    grid->addWidget(cmdfile, 0, 2);

    auto* comFrame = named(new QGroupBox(QStringLiteral("Com Port"), tab), "frameCom");
    auto* comLayout = new QVBoxLayout(comFrame);
    optCom1 = named(new QRadioButton(QStringLiteral("COM1"), comFrame), "optCom1");
    optCom2 = named(new QRadioButton(QStringLiteral("COM2"), comFrame), "optCom2");
    optComOther = named(new QRadioButton(QStringLiteral("COM3"), comFrame), "optComOther");
    comboCom = named(new QComboBox(comFrame), "comboCom");
    auto* otherRow = new QHBoxLayout;
    otherRow->addWidget(optComOther);
    otherRow->addWidget(comboCom, 1);
    comLayout->addWidget(optCom1);
    comLayout->addWidget(optCom2);
    comLayout->addLayout(otherRow);
    grid->addWidget(comFrame, 1, 0);

    auto* baudFrame = named(new QGroupBox(QStringLiteral("Baud Rate"), tab), "frameBaud");
    auto* baudLayout = new QVBoxLayout(baudFrame);
    b115200 = named(new QRadioButton(QStringLiteral("115200"), baudFrame), "b115200");
    b19200 = named(new QRadioButton(QStringLiteral("19200"), baudFrame), "b19200");
    b9600 = named(new QRadioButton(QStringLiteral("9600"), baudFrame), "b9600");
    bOther = named(new QRadioButton(baudFrame), "bOther");
    comboBaud = named(new QComboBox(baudFrame), "comboBaud");
    comboBaud->addItems(
        {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"});
    auto* baudOtherRow = new QHBoxLayout;
    baudOtherRow->addWidget(bOther);
    baudOtherRow->addWidget(comboBaud, 1);
    baudLayout->addWidget(b115200);
    baudLayout->addWidget(b19200);
    baudLayout->addWidget(b9600);
    baudLayout->addLayout(baudOtherRow);
    grid->addWidget(baudFrame, 1, 1);

    auto* side = new QVBoxLayout;
    cmdSave = named(new QPushButton(QStringLiteral("save"), tab), "cmdSave");
    cmdSave->setToolTip(QStringLiteral("Save Com & Baud Settings"));
    checkKeepOpen =
        named(new QCheckBox(QStringLiteral("Keep cmd Window Open"), tab), "checkKeepOpen");
    checkSendKSYN = named(new QCheckBox(QStringLiteral("Send KSYN Command"), tab), "checkSendKSYN");
    side->addWidget(cmdSave);
    side->addWidget(checkKeepOpen);
    side->addWidget(checkSendKSYN);
    side->addStretch();
    grid->addLayout(side, 1, 2);

    frameMode = named(new QGroupBox(tab), "frameMode");
    auto* modeLayout = new QGridLayout(frameMode);
    checkSerialRestartDevice = named(new QCheckBox(QStringLiteral("Restart Device"), frameMode),
                                     "checkSerialRestartDevice");
    checkSerialRestartApp = named(new QCheckBox(QStringLiteral("Restart Application"), frameMode),
                                  "checkSerialRestartApp");
    optSerialFull = named(new QRadioButton(QStringLiteral("Full"), frameMode), "optSerialFull");
    optSerialFull->setToolTip(QStringLiteral("Cleans /home/usr1/* and environment variables"));
    optSerialPartial =
        named(new QRadioButton(QStringLiteral("Partial"), frameMode), "optSerialPartial");
    modeLayout->addWidget(checkSerialRestartDevice, 0, 0);
    modeLayout->addWidget(checkSerialRestartApp, 1, 0);
    modeLayout->addWidget(optSerialFull, 0, 1);
    modeLayout->addWidget(optSerialPartial, 1, 1);
    optSerialPartial->setChecked(true);
    grid->addWidget(frameMode, 2, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    cmdDownload = named(new QPushButton(QStringLiteral("Send"), tab), "cmdDownload");
    cmdExit = named(new QPushButton(QStringLiteral("Exit"), tab), "cmdExit");
    buttons->addStretch();
    buttons->addWidget(cmdDownload);
    buttons->addWidget(cmdExit);
    grid->addLayout(buttons, 3, 0, 1, 3);
    return tab;
}

QWidget* frmmain::buildNetworkTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tabNetwork"));
    auto* column = new QVBoxLayout(tab);

    auto* ipRow = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        auto* box = new QLineEdit(tab);
        box->setObjectName(QStringLiteral("txtIP_%1").arg(i));
        box->setMaxLength(3);
        box->setMaximumWidth(48);
        txtIP[static_cast<size_t>(i)] = box;
        ipRow->addWidget(box);
        if (i < 3)
            ipRow->addWidget(new QLabel(QStringLiteral("."), tab));
    }
    lblSavedIP = named(new QLabel(QStringLiteral("Recent IP's"), tab), "lblSavedIP");
    lblSavedIP->setCursor(Qt::PointingHandCursor);
    ipRow->addWidget(lblSavedIP);
    ipRow->addStretch();
    column->addLayout(ipRow);

    mnuSavedIP = named(new QMenu(QStringLiteral("Saved IP"), this), "mnuSavedIP");
    for (int i = 0; i < 5; ++i) {
        auto* a = mnuSavedIP->addAction(QString());
        a->setObjectName(QStringLiteral("mnuIP_%1").arg(i));
        a->setVisible(false);
        mnuIP[static_cast<size_t>(i)] = a;
    }

    auto* fileRow = new QHBoxLayout;
    txtfilen = named(new QLineEdit(tab), "txtfilen");
    cmdBrowse = named(new QPushButton(QStringLiteral("Browse"), tab), "cmdBrowse");
    fileRow->addWidget(txtfilen, 1);
    fileRow->addWidget(cmdBrowse);
    column->addLayout(fileRow);

    auto* optionsRow = new QHBoxLayout;
    Frame4 = named(new QFrame(tab), "Frame4");
    auto* portRow = new QHBoxLayout(Frame4);
    portRow->setContentsMargins(0, 0, 0, 0);
    lblPort = named(new QLabel(QStringLiteral("Port:"), Frame4), "lblPort");
    txtPort = named(new QLineEdit(QStringLiteral("5142"), Frame4), "txtPort");
    txtPort->setMaximumWidth(60);
    portRow->addWidget(lblPort);
    portRow->addWidget(txtPort);
    lblPort->hide();
    txtPort->hide();
    Frame4->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    optionsRow->addWidget(Frame4);

    auto* typeBox = named(new QFrame(tab), "frameType");
    auto* typeRow = new QHBoxLayout(typeBox);
    typeRow->setContentsMargins(0, 0, 0, 0);
    optNetworkFull = named(new QRadioButton(QStringLiteral("Full"), typeBox), "optNetworkFull");
    optNetworkFull->setToolTip(QStringLiteral("Cleans /home/usr1/* and environment variables"));
    optNetworkPartial =
        named(new QRadioButton(QStringLiteral("Partial"), typeBox), "optNetworkPartial");
    optNetworkPartial->setChecked(true);
    lblFullDLType =
        named(new QLabel(QStringLiteral("ZRL16 SP4 or later"), typeBox), "lblFullDLType");
    lblFullDLType->hide();
    typeRow->addWidget(optNetworkFull);
    typeRow->addWidget(optNetworkPartial);
    typeRow->addWidget(lblFullDLType);
    typeBox->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    optionsRow->addWidget(typeBox);
    optionsRow->addStretch();
    column->addLayout(optionsRow);

    frameMore = named(new QFrame(tab), "frameMore");
    auto* moreRow = new QHBoxLayout(frameMore);
    moreRow->setContentsMargins(0, 0, 0, 0);
    auto* framePre =
        named(new QGroupBox(QStringLiteral("Pre-Download"), frameMore), "framePreDownload");
    auto* preColumn = new QVBoxLayout(framePre);
    chkSetRTC = named(new QCheckBox(QStringLiteral("Set Time/Date"), framePre), "chkSetRTC");
    chkSetRTC->setToolTip(
        QStringLiteral("Set the Time / Date on target device to that of your computer"));
    chkKillApps =
        named(new QCheckBox(QStringLiteral("Kill Running Apps"), framePre), "chkKillApps");
    chkKillApps->setToolTip(
        QStringLiteral("Terminates any running 'usr' applications on target device"));
    preColumn->addWidget(chkSetRTC);
    preColumn->addWidget(chkKillApps);
    auto* framePost =
        named(new QGroupBox(QStringLiteral("Post-Download"), frameMore), "framePostDownload");
    auto* postColumn = new QVBoxLayout(framePost);
    chkReboot = named(new QCheckBox(QStringLiteral("Reboot Tk650"), framePost), "chkReboot");
    chkReboot->setToolTip(QStringLiteral("Reboots target device"));
    chkRunApp = named(new QCheckBox(QStringLiteral("Execute App (*go)"), framePost), "chkRunApp");
    chkRunApp->setToolTip(QStringLiteral("Launches *go application on target device"));
    postColumn->addWidget(chkReboot);
    postColumn->addWidget(chkRunApp);
    // " + " is a label used as a button: it looks like one (raised when
    // collapsed, sunken when expanded) and keeps its size.
    cmdMore = named(new QLabel(QStringLiteral(" + "), frameMore), "cmdMore");
    cmdMore->setFrameShape(QFrame::Panel);
    cmdMore->setFrameShadow(QFrame::Raised);
    cmdMore->setLineWidth(2);
    cmdMore->setAlignment(Qt::AlignCenter);
    cmdMore->setMargin(3);
    cmdMore->setBackgroundRole(QPalette::Button);
    cmdMore->setForegroundRole(QPalette::ButtonText);
    cmdMore->setAutoFillBackground(true);
    cmdMore->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    cmdMore->setCursor(Qt::PointingHandCursor);
    // Reached by Tab like a button and worked by Space or Enter; it shows the
    // focus by its highlight (eventFilter).
    cmdMore->setFocusPolicy(Qt::StrongFocus);
    lblMore = named(new QLabel(QStringLiteral("More"), frameMore), "lblMore");
    moreRow->addWidget(framePre);
    moreRow->addWidget(framePost);
    moreRow->addWidget(cmdMore, 0, Qt::AlignTop);
    moreRow->addWidget(lblMore, 0, Qt::AlignTop);
    moreRow->addStretch();
    column->addWidget(frameMore);

    // The permissions panel takes exactly the 700 twips that "More" adds, so it
    // is one row: heading, the three digit lists with their labels, the owner.
    framePerms = named(new QGroupBox(tab), "framePerms");
    framePerms->setFixedHeight(twips(700));
    auto* permRow = new QHBoxLayout(framePerms);
    permRow->setContentsMargins(6, 2, 6, 2);
    permRow->addWidget(new QLabel(QStringLiteral("Permissions:"), framePerms));
    const char* heads[] = {"Owner", "Group", "Others"};
    const char* tips[] = {"rw-", "r--", "r--"};
    const QStringList digitsOwner{"7", "6", "5", "4"};
    const QStringList digitsAll{"7", "6", "5", "4", "3", "2", "1", "0"};
    for (int i = 0; i < 3; ++i) {
        permRow->addWidget(new QLabel(QString::fromLatin1(heads[i]), framePerms));
        auto* list = new OneLineList(i == 0 ? digitsOwner : digitsAll, framePerms);
        list->setObjectName(QStringLiteral("listNetP_%1").arg(i));
        list->setToolTip(QString::fromLatin1(tips[i]));
        listNetP[static_cast<size_t>(i)] = list;
        permRow->addWidget(list);
    }
    permRow->addWidget(new QLabel(QStringLiteral("Owner:"), framePerms));
    listNetO = new OneLineList({"usr8", "usr7", "usr6", "usr5", "usr4", "usr3", "usr2", "usr1"},
                               framePerms);
    listNetO->setObjectName(QStringLiteral("listNetO"));
    listNetO->setToolTip(QStringLiteral("Sets the owner of the downloaded files on the target "
                                        "device if Network Downloader not started by a user"));
    permRow->addWidget(listNetO);
    permRow->addStretch();
    framePerms->hide();

    frameBottom = named(new QFrame(tab), "frameBottom");
    // frameBottom sits right under the permissions panel, so "More" moves it
    // down by the panel's height and nothing else.
    auto* lower = new QVBoxLayout;
    lower->setSpacing(0);
    lower->addWidget(framePerms);
    lower->addWidget(frameBottom);
    column->addLayout(lower);
    auto* bottom = new QVBoxLayout(frameBottom);
    bottom->setContentsMargins(0, 0, 0, 0);
    ProgBar = named(new QProgressBar(frameBottom), "ProgBar");
    ProgBar->setRange(0, 100);
    ProgBar->setValue(0);
    // No "0%" while idle: the percentage shows once bytes have gone.
    ProgBar->setTextVisible(false);
    connect(ProgBar, &QProgressBar::valueChanged, ProgBar,
            [bar = ProgBar](int value) { bar->setTextVisible(value > 0); });
    lblStatus = named(new QLabel(QStringLiteral("Disconnected"), frameBottom), "lblStatus");
    lbletl = named(new QLabel(QStringLiteral("Estimated Time Left:"), frameBottom), "lbletl");
    lblTime = named(new QLabel(frameBottom), "lblTime");
    lblTime->setMinimumWidth(lblTime->fontMetrics().horizontalAdvance(QStringLiteral("99999 s")));
    // The time-left labels keep their room while hidden, so nothing moves when
    // they appear.
    for (QLabel* l : {lbletl, lblTime}) {
        QSizePolicy policy = l->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        l->setSizePolicy(policy);
        l->hide();
    }
    chkListener =
        named(new QCheckBox(QStringLiteral("Bcast Listener"), frameBottom), "chkListener");
    cmdSend = named(new QPushButton(QStringLiteral("Send"), frameBottom), "cmdSend");
    cmdExitN = named(new QPushButton(QStringLiteral("Exit"), frameBottom), "cmdExitN");
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(lblStatus, 1);
    statusRow->addWidget(lbletl);
    statusRow->addWidget(lblTime);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(chkListener);
    buttonRow->addStretch();
    buttonRow->addWidget(cmdSend);
    buttonRow->addWidget(cmdExitN);
    bottom->addWidget(ProgBar);
    bottom->addLayout(statusRow);
    bottom->addLayout(buttonRow);
    column->addStretch();
    return tab;
}

} // namespace tk

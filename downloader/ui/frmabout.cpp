#include "ui/frmabout.h"

#include "core/version.h"
#include "platform/dialogs.h"
#include "platform/programenv.h"
#include "ui/named.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace tk {

namespace {

// The maker's mark: a framed "Q", drawn so no image file has to ship.
QPixmap logo()
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 70, 140), 3));
    p.setBrush(QColor(225, 235, 248));
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 8, 8);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(28);
    p.setFont(font);
    p.drawText(QRect(0, 0, 48, 48), Qt::AlignCenter, QStringLiteral("Q"));
    return pixmap;
}

} // namespace

QString versionText()
{
    return QStringLiteral("Version %1.%2.%3 %4")
        .arg(kVersionMajor)
        .arg(kVersionMinor)
        .arg(kVersionRevision)
        .arg(QString::fromUtf8(kVersionComments));
}

frmAbout::frmAbout(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmAbout"));
    setModal(true);
    const QString title = QString::fromLatin1(kProgramTitle);
    setWindowTitle(QStringLiteral("About ") + title);

    auto label = [this](const char* name, const QString& text) {
        auto* l = named(new QLabel(text, this), name);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    imgLogo = label("imgLogo", QString());
    imgLogo->setPixmap(logo());
    lblTitle = label("lblTitle", title);
    QFont big = lblTitle->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    lblTitle->setFont(big);
    lblVersion = label("lblVersion", versionText());
    lblMaker = label("lblMaker", QStringLiteral("Quillon Inc"));
    lblDisclaimer = label("lblDisclaimer",
                          QStringLiteral("The Tk650 Downloader provides serial and ethernet file "
                                         "transfer support for Quillon's Tk650 series units."));
    lblDisclaimer->setWordWrap(true);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(imgLogo, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(lblTitle, 0, 1);
    grid->addWidget(lblVersion, 1, 1);
    grid->addWidget(lblMaker, 2, 1);
    grid->addWidget(lblDisclaimer, 3, 0, 1, 2);
    grid->addWidget(cmdOK, 4, 1, Qt::AlignRight);
    lblDisclaimer->setMinimumWidth(lblDisclaimer->fontMetrics().averageCharWidth() * 50);
    makeFixedSizeWindow(this, lblDisclaimer);
}

} // namespace tk

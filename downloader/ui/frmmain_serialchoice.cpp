// The serial tab's port and baud choice (kept in `port` and `baud`) and the
// save button that stores it in "savedsettings.qsf".
#include "platform/qsffile.h"
#include "ui/frmmain.h"

#include <QDir>

namespace tk {

void frmmain::wireSerialChoice()
{
    // Selecting a button, by a click or from code, takes its value at once.
    connect(optCom1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            port = 1;
    });
    connect(optCom2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            port = 2;
    });
    connect(optComOther, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            port = static_cast<std::int16_t>(comboCom->currentIndex() + 3);
    });
    connect(comboCom, &QComboBox::activated, this, [this](int index) {
        if (optComOther->isChecked())
            port = static_cast<std::int16_t>(index + 3);
        else
            optComOther->setChecked(true);
    });

    const std::pair<QRadioButton*, const char*> rates[] = {
        {b115200, "115200"}, {b19200, "19200"}, {b9600, "9600"}};
    for (const auto& [button, rate] : rates) {
        connect(button, &QRadioButton::toggled, this, [this, rate](bool on) {
            if (on)
                baud = QString::fromLatin1(rate);
        });
    }
    connect(bOther, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            baud = comboBaud->currentText();
    });
    connect(comboBaud, &QComboBox::activated, this, [this](int) {
        bOther->setChecked(true);
        baud = comboBaud->currentText();
    });

    connect(cmdSave, &QPushButton::clicked, this, &frmmain::saveSerialChoice);
}

void frmmain::selectComPort(int number)
{
    if (number == 1) {
        optCom1->setChecked(true);
    } else if (number == 2) {
        optCom2->setChecked(true);
    } else {
        comboCom->setCurrentIndex(number - 3);
        optComOther->setChecked(true);
    }
    port = static_cast<std::int16_t>(number);
}

void frmmain::saveSerialChoice()
{
    QStringList lines;
    if (optCom1->isChecked())
        lines << QStringLiteral("COM1");
    else if (optCom2->isChecked())
        lines << QStringLiteral("COM2");
    else if (optComOther->isChecked())
        lines << comboCom->currentText();
    lines << baud
          << (checkKeepOpen->isChecked() ? QStringLiteral("open") : QStringLiteral("close"));
    // A failed save is not reported; the previous file then stays as it was.
    writeQsfFile(m_env.settingsFileToWrite(QStringLiteral("savedsettings.qsf")), lines);
    txtfile->setFocus();
}

} // namespace tk

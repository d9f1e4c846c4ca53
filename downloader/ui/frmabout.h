#pragma once
// The About window: program title, version and what the program is for.
#include <QDialog>

class QLabel;
class QPushButton;

namespace tk {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* owner);

    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblMaker = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QPushButton* cmdOK = nullptr;
};

// "Version " + major.minor.revision + " " + the release comments.
QString versionText();

} // namespace tk

#pragma once
// "Serial Download Failed": the COM port is held by another program. Retry
// sets the main window's `retry` and closes; Cancel only closes.
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace tk {

class frmmain;

class frmPortErr : public QWidget {
    Q_OBJECT
public:
    explicit frmPortErr(frmmain& main);

    // Shows the dialog for COM<port> and returns when it is closed.
    void showFor(int port);

    QLabel* lblMessage = nullptr;
    QLabel* lblPort = nullptr;
    QPushButton* cmdRetry = nullptr;
    QPushButton* cmdCancel = nullptr;

private:
    frmmain& m_main;
};

} // namespace tk

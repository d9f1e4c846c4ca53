#pragma once
// "Sending KSYN Command...": writes the KSYN frame to the COM port and waits
// for the terminal's ACK with a progress bar that fills as the wait runs out.
//
// Interactive runs show it modally (showModal). Unattended runs keep it hidden:
// the serial download calls doSend and waits until `waiting` clears, and the
// command line's KSYN-only mode calls setup and doSend and lets the window
// end the process (0 acknowledged, -4 no answer, -7 port in use or missing,
// -6 any other failure).
#include "platform/serialline.h"
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdint>

namespace tk {

class frmmain;

class frmKSYN : public QWidget {
    Q_OBJECT
public:
    explicit frmKSYN(frmmain& main);

    // True from loading until closing; the unattended serial download waits on it.
    bool waiting = false;
    // 100 ms ticks since the frame was written. Wider than the time-out in
    // seconds: the longest wait (32767 s) counts past 32767 ticks.
    int tickCount = 0;
    // Values from the command line; empty port or baud means the main window's.
    QString setPort;
    QString setBaud;
    std::int16_t setTimeout = 0; // seconds, 0 means 4

    // Stores each text that is not empty. False (nothing stored) when the
    // port is not a number or the time-out not a 16-bit number; the command
    // line then ends with its bad-argument code.
    bool setup(const QString& port, const QString& baud, const QString& timeout);
    // Builds and writes the frame and starts the wait. Loads the window
    // (hidden unless the main window is shown) when it is not loaded.
    void doSend();
    // Interactive: shows the window modally, sends, and returns once it closed.
    void showModal();

    QLabel* lblSent = nullptr;
    QLabel* lblPort = nullptr;
    QLabel* lblWait = nullptr;
    QProgressBar* pbTimeout = nullptr;
    QPushButton* cmdCancel = nullptr;
    SerialLine* serialPort = nullptr;
    QTimer* tmrTimeout = nullptr; // 100 ms wait ticks
    QTimer* tmrUnload = nullptr;  // 200 ms after the ACK

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void load();
    void unload();
    void closeWindow();
    void serialPort_readyRead();
    void tmrTimeout_Timer();
    void tmrUnload_Timer();
    void cmdCancel_Click();

    frmmain& m_main;
    bool m_loaded = false;
    bool m_shown = false; // loaded while the main window was shown
};

} // namespace tk

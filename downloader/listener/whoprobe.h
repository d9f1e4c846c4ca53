#pragma once
// One "WHO:" exchange with a terminal's daemon, the only one in the program:
// the listener's probes and a fleet's package check both run it. Connect
// within five 200 ms pauses, ask "WHO:", and the first arrival within
// twenty-five pauses is the whole answer (read up to one byte beyond the
// largest record: more is an answer, but not a record). Reusable: start()
// again once it ended.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QTcpSocket;

namespace tk {

class WhoProbe : public QObject {
    Q_OBJECT
public:
    enum class End {
        NotConnected, // refused, unreachable or not connected in time
        NoAnswer,     // connected, but nothing came (or the connection ended first)
        Skipped,      // connected, and skipOnConnect said not to ask
        Answered,     // something came: the answer (a record or not)
    };

    // skipOnConnect, when set, is asked once connected: true ends the
    // exchange as Skipped without asking.
    explicit WhoProbe(QObject* parent = nullptr, std::function<bool()> skipOnConnect = {});
    ~WhoProbe() override;

    void start(const QString& address, quint16 port);
    bool running() const { return m_phase != Phase::Idle; }
    // Ends at once with what it has: NotConnected while connecting, else NoAnswer.
    void giveUp();
    // Ends at once without done().
    void abort();

signals:
    void asked(); // "WHO:" went out
    void done(tk::WhoProbe::End end, const QByteArray& answer);

private:
    enum class Phase { Idle, Connecting, AwaitingReply };
    void onConnected();
    void onData();
    void onGone();
    void onTick();
    void finish(End end, const QByteArray& answer = {});

    QTcpSocket* m_socket;
    QTimer m_timer;
    std::function<bool()> m_skip;
    Phase m_phase = Phase::Idle;
    int m_ticks = 0;
};

} // namespace tk

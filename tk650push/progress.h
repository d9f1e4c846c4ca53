#pragma once
// What a fleet push shows on standard error while it runs: one line per event
// when the output is a file or a pipe (a build log), or a live table of the
// terminals being pushed to on a terminal, with finished ones scrolling above
// it.
#include "engine/pushsession.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>

namespace tk::push {

// "1 terminal", "12 terminals".
QString terminalCount(int n);

class ProgressPrinter : public QObject {
    Q_OBJECT
public:
    using Sink = std::function<void(const QByteArray&)>;
    // live: redraw a table (for a terminal) instead of writing lines.
    ProgressPrinter(Sink sink, bool live, QObject* parent = nullptr);

    void setTerminals(const QStringList& addresses);
    void stageChanged(int index, engine::Stage stage);
    void progress(int index, qint64 sent, qint64 total);
    void finished(int index, const engine::PushResult& result);
    // A line of its own ("listening for broadcasts ...").
    void note(const QString& text);
    // The closing summary line; ends the table. Terminals that have the whole
    // file but whose install was not awaited are named apart, when there are any.
    void summary(int succeeded, int failed, int delivered = 0);

    // The finished line of one terminal, as both forms print it.
    static QString resultLine(const engine::PushResult& result);

    // The most rows the table shows; the others are counted in one line.
    static constexpr int kMaxTableRows = 20;
    static constexpr int kLineWidth = 79;

private:
    struct Running {
        engine::Stage stage = engine::Stage::Queued;
        qint64 sent = 0;
        qint64 total = 0;
    };
    void write(const QString& line);
    void erase();
    void draw();

    Sink m_sink;
    bool m_live;
    QStringList m_addresses;
    std::map<int, Running> m_running; // by index, in order
    int m_done = 0;
    int m_failed = 0;
    int m_drawnLines = 0;
    bool m_dirty = false;
    QTimer m_redraw;
};

} // namespace tk::push

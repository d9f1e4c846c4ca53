#pragma once
// The serial tool's output while it runs, where the tool has no console
// window of its own (everywhere but Windows): what it writes to its standard
// output and error, shown as a console shows it. A carriage return alone
// starts the line again (progress counters redraw in place).
//
// What it keeps is bounded: the last kMaxLines lines, a line longer than
// kMaxLineChars continuing on the next one.
#include <QStringDecoder>
#include <QWidget>

class QPlainTextEdit;

namespace tk {

class frmToolOutput : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 1000;
    static constexpr int kMaxLineChars = 1000;

    explicit frmToolOutput(QWidget* owner);

    // A new run: empties the window and names the command in its title.
    void begin(const QString& commandLine);
    // Output as the tool wrote it, in the system's encoding; a character
    // split between two pieces is put together.
    void appendOutput(const QByteArray& bytes);

    QPlainTextEdit* txtOutput = nullptr;

private:
    QStringDecoder m_decoder{QStringDecoder::System};
    int m_lineChars = 0;     // characters on the last line so far
    bool m_returned = false; // a carriage return came last
};

} // namespace tk

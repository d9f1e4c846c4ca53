#include "ui/frmtooloutput.h"

#include "ui/fixedfont.h"
#include "ui/named.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

namespace tk {

namespace {
// Output is handed to the text box in pieces of at most this many characters,
// so that the box trims its oldest lines as it goes.
constexpr qsizetype kPieceChars = 64 * 1024;
} // namespace

frmToolOutput::frmToolOutput(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("frmToolOutput"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    txtOutput = named(new QPlainTextEdit(this), "txtOutput");
    txtOutput->setReadOnly(true);
    txtOutput->setUndoRedoEnabled(false);
    txtOutput->setMaximumBlockCount(kMaxLines);
    txtOutput->setFont(fixedPitchFont(QStringLiteral("Courier New")));
    layout->addWidget(txtOutput);
    resize(640, 360);
}

void frmToolOutput::begin(const QString& commandLine)
{
    setWindowTitle(commandLine);
    txtOutput->clear();
    m_decoder.resetState();
    m_lineChars = 0;
    m_returned = false;
}

void frmToolOutput::appendOutput(const QByteArray& bytes)
{
    const QString text = m_decoder.decode(bytes);
    QScrollBar* bar = txtOutput->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(txtOutput->document());
    cursor.movePosition(QTextCursor::End);
    QString piece;
    const auto flush = [&] {
        if (!piece.isEmpty())
            cursor.insertText(piece);
        piece.clear();
    };
    for (const QChar ch : text) {
        if (m_returned) {
            m_returned = false;
            if (ch != QLatin1Char('\n')) { // the line starts again
                flush();
                cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
                cursor.removeSelectedText();
                m_lineChars = 0;
            }
        }
        if (ch == QLatin1Char('\r')) {
            m_returned = true;
            continue;
        }
        if (ch == QLatin1Char('\n')) {
            piece += ch;
            m_lineChars = 0;
        } else {
            if (m_lineChars == kMaxLineChars) {
                piece += QLatin1Char('\n');
                m_lineChars = 0;
            }
            piece += ch;
            ++m_lineChars;
        }
        if (piece.size() >= kPieceChars)
            flush();
    }
    flush();
    if (atEnd)
        bar->setValue(bar->maximum());
}

} // namespace tk

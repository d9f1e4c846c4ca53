#pragma once
// The log window: time-stamped lines, at most 50, kept only while shown.
#include <QDateTime>
#include <QWidget>
#include <functional>

class QPlainTextEdit;

namespace tk {

class frmLog : public QWidget {
    Q_OBJECT
public:
    frmLog(std::function<QDateTime()> now, QWidget* owner);

    // Places the window right under its owner (the main window), as wide as it
    // and aligned with its left edge, kept on the screen; the height stays
    // unless the screen has no room for it there.
    void updatePosition();
    void appendLogLine(const QString& text);
    QString text() const;
    int logLineCount = 0;

    QPlainTextEdit* txtLog = nullptr;

protected:
    // A closed and reopened log starts empty.
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::function<QDateTime()> m_now;
    int m_height = 0;       // the height asked for, by the design or the user
    bool m_placing = false; // updatePosition is resizing the window
};

} // namespace tk

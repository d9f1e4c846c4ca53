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

    void appendLogLine(const QString& text);
    QString text() const;
    int logLineCount = 0;

    QPlainTextEdit* txtLog = nullptr;

private:
    std::function<QDateTime()> m_now;
};

} // namespace tk

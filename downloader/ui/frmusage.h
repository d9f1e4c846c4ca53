#pragma once
// The Usage window: the command-line help text from "usage.txt". It is the
// only window of a help start, so closing it in any way ends the program.
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace tk {

class frmUsage : public QWidget {
    Q_OBJECT
public:
    explicit frmUsage(QWidget* owner);

    QPlainTextEdit* txtUsage = nullptr;
    QPushButton* cmdClose = nullptr;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape and Enter close it, as its one button would.
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace tk

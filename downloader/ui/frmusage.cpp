#include "ui/frmusage.h"

#include "ui/fixedfont.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tk {

frmUsage::frmUsage(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("frmUsage"));
    txtUsage = new QPlainTextEdit(this);
    txtUsage->setObjectName(QStringLiteral("txtUsage"));
    txtUsage->setReadOnly(true);
    txtUsage->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtUsage->setFont(fixedPitchFont(QStringLiteral("Courier New")));
    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    auto* column = new QVBoxLayout(this);
    column->addWidget(txtUsage, 1);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdClose);
    column->addLayout(row);
    // Wide enough for the help text's 100-column lines.
    const int columns = txtUsage->fontMetrics().horizontalAdvance(QString(100, QLatin1Char('x')));
    resize(std::max(680, columns + 2 * txtUsage->frameWidth() +
                             style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 40),
           520);
}

void frmUsage::closeEvent(QCloseEvent* event)
{
    const bool wasShown = isVisible();
    QWidget::closeEvent(event);
    if (wasShown && event->isAccepted())
        emit closed();
}

void frmUsage::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: close(); return;
    default: QWidget::keyPressEvent(event);
    }
}

} // namespace tk

#include "ui/frmusage.h"

#include "ui/fixedfont.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
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
    resize(680, 520);
}

void frmUsage::closeEvent(QCloseEvent* event)
{
    const bool wasShown = isVisible();
    QWidget::closeEvent(event);
    if (wasShown && event->isAccepted())
        emit closed();
}

} // namespace tk

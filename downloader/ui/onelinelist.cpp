#include "ui/onelinelist.h"

#include <algorithm>

#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>

namespace tk {

OneLineList::OneLineList(const QStringList& entries, QWidget* parent)
    : QWidget(parent), m_entries(entries), m_text(new QLabel(this)),
      m_scroll(new QScrollBar(Qt::Vertical, this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_text->setFrameShape(QFrame::Box);
    row->addWidget(m_text, 1);
    row->addWidget(m_scroll);
    m_scroll->setPageStep(1);
    setFocusPolicy(Qt::StrongFocus);
    m_text->setAutoFillBackground(true);
    m_scroll->setFixedHeight(m_text->sizeHint().height() + 6);
    connect(m_scroll, &QScrollBar::valueChanged, this, [this](int v) {
        refresh();
        emit topIndexChanged(v);
    });
    refresh();
}

void OneLineList::addEntry(const QString& entry)
{
    m_entries.append(entry);
    refresh();
}

int OneLineList::topIndex() const
{
    return m_scroll->value();
}

void OneLineList::setTopIndex(int index)
{
    m_scroll->setValue(index);
}

QString OneLineList::topText() const
{
    const int i = topIndex();
    return i >= 0 && i < count() ? m_entries.at(i) : QString();
}

bool OneLineList::showEntry(const QString& text)
{
    const auto i = m_entries.indexOf(text);
    if (i < 0)
        return false;
    setTopIndex(static_cast<int>(i));
    return true;
}

void OneLineList::refresh()
{
    // As wide as the widest entry, so the shown one is never cut.
    int widest = m_text->fontMetrics().horizontalAdvance(QStringLiteral("00"));
    for (const QString& entry : std::as_const(m_entries))
        widest = std::max(widest, m_text->fontMetrics().horizontalAdvance(entry));
    m_text->setMinimumWidth(widest + 2 * m_text->frameWidth() +
                            m_text->fontMetrics().averageCharWidth());
    m_scroll->setRange(0, std::max(0, count() - 1));
    m_text->setText(topText());
}

void OneLineList::keyPressEvent(QKeyEvent* event)
{
    int index = topIndex();
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left: --index; break;
    case Qt::Key_Down:
    case Qt::Key_Right: ++index; break;
    case Qt::Key_PageUp:
    case Qt::Key_Home: index = 0; break;
    case Qt::Key_PageDown:
    case Qt::Key_End: index = count() - 1; break;
    default: QWidget::keyPressEvent(event); return;
    }
    setTopIndex(std::clamp(index, 0, std::max(0, count() - 1)));
}

void OneLineList::focusInEvent(QFocusEvent* event)
{
    showFocus(true);
    QWidget::focusInEvent(event);
}

void OneLineList::focusOutEvent(QFocusEvent* event)
{
    showFocus(false);
    QWidget::focusOutEvent(event);
}

void OneLineList::showFocus(bool focused)
{
    m_text->setBackgroundRole(focused ? QPalette::Highlight : QPalette::Window);
    m_text->setForegroundRole(focused ? QPalette::HighlightedText : QPalette::WindowText);
}

} // namespace tk

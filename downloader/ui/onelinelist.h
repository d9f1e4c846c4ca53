#pragma once
// A list one entry high, worked by its scroll arrows. Its value is the entry
// shown at the top (the top index), not a highlighted selection.
#include <QStringList>
#include <QWidget>

class QLabel;
class QScrollBar;

namespace tk {

class OneLineList : public QWidget {
    Q_OBJECT
public:
    explicit OneLineList(const QStringList& entries, QWidget* parent = nullptr);

    QStringList entries() const { return m_entries; }
    void addEntry(const QString& entry);
    int count() const { return static_cast<int>(m_entries.size()); }

    int topIndex() const;
    void setTopIndex(int index);
    // The entry shown at the top: the list's value.
    QString topText() const;
    // Scrolls to the first entry with this text; false when there is none.
    bool showEntry(const QString& text);

    QScrollBar* scrollBar() const { return m_scroll; }

signals:
    void topIndexChanged(int index);

protected:
    // Reached by Tab; the arrow, page, Home and End keys scroll it, and the
    // shown entry is highlighted while it has the focus.
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void refresh();
    void showFocus(bool focused);

    QStringList m_entries;
    QLabel* m_text;
    QScrollBar* m_scroll;
};

} // namespace tk

// The network tab's destination: the four octet boxes with their full-stop
// key, the address built from them, and the "Recent IP's" menu backed by the
// per-user store's "lastIP" list.
#include "core/addresses.h"
#include "ui/eventhook.h"
#include "ui/frmmain.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace tk {

namespace {

const QString kLastIpKey = QStringLiteral("lastIP");

// The full-stop key, or the numeric keypad's decimal key (which some
// keyboard layouts report as a comma).
bool isDecimalKey(const QKeyEvent* key)
{
    if (key->key() == Qt::Key_Period)
        return true;
    return key->key() == Qt::Key_Comma && key->modifiers().testFlag(Qt::KeypadModifier);
}

std::array<std::string, 4> boxTexts(const std::array<QLineEdit*, 4>& boxes)
{
    std::array<std::string, 4> texts;
    for (std::size_t i = 0; i < boxes.size(); ++i)
        texts[i] = boxes[i]->text().toStdString();
    return texts;
}

// Fills the boxes when text is a dotted address of exactly four parts.
void fillBoxes(const std::array<QLineEdit*, 4>& boxes, const std::string& text)
{
    if (const auto parts = splitAddress(text))
        for (std::size_t i = 0; i < boxes.size(); ++i)
            boxes[i]->setText(QString::fromStdString((*parts)[i]));
}

} // namespace

QString frmmain::getDestinationIP() const
{
    return QString::fromStdString(tk::getDestinationIP(boxTexts(txtIP)));
}

void frmmain::saveRecentIP()
{
    if (!m_env.store)
        return;
    const std::string stored = m_env.store->value(kLastIpKey).toString().toStdString();
    const std::string list = rememberAddress(stored, joinAddressBoxes(boxTexts(txtIP)));
    m_env.store->setValue(kLastIpKey, QString::fromStdString(list));
    // Unattended runs end through doExitProcess, which saves nothing: write now.
    m_env.store->sync();
    loadRecentIPs();
}

void frmmain::loadRecentIPs()
{
    for (std::size_t i = 1; i < mnuIP.size(); ++i)
        mnuIP[i]->setVisible(false);
    const QString stored = m_env.store ? m_env.store->value(kLastIpKey).toString() : QString();
    const std::vector<std::string> entries = recentAddresses(stored.toStdString());

    mnuIP[0]->setVisible(true);
    if (entries.empty()) {
        mnuIP[0]->setText(QStringLiteral("none"));
        mnuIP[0]->setEnabled(false);
        return;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        mnuIP[i]->setText(QString::fromStdString(entries[i]));
        mnuIP[i]->setVisible(true);
    }
    mnuIP[0]->setEnabled(true);
    fillBoxes(txtIP, entries[0]);
}

void frmmain::setupAddressBoxes()
{
    for (std::size_t i = 0; i < txtIP.size(); ++i) {
        QLineEdit* box = txtIP[i];
        QWidget* next = i + 1 < txtIP.size() ? static_cast<QWidget*>(txtIP[i + 1]) : cmdSend;
        EventHook::install(box, [this, box, next](QEvent* event) {
            switch (event->type()) {
            case QEvent::FocusIn:
                // After the focus change is complete, so a click's caret
                // placement does not undo the selection.
                QMetaObject::invokeMethod(box, &QLineEdit::selectAll, Qt::QueuedConnection);
                return false;
            case QEvent::KeyPress: {
                textBeforeKey = box->text();
                // The full stop never becomes part of an octet; its release
                // below does the work (autorepeat sends only more presses).
                return isDecimalKey(static_cast<QKeyEvent*>(event));
            }
            case QEvent::KeyRelease: {
                const auto* key = static_cast<QKeyEvent*>(event);
                if (!isDecimalKey(key) || key->isAutoRepeat())
                    return false;
                box->setText(textBeforeKey.isEmpty() ? QStringLiteral("0") : textBeforeKey);
                next->setFocus(Qt::OtherFocusReason);
                return true;
            }
            default: return false;
            }
        });
    }

    // Hooks see their control's events also while this window is being
    // destroyed, so they use the captured controls, not this window's fields,
    // until a real key or click arrives.
    QLabel* label = lblSavedIP;
    QMenu* popup = mnuSavedIP;
    EventHook::install(label, [label, popup](QEvent* event) {
        if (!isLeftClickRelease(event, label))
            return false;
        popup->popup(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return true;
    });
    for (QAction* entry : mnuIP) {
        connect(entry, &QAction::triggered, this,
                [this, entry] { fillBoxes(txtIP, entry->text().toStdString()); });
    }
}

} // namespace tk

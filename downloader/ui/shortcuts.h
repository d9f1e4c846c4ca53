#pragma once
// The key chords of the program's windows, in one place so the main window
// and the broadcast listener agree on them.
#include <QKeyEvent>

namespace tk {

enum class Chord {
    None,
    AdvancedOptions, // Ctrl+Shift+F12: reveal the daemon port box and the owner "root"
    DebugConsole,    // Ctrl+D or Ctrl+T: open the debug console
    ShowLog,         // Ctrl+L: show the log window
};

inline Chord chordOf(const QKeyEvent& event)
{
    const auto mods = event.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier |
                                           Qt::AltModifier | Qt::MetaModifier);
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && event.key() == Qt::Key_F12)
        return Chord::AdvancedOptions;
    if (mods != Qt::ControlModifier)
        return Chord::None;
    switch (event.key()) {
    case Qt::Key_D:
    case Qt::Key_T: return Chord::DebugConsole;
    case Qt::Key_L: return Chord::ShowLog;
    default: return Chord::None;
    }
}

} // namespace tk

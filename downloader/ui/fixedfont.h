#pragma once
// A fixed-pitch font for text laid out in columns (the Usage text, the serial
// tool's output).
#include <QFont>
#include <QString>

namespace tk {

// The preferred family when it resolves to a fixed-pitch font; else the
// system's fixed font when that is fixed-pitch (it is not on every platform:
// the offscreen one gives its ordinary font); else the first installed
// fixed-pitch family; else the preferred family with a typewriter hint, the
// nearest the machine has.
QFont fixedPitchFont(const QString& preferredFamily);
// The same with the platform's fixed font given.
QFont fixedPitchFont(const QString& preferredFamily, const QFont& systemFixed);

} // namespace tk

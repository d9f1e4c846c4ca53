#pragma once
// Reading and writing the ".qsf" files of the program folder. The format is
// core/qsf.h; text is kept in the system's 8-bit encoding, as file names are.
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

namespace tk {

// The most of a file that is read: its values are a port, a baud rate, a
// choice and a tool's path.
inline constexpr qint64 kMaxQsfFileBytes = 64 * 1024;

// The values of the file, or at most `most` of them; nullopt when the file
// cannot be opened (missing, a folder, no access).
std::optional<QStringList> readQsfFile(const QString& path, int most = -1);

// Writes each value on its own CR LF line. The old file is replaced only once
// the new one is complete, so a failure (full disk, crash) leaves it intact.
bool writeQsfFile(const QString& path, const QStringList& values);

} // namespace tk

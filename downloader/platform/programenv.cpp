#include "platform/programenv.h"
#include "platform/openports.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cstdlib>

namespace tk {

void exitProcessNow(int code)
{
    // No destructor runs after this: the ports' lock files go first.
    closeOpenPorts();
    std::_Exit(code);
}

std::unique_ptr<QSettings> openUserStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Quillon"),
                                       QString::fromLatin1(kProgramTitle));
}

QString ProgramEnv::settingsFileToRead(const QString& name) const
{
    if (!programDirWritable && !userDir.isEmpty()) {
        const QString own = QDir(userDir).filePath(name);
        if (QFileInfo::exists(own))
            return own;
    }
    return QDir(programDir).filePath(name);
}

QString ProgramEnv::settingsFileToWrite(const QString& name) const
{
    if (programDirWritable || userDir.isEmpty())
        return QDir(programDir).filePath(name);
    QDir().mkpath(userDir); // a failure shows when the file is written
    return QDir(userDir).filePath(name);
}

QString ProgramEnv::shippedFile(const QString& name) const
{
    const QString beside = QDir(programDir).filePath(name);
    if (QFileInfo::exists(beside) || dataDir.isEmpty())
        return beside;
    const QString shared = QDir(dataDir).filePath(name);
    return QFileInfo::exists(shared) ? shared : beside;
}

bool canCreateFilesIn(const QString& dir)
{
    if (!QFileInfo(dir).isDir())
        return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".tk650-write-probe-XXXXXX")));
    return probe.open(); // removed again when it goes out of scope
}

QString userFilesDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillon/") + QString::fromLatin1(kProgramTitle);
}

QString packageDataDir(const QString& programDir)
{
    return QDir::cleanPath(programDir + QStringLiteral("/../share/tk650downloader"));
}

} // namespace tk

#include "programfolder.h"

#include <QFile>

namespace tk::test {

ProgramFolder::ProgramFolder()
    : m_store(std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("store.ini")),
                                          QSettings::IniFormat))
{
}

void ProgramFolder::write(const QString& name, const QByteArray& bytes) const
{
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray ProgramFolder::read(const QString& name) const
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool ProgramFolder::exists(const QString& name) const
{
    return QFile::exists(file(name));
}

ProgramEnv ProgramFolder::env()
{
    ProgramEnv e;
    e.programDir = path();
    e.programDirWritable = writable;
    // Made by the program when it first writes there, as in a new account.
    e.userDir = userDir();
    e.dataDir = dataDir;
    e.store = m_store.get();
    e.dialogs = &dialogs;
    e.exitProcess = [this](int code) {
        if (!exitCode)
            exitCode = code;
    };
    return e;
}

} // namespace tk::test

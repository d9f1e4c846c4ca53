#pragma once
// A temporary program folder and settings store for one test, and the
// ProgramEnv that points the main window at them.
#include "platform/programenv.h"
#include "scripteddialogs.h"

#include <QByteArray>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>
#include <optional>

namespace tk::test {

class ProgramFolder {
public:
    ProgramFolder();

    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }
    // Writes a file in the program folder (bytes as given).
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;
    bool exists(const QString& name) const;

    // The per-user configuration folder the settings files go to when the
    // program folder is taken as read-only (`writable` false), and the
    // package's data folder (none unless set).
    QString userDir() const
    {
        return m_userDir.filePath(QStringLiteral("config/Quillon/Tk650Downloader"));
    }
    QString userFile(const QString& name) const { return userDir() + QLatin1Char('/') + name; }
    bool writable = true;
    QString dataDir;

    QSettings& store() { return *m_store; }
    ScriptedDialogs dialogs;
    // Codes passed to the env's exitProcess (the process does not end).
    std::optional<int> exitCode;

    ProgramEnv env();

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_userDir;
    std::unique_ptr<QSettings> m_store;
};

} // namespace tk::test

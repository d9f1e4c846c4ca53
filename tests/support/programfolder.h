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

    QSettings& store() { return *m_store; }
    ScriptedDialogs dialogs;
    // Codes passed to the env's exitProcess (the process does not end).
    std::optional<int> exitCode;

    ProgramEnv env();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_store;
};

} // namespace tk::test

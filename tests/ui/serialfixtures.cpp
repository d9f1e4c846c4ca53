#include "serialfixtures.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <utility>

namespace tk::test {

namespace {

QByteArray overrideName(int port)
{
    return "TK650_COM" + QByteArray::number(port);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

PtyComPort::PtyComPort(int port)
    : m_created(m_terminal.createPseudoTerminal()), m_override(port, m_terminal.devicePath())
{
    EXPECT_TRUE(m_created) << m_terminal.errorString().toStdString();
}

ComPortOverride::ComPortOverride(int port, const QString& path) : m_name(overrideName(port))
{
    qputenv(m_name.constData(), QFile::encodeName(path));
}

ComPortOverride::~ComPortOverride()
{
    qunsetenv(m_name.constData());
}

FakePdt::FakePdt(const QString& folder) : m_folder(folder)
{
    QFile script(path());
    script.open(QIODevice::WriteOnly | QIODevice::Truncate);
    script.write(R"(#!/bin/sh
here=$(dirname "$0")
{ pwd; for a in "$@"; do printf '%s\n' "$a"; done; } > "$here/pdt-call.tmp"
mv "$here/pdt-call.tmp" "$here/pdt-call.txt"
[ -f "$here/pdt-say" ] && cat "$here/pdt-say"
[ -f "$here/pdt-say-err" ] && cat "$here/pdt-say-err" >&2
if [ -f "$here/pdt-hang" ]; then
  sleep 60 &
  echo $! > "$here/pdt-child.pid"
  wait
fi
code=0
[ -f "$here/pdt-exit" ] && code=$(cat "$here/pdt-exit")
exit "$code"
)");
    script.close();
    QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                      QFile::ReadGroup | QFile::ExeGroup);
}

QString FakePdt::path() const
{
    return QDir(m_folder).filePath(QStringLiteral("pdt.exe"));
}

void FakePdt::exitWith(int code) const
{
    QFile f(QDir(m_folder).filePath(QStringLiteral("pdt-exit")));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(QByteArray::number(code));
}

void FakePdt::say(const QByteArray& out, const QByteArray& err) const
{
    for (const auto& [name, bytes] : {std::pair{"pdt-say", out}, std::pair{"pdt-say-err", err}}) {
        QFile f(QDir(m_folder).filePath(QString::fromLatin1(name)));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    }
}

void FakePdt::hang() const
{
    QFile f(QDir(m_folder).filePath(QStringLiteral("pdt-hang")));
    f.open(QIODevice::WriteOnly);
}

bool FakePdt::ran() const
{
    return QFile::exists(QDir(m_folder).filePath(QStringLiteral("pdt-call.txt")));
}

QString FakePdt::workingFolder() const
{
    const QByteArray call = readFile(QDir(m_folder).filePath(QStringLiteral("pdt-call.txt")));
    return QFile::decodeName(call.left(call.indexOf('\n')));
}

QStringList FakePdt::arguments() const
{
    const QByteArray call = readFile(QDir(m_folder).filePath(QStringLiteral("pdt-call.txt")));
    QStringList lines = QFile::decodeName(call).split(QLatin1Char('\n'));
    if (!lines.isEmpty())
        lines.removeFirst(); // the working folder
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

qint64 FakePdt::childPid() const
{
    return readFile(QDir(m_folder).filePath(QStringLiteral("pdt-child.pid")))
        .trimmed()
        .toLongLong();
}

bool processAlive(qint64 pid)
{
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    // A zombie has ended; it only waits for its parent to collect it.
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const int close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) != "Z";
}

std::unique_ptr<QTimer> when(std::function<bool()> condition, std::function<void()> action)
{
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(5);
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, [raw, condition, action] {
        if (condition()) {
            raw->stop();
            action();
        }
    });
    timer->start();
    return timer;
}

} // namespace tk::test

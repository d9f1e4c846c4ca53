#pragma once
// A main window aimed at a simulated terminal on its own loopback address,
// with helpers to make files and drive the Send action.
#include "core/protocol.h"
#include "daemon.h"
#include "platform/wait.h"
#include "programfolder.h"
#include "ui/frmmain.h"
#include "ui/networkdownload.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>

namespace tk::test {

class NetDownloadTest : public ::testing::Test {
protected:
    // Each test program binds its own address in 127.30.x.x.
    explicit NetDownloadTest(const char* address = "127.30.1.1") : m_address(address) {}

    void SetUp() override
    {
        ProgramEnv env = folder.env();
        env.now = [] { return QDateTime(QDate(2026, 12, 6), QTime(8, 35, 7)); };
        w = std::make_unique<frmmain>(env);
        ASSERT_TRUE(daemon.listen(QHostAddress(m_address))) << daemon.errorString().toStdString();
        aimAt(m_address, daemon.serverPort());
    }

    void aimAt(const QString& address, quint16 port)
    {
        const QStringList octets = address.split('.');
        for (int i = 0; i < 4; ++i)
            w->txtIP[static_cast<size_t>(i)]->setText(octets[i]);
        w->txtPort->setText(QString::number(port));
    }

    // A file of `size` bytes whose content tells every position apart.
    QString makeFile(const QString& name, qint64 size)
    {
        QByteArray bytes(size, '\0');
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
        folder.write(name, bytes);
        return folder.file(name);
    }

    void choose(const QString& path) { w->txtfilen->setText(path); }
    // Sends and waits until the session has ended (or did not start).
    void send(int ms = 120000)
    {
        w->cmdSend->click();
        waitFor([&] { return !w->netDownload->running(); }, ms);
    }
    bool waitFor(const std::function<bool()>& done, int ms = 8000)
    {
        return pumpEventsUntil(done, ms);
    }
    bool waitForStatus(const QString& text, int ms = 8000)
    {
        return waitFor([&] { return w->lblStatus->text() == text; }, ms);
    }
    QString status() const { return w->lblStatus->text(); }
    proto::SessionState state() const { return w->netDownload->sessionState; }
    QStringList prefixes() const
    {
        QStringList out;
        for (const QByteArray& c : daemon.commands())
            out << QString::fromLatin1(c.left(4));
        return out;
    }
    QList<ShownMessage> messages() const { return folder.dialogs.shown; }

    ProgramFolder folder;
    sim::Daemon daemon;
    std::unique_ptr<frmmain> w;

private:
    QString m_address;
};

} // namespace tk::test

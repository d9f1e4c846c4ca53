#include "platform/qsffile.h"

#include "core/qsf.h"

#include <QFile>
#include <QSaveFile>

namespace tk {

std::optional<QStringList> readQsfFile(const QString& path, int most)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The settings files hold a few short lines: a file far larger than that
    // is read only as far as those lines can reach.
    const QByteArray bytes = file.read(kMaxQsfFileBytes);
    const auto values =
        qsf::readValues(std::string_view(bytes.constData(), bytes.size()),
                        most < 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(most));
    QStringList list;
    for (const auto& v : values)
        list.append(QString::fromLocal8Bit(v.data(), static_cast<qsizetype>(v.size())));
    return list;
}

bool writeQsfFile(const QString& path, const QStringList& values)
{
    std::vector<std::string> bytes;
    for (const auto& v : values)
        bytes.push_back(v.toLocal8Bit().toStdString());
    const std::string text = qsf::writeLines(bytes);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(text.data(), static_cast<qint64>(text.size())) !=
        static_cast<qint64>(text.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace tk

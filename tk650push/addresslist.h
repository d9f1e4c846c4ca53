#pragma once
// Terminal addresses as a deployment job gives them: on the command line or
// in a list file, one per line, "#" starting a comment. Addresses are
// compared in one written form, so the same terminal is pushed to once.
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace tk::push {

// The most a list file may hold.
inline constexpr qint64 kMaxListBytes = 1024 * 1024;
inline constexpr int kMaxTerminals = 100000;

// The written form of a terminal address: a dotted IPv4 address (each of the
// four numbers 0..255, leading zeros dropped, so 010.1.1.1 is 10.1.1.1) or a
// host name (letters, digits, "-" and ".", compared in lower case). Nothing
// when the text is neither.
std::optional<QString> normalAddress(const QString& text);

// Addresses in the order first given, each once.
class AddressSet {
public:
    // False when the address was there already.
    bool add(const QString& normalised);
    int size() const { return int(m_list.size()); }
    const QStringList& list() const { return m_list; }

private:
    QStringList m_list;
    QSet<QString> m_seen;
};

// Adds the addresses of a list file to set. On failure, the message (naming
// the file, and the line of a bad address) is returned.
std::optional<QString> readAddressFile(const QString& path, AddressSet& set);

} // namespace tk::push

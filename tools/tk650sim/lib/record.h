#pragma once
// A terminal's description of itself: the payload of its broadcasts and of
// its daemon's answer to "WHO:". Fields are separated by FS (0x1C); lists
// inside a field by GS (0x1D).
#include <QByteArray>
#include <QList>
#include <QPair>

namespace tk::sim {

struct TerminalRecord {
    QByteArray lead = "TK";            // field 0, not interpreted by the receiver
    QByteArray serial = "123-456-789"; // field 1
    QByteArray model = "650";          // field 2
    QByteArray rootFs = "R1.2";        // field 3
    QByteArray kernel = "2.6.12";      // field 4
    QList<QPair<QByteArray, QByteArray>> packages{{"app", "1.0"}}; // field 5: name;version
    QByteArray discretionary;                                      // field 6, may hold CR LF
    QList<QByteArray> keyStatus; // field 7: 26 entries when the key status is known
    QByteArray trailer;          // field 8, not interpreted

    // The record as sent: nine fields joined by FS.
    QByteArray toBytes() const;
    // "name;version" entries joined by GS.
    static QByteArray joinPackages(const QList<QPair<QByteArray, QByteArray>>& packages);
    // Reads "name;version,name;version" (the command-line form); an entry
    // without ";" is a name with an empty version.
    static QList<QPair<QByteArray, QByteArray>> splitPackageText(const QByteArray& text);
    // A key status list with every slot empty (26 zero entries, empty KSNs).
    static QList<QByteArray> emptyKeyStatus();
};

} // namespace tk::sim

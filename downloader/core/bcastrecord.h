#pragma once
// The terminal's self-description record: the payload of its UDP broadcast
// and, in the same layout, the daemon's answer to "WHO:". Fields are
// separated by FS; the package and key lists inside fields by GS. Bytes in,
// text out; nothing here touches a socket or a window.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tk::bcast {

inline constexpr char kFS = '\x1c';
inline constexpr char kGS = '\x1d';

// What the listener takes from a sender, at most. A real record is nine
// short fields, a package list, 26 key entries and a discretionary note: a
// few hundred bytes. A datagram or "WHO:" reply above kMaxRecordBytes is far
// larger than any of them and is not taken as a record; a serial number
// above kMaxSerialBytes is not one.
inline constexpr std::size_t kMaxRecordBytes = 4096;
inline constexpr std::size_t kMaxSerialBytes = 64;

// Splits at every separator, keeping empty pieces ("" gives one empty field).
std::vector<std::string_view> splitFields(std::string_view text, char separator);

// The serial number (field 1) of a record that can be taken as one: at most
// kMaxRecordBytes, at least 4 fields, a serial of at most kMaxSerialBytes,
// and no control bytes (below 0x20, or 0x7F) in the single-line fields 0 to 4
// (lead, serial, model, root file system, kernel). So random bytes that
// happen to hold three FS characters do not make a row.
std::optional<std::string> recordSerial(std::string_view record);

// Field 6 of a reply as the discretionary column shows it: every CR LF made
// a single LF, then one trailing LF dropped.
std::string normaliseDiscretionary(std::string_view text);

// What one data arrival on the probe connection means.
struct ProbeReply {
    bool answered = false; // any non-empty text counts as an answer
    // Set when the text is a record (taken as recordSerial takes it, and not
    // exactly "OK" or "BADARGS"): the row it belongs to.
    std::optional<std::string> serial;
    // Set when the record has field 6 (at least 7 fields).
    std::optional<std::string> discretionary;
};
ProbeReply decodeProbeReply(std::string_view text);

// The fields an inventory lists, taken as they stand (no decoding): set
// only for a record recordSerial takes; a field the record lacks is empty.
struct RecordFields {
    std::string serial;
    std::string model;
    std::string rootFs;
    std::string kernel;
    std::vector<std::string> packages;  // "name;version" entries, in order
    std::vector<std::string> keyStatus; // the raw entries; empty: unknown
};
std::optional<RecordFields> recordFields(std::string_view record);

// Whether the record's package list holds exactly "name;version".
bool recordListsPackage(std::string_view record, std::string_view nameAndVersion);

// A number as the terminal and the settings write it: leading blanks, an
// optional sign, digits and an optional fraction; text that does not start
// with a number reads as 0.
double leadingNumber(std::string_view text);

// A key-list entry as a number (leadingNumber), rounded half to even and held
// to the 16-bit signed range.
std::int16_t keyStatusValue(std::string_view entry);

// One row of the device table, as the details view reads it.
struct DetailsSource {
    std::string serial;
    std::string address;
    std::string status;
    std::string discretionary;
    std::string lastBcast;
    std::string record;
};

// The details text: the raw record when it has fewer than 9 fields,
// otherwise the decoded lines, each ending in LF.
std::string deviceDetailsText(const DetailsSource& row);

} // namespace tk::bcast

// Broadcast records and "WHO:" replies as the listener takes them, and the
// details text made from a row.
#include "check.h"
#include "core/bcastrecord.h"

using namespace tk::bcast;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = fuzz::bytes(data, size);

    const auto serial = recordSerial(text);
    const auto fields = splitFields(text, kFS);
    if (serial) {
        FUZZ_CHECK(text.size() <= kMaxRecordBytes);
        FUZZ_CHECK(fields.size() >= 4 && *serial == fields[1]);
        FUZZ_CHECK(serial->size() <= kMaxSerialBytes);
    } else if (text.size() <= kMaxRecordBytes && fields.size() >= 4 &&
               fields[1].size() <= kMaxSerialBytes) {
        // Refused only for a control byte in one of the single-line fields.
        bool control = false;
        for (std::size_t i = 0; i <= 4 && i < fields.size(); ++i) {
            for (const char c : fields[i])
                control |= static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
        }
        FUZZ_CHECK(control);
    }

    const auto reply = decodeProbeReply(text);
    FUZZ_CHECK(reply.answered == !text.empty());
    if (text == "OK" || text == "BADARGS")
        FUZZ_CHECK(!reply.serial);
    else
        FUZZ_CHECK(reply.serial == serial); // the same rule for both ways in
    if (reply.discretionary) {
        FUZZ_CHECK(reply.serial && fields.size() >= 7);
        FUZZ_CHECK(*reply.discretionary == normaliseDiscretionary(fields[6]));
        FUZZ_CHECK(reply.discretionary->size() <= fields[6].size());
        FUZZ_CHECK(reply.discretionary->find("\r\n") == std::string::npos ||
                   fields[6].find("\r\r\n") != std::string_view::npos);
    }

    // The details of a row whose cells are the input cut at NUL.
    const auto cells = fuzz::pieces(text, '\0');
    DetailsSource row;
    std::string* slots[] = {&row.record, &row.serial,    &row.address,
                            &row.status, &row.lastBcast, &row.discretionary};
    for (std::size_t i = 0; i < cells.size() && i < 6; ++i)
        *slots[i] = cells[i];
    const std::string details = deviceDetailsText(row);
    if (splitFields(row.record, kFS).size() < 9) {
        FUZZ_CHECK(details == row.record);
    } else {
        // Each input byte adds a bounded number of output bytes: a package
        // entry per GS, " [" + "]" per ";"; the 26 key lines are bounded.
        FUZZ_CHECK(details.size() <= 4096 + 4 * size);
        FUZZ_CHECK(details.find('\r') == std::string::npos ||
                   text.find('\r') != std::string_view::npos);
        FUZZ_CHECK(!details.empty() && details.back() == '\n');
    }
    return 0;
}

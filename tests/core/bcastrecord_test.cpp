#include "core/bcastrecord.h"

#include <gmock/gmock.h>

using namespace tk::bcast;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string join(const std::vector<std::string>& parts, char sep)
{
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i)
            out += sep;
        out += parts[i];
    }
    return out;
}

std::string keyList(const std::vector<std::string>& entries)
{
    return join(entries, kGS);
}

// A record with the given key list field and packages.
std::string record(const std::string& packages, const std::string& keys,
                   const std::string& discretionary = "")
{
    return join({"T", "123-456-789", "650", "R1.2", "2.6.12", packages, discretionary, keys, ""},
                kFS);
}

DetailsSource row(const std::string& rec)
{
    return {"123-456-789", "10.0.0.5", "Waiting for download", "", "06/12/2026 08:35:07", rec};
}

std::vector<std::string> zeros(int n)
{
    return std::vector<std::string>(static_cast<std::size_t>(n), "0");
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The lines of a details text; every line must end in LF.
std::vector<std::string> lines(const std::string& text)
{
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    std::vector<std::string> out;
    std::size_t start = 0;
    for (auto at = text.find('\n'); at != std::string::npos; at = text.find('\n', start)) {
        out.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    return out;
}

} // namespace

TEST(BcastRecord, FieldRulesForDatagrams)
{
    EXPECT_EQ(recordSerial("\x1c\x1c\x1c"), std::optional<std::string>(""));
    EXPECT_EQ(recordSerial("\x1c\x1c"), std::nullopt);
    EXPECT_EQ(recordSerial("a\x1cSN1\x1c\x1c"), std::optional<std::string>("SN1"));
    EXPECT_EQ(recordSerial(""), std::nullopt);
    // Serials are taken exactly: case, blanks and quotes stay.
    EXPECT_EQ(recordSerial("x\x1c sn\"A \x1c\x1c"), std::optional<std::string>(" sn\"A "));
}

TEST(BcastRecord, EveryCutOfARecordIsUsableOnlyWithFourFields)
{
    const std::string rec = record("app;1.0", keyList({"1", "2"}), "a\r\nb");
    for (std::size_t cut = 0; cut <= rec.size(); ++cut) {
        const std::string part = rec.substr(0, cut);
        const auto fs = std::count(part.begin(), part.end(), kFS);
        const auto reply = decodeProbeReply(part);
        EXPECT_EQ(reply.answered, cut > 0);
        EXPECT_EQ(reply.serial.has_value(), fs >= 3) << cut;
        EXPECT_EQ(reply.discretionary.has_value(), fs >= 6) << cut;
        EXPECT_EQ(recordSerial(part).has_value(), fs >= 3) << cut;
    }
}

TEST(BcastRecord, ProbeReplies)
{
    for (const char* ack : {"OK", "BADARGS"}) {
        const auto r = decodeProbeReply(ack);
        EXPECT_TRUE(r.answered);
        EXPECT_FALSE(r.serial);
    }
    // Only the whole text counts as a plain acknowledgement.
    EXPECT_EQ(decodeProbeReply("OK\x1cSN\x1c\x1c").serial, std::optional<std::string>("SN"));
    EXPECT_FALSE(decodeProbeReply("").answered);

    const auto r = decodeProbeReply(join({"T", "SN9", "650", "R", "K", "", "a\r\nb\r\n"}, kFS));
    ASSERT_TRUE(r.serial);
    EXPECT_EQ(*r.serial, "SN9");
    EXPECT_EQ(r.discretionary, std::optional<std::string>("a\nb"));
    EXPECT_FALSE(decodeProbeReply(join({"T", "SN9", "650", "R", "K", "x"}, kFS)).discretionary);
}

TEST(BcastRecord, DiscretionaryLineEnds)
{
    EXPECT_EQ(normaliseDiscretionary("a\r\nb\r\n"), "a\nb");
    EXPECT_EQ(normaliseDiscretionary("a\n\n"), "a\n");     // only one trailing LF goes
    EXPECT_EQ(normaliseDiscretionary("a\rb\r"), "a\rb\r"); // lone CR stays
    EXPECT_EQ(normaliseDiscretionary("\r\r\n"), "\r");
    EXPECT_EQ(normaliseDiscretionary(""), "");
}

TEST(BcastRecord, KeyEntryNumbers)
{
    EXPECT_EQ(keyStatusValue("  12"), 12);
    EXPECT_EQ(keyStatusValue("-1"), -1);
    EXPECT_EQ(keyStatusValue("abc"), 0);
    EXPECT_EQ(keyStatusValue("7x"), 7);
    EXPECT_EQ(keyStatusValue(""), 0);
    EXPECT_EQ(keyStatusValue("2.5"), 2); // half to even
    EXPECT_EQ(keyStatusValue("3.5"), 4);
    EXPECT_EQ(keyStatusValue("99999"), 32767);
    EXPECT_EQ(keyStatusValue("-99999"), -32768);
    EXPECT_EQ(keyStatusValue(std::string(70000, '9')), 32767);
}

TEST(BcastDetails, ExampleRecordLineForLine)
{
    const auto keys = keyList(concat({{"1", "2"}, zeros(8), zeros(3), {"1", "5"}, zeros(8)}));
    const auto text = deviceDetailsText(row(record("app;1.0\x1dlib;2.1", keys)));
    EXPECT_EQ(lines(text), (std::vector<std::string>{
                               "S/N: 123-456-789",
                               "IP Address: 10.0.0.5",
                               "Model: TK 650",
                               "Root File System: R1.2",
                               "Kernel: 2.6.12",
                               "Packages: ",
                               "   app [1.0]",
                               "   lib [2.1]",
                               "IPP Key Status:",
                               "   MK#0: non ZEKTA",
                               "   MK#1: ZEKTA",
                               "RKL Key Status: ",
                               "   private: installed",
                               "   public: not installed",
                               "Injected User Key Status:",
                               "   root: key0,key2,",
                               "",
                               "Status: Waiting for download",
                               "Last Bcast: 06/12/2026 08:35:07",
                           }));
}

TEST(BcastDetails, RawRecordBelowNineFields)
{
    std::string eight = join({"T", "SN", "650", "R", "K", "", "", "1"}, kFS);
    EXPECT_EQ(deviceDetailsText(row(eight)), eight);
    EXPECT_EQ(deviceDetailsText(row("<b>OK</b>")), "<b>OK</b>");
}

TEST(BcastDetails, EmptyPackagesAndUnknownKeys)
{
    auto r = row(record("", ""));
    r.discretionary = "line1\nline2";
    const auto l = lines(deviceDetailsText(r));
    ASSERT_EQ(l.size(), 12u);
    EXPECT_EQ(l[5], "Packages: none");
    EXPECT_EQ(l[6], "Keys Loaded: unknown");
    EXPECT_EQ(l[7], "");
    EXPECT_EQ(l[8], "Status: Waiting for download");
    EXPECT_EQ(l[10], "Discretionary: line1");
    EXPECT_EQ(l[11], "line2");
}

TEST(BcastDetails, PackageWithoutVersion)
{
    const auto text = deviceDetailsText(row(record("solo\x1d"
                                                   "a;b;c",
                                                   "")));
    EXPECT_THAT(text, HasSubstr("Packages: \n   solo]\n   a [b [c]\n"));
}

TEST(BcastDetails, MasterKeySlots)
{
    const auto text = deviceDetailsText(
        row(record("", keyList(concat({{"1", "3", "0", "-1", " 2"}, zeros(18)})))));
    EXPECT_THAT(text, HasSubstr("IPP Key Status:\n   MK#0: non ZEKTA\n   MK#1: ZEKTA\n"
                                "   MK#4: ZEKTA\nRKL"));
    EXPECT_THAT(text, Not(HasSubstr("MK#2")));
    EXPECT_THAT(text, Not(HasSubstr("MK#3")));
}

TEST(BcastDetails, DukptSetsWithAndWithoutKsn)
{
    auto full = concat({zeros(10), {"5", "2", "0"}, zeros(10), {"KSN-A", "KSN-B", "KSN-C"}});
    EXPECT_THAT(deviceDetailsText(row(record("", keyList(full)))),
                HasSubstr("IPP Key Status:\n   DUKPT0 -1DES- KSN: KSN-A\n"
                          "   DUKPT1 -3DES- KSN: KSN-B\nRKL Key Status: none\n"));
    // Shorter than 26: the sets count, but no lines are shown for them.
    auto shortList = concat({zeros(10), {"5"}, zeros(12)});
    EXPECT_THAT(deviceDetailsText(row(record("", keyList(shortList)))),
                HasSubstr("IPP Key Status:\nRKL Key Status: none\n"));
    EXPECT_THAT(deviceDetailsText(row(record("", keyList(zeros(23))))),
                HasSubstr("IPP Key Status: none\n"));
}

TEST(BcastDetails, RklBits)
{
    auto rkl = [](const char* v) {
        return deviceDetailsText(row(record("", keyList(concat({zeros(13), {v}, zeros(9)})))));
    };
    EXPECT_THAT(rkl("3"), HasSubstr("RKL Key Status: \n   private: installed\n"
                                    "   public: installed\n"));
    EXPECT_THAT(rkl("2"), HasSubstr("RKL Key Status: \n   private: not installed\n"
                                    "   public: installed\n"));
    EXPECT_THAT(rkl("0"), HasSubstr("RKL Key Status: none\n"));
    EXPECT_THAT(rkl("-3"), HasSubstr("RKL Key Status: none\n"));
}

TEST(BcastDetails, InjectedUserKeys)
{
    auto keys = concat({zeros(14), {"1023", "0", "1"}, zeros(6)});
    EXPECT_THAT(deviceDetailsText(row(record("", keyList(keys)))),
                HasSubstr("Injected User Key Status:\n"
                          "   root: key0,key1,key2,key3,key4,key5,key6,key7,key8,key9,\n"
                          "   usr2: key0,\n\n"));
    EXPECT_THAT(deviceDetailsText(row(record("", keyList(zeros(23))))),
                HasSubstr("Injected User Key Status: none\n\n"));
}

TEST(BcastDetails, ShortKeyListsDecodeWhatIsThere)
{
    // Two entries only: the rest reads as "not set".
    const auto text = deviceDetailsText(row(record("", keyList({"1", "1"}))));
    EXPECT_THAT(text, HasSubstr("   MK#1: non ZEKTA\nRKL Key Status: none\n"
                                "Injected User Key Status: none\n"));
}

TEST(BcastDetails, HostileRecordsStayBounded)
{
    // 10,000 FS characters, binary bytes and 64 KiB fields decode in linear size.
    std::string fs(10000, kFS);
    EXPECT_THAT(deviceDetailsText(row(fs)), HasSubstr("Keys Loaded: unknown"));
    std::string binary;
    for (int i = 0; i < 65536; ++i)
        binary += static_cast<char>(i * 7);
    const auto text = deviceDetailsText(row(binary));
    EXPECT_LE(text.size(), binary.size() * 3 + 1024);
    std::string gs(65536, kGS);
    const auto many = deviceDetailsText(row(record(gs, gs)));
    EXPECT_LE(many.size(), gs.size() * 6 + 1024);
}

// What a sender can make the listener keep: sizes and control bytes, the
// same for broadcasts and "WHO:" replies.
TEST(BcastRecord, RecordsAreTakenOnlyWithinTheirBounds)
{
    const std::string full = record("app;1.0\x1dlib;2.1", keyList(zeros(26)), "a\r\nb\r\n");
    const auto padded = [&](std::size_t size) {
        return full + std::string(size - full.size(), 'x');
    };
    struct Case {
        const char* what;
        std::string text;
        bool taken;
    };
    const Case cases[] = {
        {"an ordinary record", full, true},
        {"exactly the largest record", padded(kMaxRecordBytes), true},
        {"one byte more", padded(kMaxRecordBytes + 1), false},
        {"serial of the longest length",
         join({"T", std::string(kMaxSerialBytes, 'S'), "", ""}, kFS), true},
        {"serial one byte longer", join({"T", std::string(kMaxSerialBytes + 1, 'S'), "", ""}, kFS),
         false},
        {"bytes above 0x7F in the serial", join({"T", "S\xe9\xff", "", ""}, kFS), true},
        {"a control byte in field 0", join({"T\x01", "SN", "", ""}, kFS), false},
        {"a NUL in the serial", join({"T", std::string("S\0N", 3), "", ""}, kFS), false},
        {"DEL in the model", join({"T", "SN", "6\x7f", ""}, kFS), false},
        {"CR in the root file system", join({"T", "SN", "650", "R\r", "K"}, kFS), false},
        {"LF in the kernel", join({"T", "SN", "650", "R", "K\n"}, kFS), false},
        {"control bytes from field 5 on",
         join({"T", "SN", "650", "R", "K", "\x01\x1d", "\r\n\t", "\x1d\x1d", "\x7f"}, kFS), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recordSerial(c.text).has_value(), c.taken) << c.what;
        const auto reply = decodeProbeReply(c.text);
        EXPECT_TRUE(reply.answered) << c.what; // any text is an answer
        EXPECT_EQ(reply.serial.has_value(), c.taken) << c.what;
        if (!c.taken) {
            EXPECT_FALSE(reply.discretionary) << c.what;
        }
    }

    // Random bytes with three FS characters are almost never a record.
    std::uint32_t seed = 12345;
    int taken = 0;
    for (int i = 0; i < 1000; ++i) {
        std::string text;
        for (int n = 0; n < 200; ++n) {
            seed = seed * 1103515245u + 12345u;
            const char c = static_cast<char>(seed >> 24);
            text += c == kFS ? 'x' : c;
        }
        for (int n = 1; n <= 3; ++n)
            text[static_cast<std::size_t>(n * 50)] = kFS;
        taken += recordSerial(text).has_value();
    }
    EXPECT_EQ(taken, 0);
}

// A package counts as installed only when the package list holds exactly
// that name and version; nothing else in the record does.
TEST(BcastRecord, PackageListedOnlyAsAWholeEntry)
{
    const std::string packages = join({"app;1.0", "lib;2.1", "tool"}, kGS);
    struct Case {
        std::string record;
        std::string wanted;
        bool listed;
    };
    const Case cases[] = {
        {record(packages, ""), "app;1.0", true},
        {record(packages, ""), "lib;2.1", true},
        {record(packages, ""), "app;1.00", false},
        {record(packages, ""), "app;1", false},
        {record(packages, ""), "app", false},
        {record(packages, ""), "tool", true},
        {record(packages, ""), "", false},
        {record("", "", "app;1.0"), "app;1.0", false}, // in the discretionary text only
        {record("", keyList({"app;1.0"})), "app;1.0", false},
        {"T" + std::string(1, kFS) + "SN", "app;1.0", false},                     // not a record
        {join({"T", "SN", "650", "R1", "2.6", "app;1.0"}, kFS), "app;1.0", true}, // short record
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted + " in " + c.record);
        EXPECT_EQ(recordListsPackage(c.record, c.wanted), c.listed);
    }
    const auto fields = recordFields(record(packages, keyList({"1", "", "x"})));
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(fields->packages, (std::vector<std::string>{"app;1.0", "lib;2.1", "tool"}));
    EXPECT_EQ(fields->keyStatus, (std::vector<std::string>{"1", "", "x"}));
    EXPECT_TRUE(recordFields(record("", ""))->keyStatus.empty()); // unknown
}

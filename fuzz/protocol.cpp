// Reply recognition, the reply dispatcher and version normalisation: what
// the daemon's bytes can make the session do.
#include "core/protocol.h"
#include "check.h"

using namespace tk::proto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = fuzz::bytes(data, size);

    // Recognition looks only at the reply's first characters.
    const Reply reply = recogniseReply(text);
    if (reply != Reply::Other)
        FUZZ_CHECK(recogniseReply(std::string(text) + "trailing") == reply);

    // Version texts: the terminator dropped, at most one "0" put in front.
    const std::string v = normaliseVersion(text);
    FUZZ_CHECK(v.size() <= size);
    if (size >= 1)
        FUZZ_CHECK(v.size() == size - 1 || v.size() == size);
    FUZZ_CHECK(clockSupported(v) || oneCommandPerConnection(v)); // 01.02.00 < 01.02.01

    for (int s = 0; s <= static_cast<int>(SessionState::SettingClock); ++s) {
        const Reaction r = dispatchReply(static_cast<SessionState>(s), text);
        if (r.effect == Effect::StoreVersion) {
            FUZZ_CHECK(r.version == (reply == Reply::BadArgs ? std::string() : v));
        } else {
            FUZZ_CHECK(r.version.empty());
        }
        if (text.empty())
            FUZZ_CHECK(r.effect == Effect::None && !r.setsReplyReceived);
        if (r.exitCode)
            FUZZ_CHECK(*r.exitCode >= -7 && *r.exitCode <= 2);
        // The message never grows with the reply: it is fixed text and a caption.
        FUZZ_CHECK(reactionText(r, "caption").size() <= 512);
    }
    return 0;
}

// The KSYN frame: any file name gives one frame whose check byte holds.
#include "core/ksyn.h"
#include "check.h"

using namespace tk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string name(fuzz::bytes(data + 1, size - 1));
    const bool partial = data[0] & 1;
    const KsynRestart restart = ksynRestartFrom(data[0] & 2, data[0] & 4);
    FUZZ_CHECK(restart != KsynRestart::Device || !(data[0] & 2));

    const std::string frame = buildKsynFrame(name, partial, restart);
    FUZZ_CHECK(frame.size() ==
               1 + 4 + 1 + name.size() + 1 + 1 + 1 + (restart == KsynRestart::None ? 0 : 1) + 1);
    FUZZ_CHECK(frame.front() == kStx && frame.back() == kEtx);
    FUZZ_CHECK(frame.compare(1, 5, "KSYN\x1c") == 0);
    FUZZ_CHECK(frame.compare(6, name.size(), name) == 0);

    const std::string packet = ksynPacket(frame);
    FUZZ_CHECK(packet.size() == frame.size() + 1 && packet.compare(0, frame.size(), frame) == 0);
    // Every byte after STX, the check byte included, XORs to zero.
    char x = 0;
    for (std::size_t i = 1; i < packet.size(); ++i)
        x = static_cast<char>(x ^ packet[i]);
    FUZZ_CHECK(x == 0);
    FUZZ_CHECK(CalculateLRC(frame) == packet.back());

    const std::string reply(fuzz::bytes(data, size));
    FUZZ_CHECK(isKsynAck(reply) == (reply[0] == kAck));

    // The wait: any time-out runs out at its tick count and not before.
    const int timeout = static_cast<int>(data[0]) * 128; // 0 to 32640 s
    const int effective = ksynEffectiveTimeout(timeout);
    FUZZ_CHECK(effective >= 0);
    for (int count : {1, 2, effective * 10 - 1, effective * 10, effective * 10 + 1}) {
        if (count < 1)
            continue;
        const KsynTick t = ksynTick(count, timeout);
        FUZZ_CHECK(t.percent >= 0 && t.percent <= 100);
        if (count > effective * 10)
            FUZZ_CHECK(t.timedOut);
    }
    return 0;
}

#pragma once
// The KSYN download-mode command written to the COM port before the serial
// tool runs, and the rules of the wait for its acknowledgement.
//
//   STX "KSYN" FS name FS type FS [restart] ETX LRC
//
// type is "P" (partial) or "F" (full); restart is "1" (application), "2"
// (device) or absent. The check byte is the XOR of every byte after STX, ETX
// included.
#include <string>

namespace tk {

inline constexpr char kStx = 0x02;
inline constexpr char kEtx = 0x03;
inline constexpr char kAck = 0x06;
inline constexpr char kFs = 0x1C;

enum class KsynRestart { None, Application, Device };

// Restart application wins when both boxes are somehow ticked.
KsynRestart ksynRestartFrom(bool restartApp, bool restartDevice);

// The frame from STX up to and including ETX. fileName is used as given
// (callers pass proto::GetFileName of the path).
std::string buildKsynFrame(const std::string& fileName, bool partial, KsynRestart restart);

// The check byte of a frame: XOR of every byte from the second on.
char CalculateLRC(const std::string& strInString);

// What goes onto the wire in one write: the frame and its check byte.
std::string ksynPacket(const std::string& frame);

// A reply acknowledges when its first byte is ACK; more bytes may follow.
bool isKsynAck(const std::string& reply);

// The wait runs in 100 ms ticks. A time-out of 0 means 4 seconds.
inline constexpr int kKsynTickMs = 100;
inline constexpr int kKsynDefaultTimeout = 4;
int ksynEffectiveTimeout(int setTimeout);

// One tick of the wait: the tick count after it and what to show.
struct KsynTick {
    bool timedOut = false;
    int percent = 0; // progress of the wait, 0..100
};
// count is the tick count after this tick (1 for the first tick).
KsynTick ksynTick(int count, int setTimeout);

} // namespace tk

#pragma once
// Windows only: a COM port through the Win32 API, for the builds that have no
// Qt serial port module. Plain Win32 and the standard library, so it builds
// and can be tried without Qt.
//
// The port is opened exclusively ("\\.\COM12": the prefix is what makes
// numbers above 9 work), set to "<baud>,n,8,1" without flow control, reads
// never block (they return what the driver holds) and a write gives up
// after a bounded time, so a line with nobody on it never hangs the window.
#ifdef _WIN32
#include <cstdint>
#include <string>

namespace tk::win32 {

enum class SerialOpenFailure {
    None,
    InUse,   // another program holds it
    Missing, // no such port
    Other,
};

struct SerialOpenResult {
    SerialOpenFailure failure = SerialOpenFailure::None;
    unsigned long systemError = 0; // GetLastError() of the failed call
    bool ok() const { return failure == SerialOpenFailure::None; }
};

// "COM3" becomes "\\.\COM3"; a name that already starts with "\\" is kept.
std::wstring serialDevicePath(const std::wstring& name);

// The system's text for an error code, without the trailing line end.
std::wstring systemErrorText(unsigned long code);

// The longest a write may take before it counts as failed, whatever the
// baud rate: a KSYN frame takes milliseconds even at 300 baud.
inline constexpr unsigned long kWriteLimitMs = 3000;

class SerialHandle {
public:
    SerialHandle() = default;
    ~SerialHandle();
    SerialHandle(const SerialHandle&) = delete;
    SerialHandle& operator=(const SerialHandle&) = delete;

    // Opens the device for reading and writing, with reads that never wait.
    SerialOpenResult open(const std::wstring& name);
    // Sets baud,n,8,1 without flow control; false when the driver refuses.
    bool setLine(std::uint32_t baud);
    bool isOpen() const;
    void close();

    // Bytes the driver holds for reading; -1 on failure.
    long long pending() const;
    // Up to max bytes of what has arrived, without waiting; -1 on failure.
    long long read(char* data, long long max);
    // Writes all of data; the count written, -1 on failure or when the
    // write limit ran out first.
    long long write(const char* data, long long size);
    // GetLastError() of the last failed call.
    unsigned long lastError() const { return m_lastError; }

private:
    void* m_handle = nullptr; // a HANDLE; null when closed
    mutable unsigned long m_lastError = 0;
};

} // namespace tk::win32
#endif

#ifdef _WIN32
#include "platform/win32serial.h"

#include <windows.h>

namespace tk::win32 {

namespace {

SerialOpenFailure classify(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_INVALID_NAME: return SerialOpenFailure::Missing;
    // Windows answers "access denied" for a COM port another program holds.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return SerialOpenFailure::InUse;
    default: return SerialOpenFailure::Other;
    }
}

bool applyLineSettings(HANDLE handle, std::uint32_t baud)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        // Some drivers cannot report their state; every field that matters
        // is set below.
        dcb = DCB{};
        dcb.DCBlength = sizeof dcb;
    }
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(handle, &dcb) != 0;
}

bool applyTimeouts(HANDLE handle)
{
    COMMTIMEOUTS timeouts{};
    // Reads return at once with what has arrived.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteLimitMs;
    return SetCommTimeouts(handle, &timeouts) != 0;
}

} // namespace

std::wstring serialDevicePath(const std::wstring& name)
{
    if (name.rfind(L"\\\\", 0) == 0)
        return name;
    return L"\\\\.\\" + name;
}

std::wstring systemErrorText(unsigned long code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = length && text ? std::wstring(text, length) : std::wstring();
    if (text)
        LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' ||
                               result.back() == L' ' || result.back() == L'.'))
        result.pop_back();
    if (result.empty())
        result = L"System error " + std::to_wstring(code);
    return result;
}

SerialHandle::~SerialHandle()
{
    close();
}

SerialOpenResult SerialHandle::open(const std::wstring& name)
{
    close();
    HANDLE handle = CreateFileW(serialDevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                0, // exclusive, as COM ports are
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_lastError = GetLastError();
        return {classify(m_lastError), m_lastError};
    }
    if (!applyTimeouts(handle)) {
        m_lastError = GetLastError();
        CloseHandle(handle);
        return {SerialOpenFailure::Other, m_lastError};
    }
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    m_handle = handle;
    return {};
}

bool SerialHandle::setLine(std::uint32_t baud)
{
    if (!m_handle)
        return false;
    if (!applyLineSettings(static_cast<HANDLE>(m_handle), baud)) {
        m_lastError = GetLastError();
        return false;
    }
    return true;
}

bool SerialHandle::isOpen() const
{
    return m_handle != nullptr;
}

void SerialHandle::close()
{
    if (m_handle) {
        CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
}

long long SerialHandle::pending() const
{
    if (!m_handle)
        return -1;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(static_cast<HANDLE>(m_handle), &errors, &status)) {
        m_lastError = GetLastError();
        return -1;
    }
    return status.cbInQue;
}

long long SerialHandle::read(char* data, long long max)
{
    if (!m_handle)
        return -1;
    const DWORD wanted = static_cast<DWORD>(max < 0 ? 0 : (max > MAXDWORD ? MAXDWORD : max));
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(m_handle), data, wanted, &got, nullptr)) {
        m_lastError = GetLastError();
        return -1;
    }
    return got;
}

long long SerialHandle::write(const char* data, long long size)
{
    if (!m_handle)
        return -1;
    long long done = 0;
    while (done < size) {
        const long long left = size - done;
        const DWORD piece = static_cast<DWORD>(left > 65536 ? 65536 : left);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(m_handle), data + done, piece, &written, nullptr)) {
            m_lastError = GetLastError();
            return -1;
        }
        if (written == 0) { // the write limit ran out
            m_lastError = ERROR_TIMEOUT;
            return -1;
        }
        done += written;
    }
    return done;
}

} // namespace tk::win32
#endif

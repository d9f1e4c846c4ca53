// Library-wide state: the module handle, the count of live objects and locks
// that DllCanUnloadNow reports, and the identifiers of the two classes.
#pragma once

#include <windows.h>

namespace tkshell {

extern HINSTANCE g_module;

void objectCreated();
void objectDestroyed();
void lockServer(bool lock);
bool serverInUse();

// {D8741F86-56AF-4624-99B5-598A71CF6F89}
constexpr CLSID kClsidTkshellmenu = {
    0xD8741F86, 0x56AF, 0x4624, {0x99, 0xB5, 0x59, 0x8A, 0x71, 0xCF, 0x6F, 0x89}};
// {E30F253E-C90C-405C-A4E2-D014C52181E5}
constexpr CLSID kClsidMnuInfo = {
    0xE30F253E, 0xC90C, 0x405C, {0xA4, 0xE2, 0xD0, 0x14, 0xC5, 0x21, 0x81, 0xE5}};

constexpr const char* kProgIdTkshellmenu = "Orvanta.clsTkshellmenu";
constexpr const char* kProgIdMnuInfo = "Orvanta.mnuInfo";

} // namespace tkshell

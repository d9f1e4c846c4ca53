// Message boxes the extension shows on top of the file manager. They go through
// one sink so that a test can take them instead of a blocking window.
#pragma once

#include <string>
#include <windows.h>

namespace tkshell {

using MessageSink = void(WINAPI*)(HWND owner, const char* text, const char* title, UINT type);

void showMessage(HWND owner, const std::string& text, UINT type);
void setMessageSink(MessageSink sink); // null restores the real message box

} // namespace tkshell

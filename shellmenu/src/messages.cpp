#include "messages.h"

namespace tkshell {

namespace {

const char* const kTitle = "Tk650Downloader";

void WINAPI showMessageBox(HWND owner, const char* text, const char* title, UINT type)
{
    MessageBoxA(owner, text, title, type);
}

MessageSink g_sink = showMessageBox;

} // namespace

void showMessage(HWND owner, const std::string& text, UINT type)
{
    g_sink(owner, text.c_str(), kTitle, type);
}

void setMessageSink(MessageSink sink)
{
    g_sink = sink ? sink : showMessageBox;
}

} // namespace tkshell

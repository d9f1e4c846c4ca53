#include "scripteddialogs.h"

namespace tk::test {

MsgAnswer ScriptedDialogs::message(MsgIcon icon, const QString& title, const QString& text,
                                   MsgButtons buttons)
{
    shown.append({icon, title, text, buttons});
    if (!answers.empty()) {
        const auto a = answers.front();
        answers.pop_front();
        return a;
    }
    switch (buttons) {
    case MsgButtons::Ok:
    case MsgButtons::OkCancel: return MsgAnswer::Ok;
    case MsgButtons::YesNo: return MsgAnswer::Yes;
    case MsgButtons::RetryCancel: return MsgAnswer::Cancel;
    }
    return MsgAnswer::Ok;
}

QString ScriptedDialogs::saveFile(const FileDialogRequest& request)
{
    saveRequests.append(request);
    return nextFile();
}

QString ScriptedDialogs::openFile(const FileDialogRequest& request)
{
    fileRequests.append(request);
    return nextFile();
}

QString ScriptedDialogs::nextFile()
{
    if (files.empty())
        return {};
    const auto f = files.front();
    files.pop_front();
    return f;
}

} // namespace tk::test

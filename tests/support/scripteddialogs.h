#pragma once
// Dialogs for tests: every call is recorded (icon, title, text) and answered
// from a script; an unscripted question gets the default answer.
#include "platform/dialogs.h"

#include <QList>
#include <QStringList>
#include <deque>

namespace tk::test {

struct ShownMessage {
    MsgIcon icon;
    QString title;
    QString text;
    MsgButtons buttons;
};

class ScriptedDialogs : public Dialogs {
public:
    MsgAnswer message(MsgIcon icon, const QString& title, const QString& text,
                      MsgButtons buttons) override;
    QString openFile(const FileDialogRequest& request) override;
    // Answered from `files` too; the request is kept in saveRequests.
    QString saveFile(const FileDialogRequest& request) override;

    // Answers for the next questions, in order.
    std::deque<MsgAnswer> answers;
    // Results for the next file dialogs, in order; none left means "cancelled".
    std::deque<QString> files;

    QList<ShownMessage> shown;
    QList<FileDialogRequest> fileRequests;
    QList<FileDialogRequest> saveRequests;

private:
    QString nextFile();
};

} // namespace tk::test

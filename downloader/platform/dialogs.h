#pragma once
// Every message box, question and file dialog of the program goes through
// this interface, so that tests can answer them and unattended runs can be
// shown never to reach one.
#include <QString>
#include <QStringList>
#include <memory>

class QDialog;
class QWidget;

namespace tk {

enum class MsgIcon { None, Critical, Exclamation, Information, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, RetryCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry };

struct FileDialogRequest {
    QString title;
    QString fileName; // initial file name
    QString filter;   // Qt filter text, e.g. "pdt.exe (pdt.exe)"
    QString initialDir;
};

// The window QtDialogs::message shows, built but not yet shown: an icon, the
// text and the buttons; it keeps its size, and a text taller than the screen
// scrolls. exec() gives 1 + the MsgAnswer of the button pressed, 0 when it
// was closed by its frame or Escape.
std::unique_ptr<QDialog> makeMessageWindow(MsgIcon icon, const QString& title, const QString& text,
                                           MsgButtons buttons);

// A modal window keeps its size: its layout fixes it, the title bar has no
// minimise or maximise button, and widthCarrier is made wide enough for the
// caption in the title bar (window managers often draw it bold, centred
// between the icon and the buttons).
void makeFixedSizeWindow(QWidget* window, QWidget* widthCarrier);

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Shows a message box; text is always shown as plain text.
    virtual MsgAnswer message(MsgIcon icon, const QString& title, const QString& text,
                              MsgButtons buttons = MsgButtons::Ok) = 0;
    // Asks for an existing file; an empty result means the user cancelled.
    virtual QString openFile(const FileDialogRequest& request) = 0;
    // Asks for a file to write (a replaced file confirmed); empty: cancelled.
    virtual QString saveFile(const FileDialogRequest& request) = 0;
};

// The real dialogs: QMessageBox and QFileDialog, plain text only.
class QtDialogs : public Dialogs {
public:
    MsgAnswer message(MsgIcon icon, const QString& title, const QString& text,
                      MsgButtons buttons) override;
    QString openFile(const FileDialogRequest& request) override;
    QString saveFile(const FileDialogRequest& request) override;
};

// Unattended runs: nothing may wait for a person. A message goes to standard
// error (title and text on one line) and every question gets its cautious
// answer (Cancel or No); file dialogs are cancelled.
class UnattendedDialogs : public Dialogs {
public:
    MsgAnswer message(MsgIcon icon, const QString& title, const QString& text,
                      MsgButtons buttons) override;
    QString openFile(const FileDialogRequest& request) override;
    QString saveFile(const FileDialogRequest& request) override;
};

} // namespace tk

#pragma once
// The network tab's download options: the file box with Browse and dropped
// files, the download type, the permission and owner lists with their tips,
// and the post-download boxes. The Send action reads the announced values
// from here.
#include <QObject>
#include <QString>

namespace tk {

class frmmain;

class NetworkOptions : public QObject {
    Q_OBJECT
public:
    explicit NetworkOptions(frmmain& w);

    // Permission field of the announcement: the three digits shown, or the
    // fixed "644" while the lists are disabled (packages).
    QString permissions() const;
    QString owner() const;
    bool fullSelected() const;

    // Sets the three permission lists to the preset for this file (7-5-5 for
    // executables, 6-4-4 otherwise).
    void applyPresetFor(const QString& path);
    void showPermissions(int owner, int group, int others);

    // The Browse button.
    void browse();
    // Files dropped onto the file box: the first one is taken.
    void takeDroppedFile(const QString& path);

private:
    void pathChanged(const QString& text);
    void permissionScrolled(int list);

    frmmain& m_w;
};

} // namespace tk

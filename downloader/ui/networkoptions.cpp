#include "ui/networkoptions.h"

#include "core/downloadoptions.h"
#include "core/protocol.h"
#include "ui/filedrop.h"
#include "ui/frmmain.h"
#include "ui/onelinelist.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>

namespace tk {

namespace {

std::optional<std::string> firstBytesOf(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::string();
    return f.read(kExecutableProbeBytes).toStdString();
}

} // namespace

NetworkOptions::NetworkOptions(frmmain& w) : QObject(&w), m_w(w)
{
    showPermissions(kExecutablePermissions.owner, kExecutablePermissions.group,
                    kExecutablePermissions.others);
    m_w.listNetO->showEntry(QStringLiteral("usr1"));

    for (int i = 0; i < 3; ++i)
        connect(m_w.listNetP[static_cast<size_t>(i)], &OneLineList::topIndexChanged, this,
                [this, i] { permissionScrolled(i); });
    connect(m_w.listNetO, &OneLineList::topIndexChanged, this, [this] {
        m_w.optNetworkFull->setToolTip(QString::fromStdString(fullTypeTip(owner().toStdString())));
    });
    connect(m_w.optNetworkFull, &QRadioButton::toggled, m_w.lblFullDLType, &QWidget::setVisible);
    // The two post-download choices exclude each other.
    connect(m_w.chkReboot, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_w.chkRunApp->setChecked(false);
    });
    connect(m_w.chkRunApp, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_w.chkReboot->setChecked(false);
    });
    connect(m_w.txtfilen, &QLineEdit::textChanged, this, &NetworkOptions::pathChanged);
    connect(m_w.cmdBrowse, &QPushButton::clicked, this, &NetworkOptions::browse);
    acceptFileDrops(m_w.txtfilen, [this](const QString& path) { takeDroppedFile(path); });
}

QString NetworkOptions::permissions() const
{
    if (!m_w.listNetP[0]->isEnabledTo(m_w.framePerms))
        return QString::fromLatin1(kPackagePermissions);
    QString digits;
    for (const auto* list : m_w.listNetP)
        digits += list->topText();
    return digits;
}

QString NetworkOptions::owner() const
{
    return m_w.listNetO->topText();
}

bool NetworkOptions::fullSelected() const
{
    return m_w.optNetworkFull->isChecked();
}

void NetworkOptions::showPermissions(int owner, int group, int others)
{
    const int digits[3] = {owner, group, others};
    for (int i = 0; i < 3; ++i)
        m_w.listNetP[static_cast<size_t>(i)]->showEntry(QString::number(digits[i]));
}

void NetworkOptions::applyPresetFor(const QString& path)
{
    const auto preset = permissionPreset(
        isExecutableFile(QFile::encodeName(path).toStdString(), firstBytesOf(path)));
    showPermissions(preset.owner, preset.group, preset.others);
}

void NetworkOptions::browse()
{
    FileDialogRequest request;
    request.title = QString::fromLatin1(kSelectFileTitle);
    request.filter = QString::fromStdString(qtFileFilter(kSelectFileFilter));
    const QString current = m_w.txtfilen->text();
    const QFileInfo info(current);
    request.initialDir = m_w.fileDialogDir;
    if (!current.isEmpty() && info.exists() && info.isFile()) {
        request.fileName = current;
        request.initialDir = info.absolutePath();
    }
    const QString chosen = m_w.env().dialogs->openFile(request);
    if (chosen.isEmpty())
        return;
    m_w.txtfilen->setText(chosen);
    applyPresetFor(chosen);
    m_w.cmdSend->setFocus();
}

void NetworkOptions::takeDroppedFile(const QString& path)
{
    if (path.isEmpty())
        return;
    m_w.txtfilen->setText(path);
    applyPresetFor(path);
}

void NetworkOptions::pathChanged(const QString& text)
{
    const bool package = proto::isPackageName(QFile::encodeName(text).toStdString());
    for (auto* list : m_w.listNetP)
        list->setEnabled(!package);
    // Both tabs name the same file.
    if (m_w.txtfile && m_w.txtfile->text() != text)
        m_w.txtfile->setText(text);
}

void NetworkOptions::permissionScrolled(int list)
{
    auto* l = m_w.listNetP[static_cast<size_t>(list)];
    l->setToolTip(QString::fromStdString(permissionTip(l->topText().toInt())));
}

} // namespace tk

#include "ui/fixedfont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace tk {

QFont fixedPitchFont(const QString& preferredFamily)
{
    return fixedPitchFont(preferredFamily, QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

QFont fixedPitchFont(const QString& preferredFamily, const QFont& systemFixed)
{
    QFont preferred(preferredFamily);
    preferred.setStyleHint(QFont::TypeWriter);
    preferred.setFixedPitch(true);
    if (QFontInfo(preferred).fixedPitch())
        return preferred;

    if (QFontInfo(systemFixed).fixedPitch())
        return systemFixed;

    for (const QString& family : QFontDatabase::families()) {
        if (!QFontDatabase::isFixedPitch(family))
            continue;
        QFont font(family);
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        if (QFontInfo(font).fixedPitch())
            return font;
    }
    return preferred;
}

} // namespace tk

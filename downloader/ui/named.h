#pragma once
// Windows build their controls with this: every control carries its control
// name as its object name, which is how the tests and the settings find it.
#include <QString>

namespace tk {

template <typename W> W* named(W* w, const char* name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

} // namespace tk

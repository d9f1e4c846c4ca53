#include "platform/programenv.h"

#include <cstdlib>

namespace tk {

void exitProcessNow(int code)
{
    std::_Exit(code);
}

std::unique_ptr<QSettings> openUserStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Quillon"), QString::fromLatin1(kProgramTitle));
}

} // namespace tk

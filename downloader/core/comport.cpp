#include "core/comport.h"

namespace tk {

std::string comPortOverrideVariable(int port)
{
    return "TK650_COM" + std::to_string(port);
}

std::string comPortDevice(int port, const std::optional<std::string>& override, bool windows)
{
    if (port < 1)
        return {};
    if (override && !override->empty())
        return *override;
    if (windows)
        return "COM" + std::to_string(port);
    return "/dev/ttyS" + std::to_string(port - 1);
}

} // namespace tk

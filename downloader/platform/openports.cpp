#include "platform/openports.h"

#include <QIODevice>
#include <QPointer>
#include <algorithm>
#include <vector>

namespace tk {

namespace {

std::vector<QPointer<QIODevice>>& held()
{
    static std::vector<QPointer<QIODevice>> ports;
    return ports;
}

void forget(const QIODevice* port)
{
    auto& ports = held();
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [port](const QPointer<QIODevice>& p) { return !p || p == port; }),
                ports.end());
}

} // namespace

void holdOpenPort(QIODevice* port)
{
    if (!port || !port->isOpen())
        return;
    forget(port);
    held().emplace_back(port);
    QObject::connect(
        port, &QIODevice::aboutToClose, port, [port] { forget(port); }, Qt::UniqueConnection);
}

int closeOpenPorts()
{
    // Closing calls forget(): work on a copy.
    const auto ports = held();
    int closed = 0;
    for (const QPointer<QIODevice>& port : ports) {
        if (port && port->isOpen()) {
            port->close();
            ++closed;
        }
    }
    held().clear();
    return closed;
}

} // namespace tk

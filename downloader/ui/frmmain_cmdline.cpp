// The command-line parsers. For now each records the text it was given; the
// grammar of the switches comes with the command-line work.
#include "ui/frmmain.h"

namespace tk {

void frmmain::parseSerialArgs(const QString& args)
{
    serialArgsGiven = args.isNull() ? QStringLiteral("") : args;
}

void frmmain::parseNetworkArgs(const QString& args)
{
    networkArgsGiven = args.isNull() ? QStringLiteral("") : args;
}

void frmmain::parseKsynArgs(const QString& args)
{
    ksynArgsGiven = args.isNull() ? QStringLiteral("") : args;
}

} // namespace tk

#include "Wording.h"

namespace bridge {

PortWording portWording()
{
    return {QStringLiteral("run orva-bridge with --device {device}"), QStringLiteral("--device"),
            QStringLiteral("orva-bridge --device {device}"), QStringLiteral("the bridge tries again every few seconds."),
            QStringLiteral("The bridge tries again every few seconds.")};
}

} // namespace bridge

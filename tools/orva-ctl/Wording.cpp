#include "Wording.h"

namespace ctl {

PortWording portWording()
{
    return {QStringLiteral("run orva-ctl with --port {device} (or set ORVA_PORT={device})"), QStringLiteral("--port"),
            QStringLiteral("orva-ctl --port {device} status"), QStringLiteral("then run the command again."),
            QStringLiteral("Run the command again once the device is back.")};
}

} // namespace ctl

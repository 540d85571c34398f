#pragma once
// How orva-ctl's failure texts tell its user to name another device and try again.

#include "serial/PortWording.h"

namespace ctl {
PortWording portWording();
}

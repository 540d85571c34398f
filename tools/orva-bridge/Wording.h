#pragma once
// How orva-bridge's failure texts tell its user to name another device, and that
// it tries again by itself.

#include "serial/PortWording.h"

namespace bridge {
PortWording portWording();
}

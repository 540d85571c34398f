#pragma once
// The serial ports the system has, one line each, for --list-ports and orva-ctl ports.

#include <QString>

// "DEVICE<TAB>DESCRIPTION<TAB>MANUFACTURER<TAB>VID:PID<TAB>SERIAL" per port, each
// line ending in a newline; "-" for what the system does not know.
QString serialPortListing();

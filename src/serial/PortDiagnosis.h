#pragma once
// Why a serial device could not be opened, as the system tells it: who holds it (a
// lock file naming a live process, another program's exclusive access), a lock file
// of a program that has ended, the user's access, a missing device and the serial
// ports there are, a file that is no device. Read from the lock files, /proc and the
// device's node, never by opening the device.

#include "PortFailure.h"

#include <QString>
#include <optional>

// Another program holds `path` with exclusive access (TIOCEXCL). Only asked for
// root, whom the kernel lets open such a device anyway; everyone else is refused
// by the open itself.
std::optional<PortFailure> heldByAnother(const QString &path);

// How the open was refused, as QSerialPort tells it.
enum class OpenRefusal { NotFound, Permission, Other };
// What failed when opening `path` was refused with `what` (the system's words).
PortFailure diagnoseOpenFailure(const QString &path, OpenRefusal refusal, const QString &what);

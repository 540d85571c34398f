#pragma once
// The texts of a failed or lost port. The first line is the short form, what
// happened and the device ("Permission denied: /dev/ttyS0"); the lines after it say
// what that means and what to do. What to do names the program's own ways: how its
// user names another device and tries again, which each program gives as its
// wording. In the templates {port} stands for the port number, {device} for a device.

#include "PortFailure.h"

#include <QString>

struct PortWording {
    QString useDevice;  // "start the panel with --com{port} {device}"
    QString option;     // "--com{port}": the option that names the port's device
    QString example;    // "orva-panel --com{port} {device}"
    QString tryAgain;   // "then choose the port again with the COM button."
    QString afterLoss;  // "Choose COM1 or COM2 (COM button) to open it again."

    // The whole text of `failure`: its short form, then what to do.
    QString describe(const PortFailure &failure) const;
};

// The panel's: the --com1 and --com2 options, the COM button.
PortWording panelWording();

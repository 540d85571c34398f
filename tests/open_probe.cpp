// A second program for the serial tests: opens one device with the panel's serial
// control and prints what the open said ("opened" or the failure's text).
//   open-probe [--as-nobody] PATH   open, print, exit (status 0 when opened)
//   open-probe --hold PATH          open, print, keep the port until stdin ends
// --as-nobody drops root to the user nobody first, since root passes permission
// checks and exclusive access that the panel's users meet.

#include "serial/QtSerialControl.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bool asNobody = false, hold = false;
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--as-nobody") == 0)
            asNobody = true;
        else if (std::strcmp(argv[i], "--hold") == 0)
            hold = true;
        else
            path = argv[i];
    }
    if (!path) {
        std::fputs("usage: open-probe [--as-nobody|--hold] PATH\n", stderr);
        return 2;
    }
    if (asNobody && ::geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) {
            std::perror("open-probe: cannot become nobody");
            return 2;
        }
    }
    QtSerialControl serial({{1, QString::fromLocal8Bit(path)}});
    const SerialResult failed = serial.setPortOpen(true);
    std::fputs(failed ? failed->description.toLocal8Bit().constData() : "opened", stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (hold && !failed) {
        char c;
        while (::read(STDIN_FILENO, &c, 1) > 0) {
        }
    }
    return failed ? 1 : 0;
}

/* The power status query done by hand with termios, the floor for orva-ctl
 * status: open the port, raw 19200 8N1, send "CR0" CR, read up to the CR
 * within the reply window, print the decoded power status.
 *
 *   bench_status_termios DEVICE
 *
 * Exit status as orva-ctl's: 0 a decoded status; 1 another answer; 2 no reply
 * in the reply window; 3 port error; 64 usage error. */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum { replyWindowMs = 500 };

static long long nowMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static int portError(const char *what, const char *device)
{
    fprintf(stderr, "bench_status_termios: %s %s: %s\n", what, device, strerror(errno));
    return 3;
}

/* Raw 8N1 at 19200 baud, no flow control; reads return what has arrived. */
static int makeRaw(int fd)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return -1;
    t.c_iflag &= ~(tcflag_t)(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~(tcflag_t)OPOST;
    t.c_lflag &= ~(tcflag_t)(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | CSTOPB);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, B19200) != 0 || cfsetospeed(&t, B19200) != 0)
        return -1;
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        return -1;
    return tcflush(fd, TCIFLUSH);
}

static const char *powerText(const char *code)
{
    static const char *const table[][2] = {
        {"00", "Power ON"}, {"80", "Stand by"}, {"40", "Count down"}, {"20", "Cooling down"}};
    for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i) {
        if (strcmp(code, table[i][0]) == 0)
            return table[i][1];
    }
    return NULL;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 64;
    }
    const char *device = argv[1];
    const int fd = open(device, O_RDWR | O_NOCTTY);
    if (fd < 0)
        return portError("open", device);
    if (makeRaw(fd) != 0)
        return portError("configure", device);

    static const char query[] = "CR0\r";
    for (size_t sent = 0; sent < sizeof query - 1;) {
        const ssize_t n = write(fd, query + sent, sizeof query - 1 - sent);
        if (n < 0 && errno != EINTR)
            return portError("write", device);
        if (n > 0)
            sent += (size_t)n;
    }

    char reply[64];
    size_t got = 0;
    const long long deadline = nowMs() + replyWindowMs;
    while (got == 0 || reply[got - 1] != '\r') {
        if (got == sizeof reply - 1) {
            fprintf(stderr, "bench_status_termios: no CR in %zu bytes\n", got);
            return 1;
        }
        const long long left = deadline - nowMs();
        if (left <= 0) {
            fprintf(stderr, "bench_status_termios: no reply in %d ms\n", replyWindowMs);
            return 2;
        }
        struct pollfd pfd = {.fd = fd, .events = POLLIN, .revents = 0};
        const int ready = poll(&pfd, 1, (int)left);
        if (ready < 0 && errno != EINTR)
            return portError("poll", device);
        if (ready <= 0)
            continue;
        const ssize_t n = read(fd, reply + got, sizeof reply - 1 - got);
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return portError("read", device);
        if (n == 0) {
            fprintf(stderr, "bench_status_termios: %s hung up\n", device);
            return 3;
        }
        if (n > 0)
            got += (size_t)n;
    }
    close(fd);

    reply[got - 1] = '\0';
    const char *text = powerText(reply);
    printf("%s\n", text ? text : reply);
    return text ? 0 : 1;
}

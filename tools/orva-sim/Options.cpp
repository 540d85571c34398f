#include "Options.h"

#include <charconv>
#include <string_view>

namespace orvasim {

namespace {

bool parseNumber(std::string_view text, int64_t min, int64_t max, int64_t &out)
{
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max)
        return false;
    out = v;
    return true;
}

std::optional<speed_t> speedFor(int64_t baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return std::nullopt;
    }
}

} // namespace

uint32_t baudOf(speed_t speed)
{
    for (const int64_t baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400}) {
        if (speedFor(baud) == speed)
            return static_cast<uint32_t>(baud);
    }
    return 0;
}

void printUsage(FILE *to)
{
    std::fputs(
        "Usage: orva-sim [options]\n"
        "Simulates a data projector on an RS-232 line. Without --device it opens a\n"
        "pseudo-terminal and prints the path of its slave side as the first line on\n"
        "stdout; open that path with the panel.\n"
        "\n"
        "  --device PATH          serve on this serial device instead of a pseudo-terminal\n"
        "  --tcp PORT             listen on 127.0.0.1:PORT instead (0: a free port) and\n"
        "                         print tcp://127.0.0.1:<port> as the first line; one\n"
        "                         client at a time, the next waits until it leaves\n"
        "  --baud N               line speed (default 19200); paces --flood. On a\n"
        "                         pseudo-terminal, while the panel's end is set to\n"
        "                         another speed, every reply is sent as a UART at the\n"
        "                         panel's speed would read it: mangled bytes\n"
        "  --countdown-ms N       power-on count down (default 3000)\n"
        "  --cooldown-ms N        power-off cooling down (default 5000)\n"
        "  --on                   start powered on instead of in standby\n"
        "  --lamp-hours N         lamp time reported by CR3, 0..99999 (default 1234)\n"
        "  --pressure N           value reported by CR PRESSURE (default 512)\n"
        "  --silent               never answer\n"
        "  --delay-ms N           answer N ms late\n"
        "  --split N              send replies in pieces of N bytes\n"
        "  --split-gap-ms M       pause between pieces (default 20)\n"
        "  --garbage              answer every command with random control and 8-bit\n"
        "                         bytes followed by CR\n"
        "  --seed N               seed for --garbage and --flood (default: time based)\n"
        "  --flood                send digits and CRs at line rate without being asked;\n"
        "                         commands are still read but not answered\n"
        "  --log                  log commands and replies to stderr:\n"
        "                         \"<ms> RX <code>\" and \"<ms> TX <hex bytes>\"\n"
        "  --exit-on-stdin-eof    exit when standard input reaches end of file\n"
        "  --state NAME           start in this state (repeatable, applied in order)\n"
        "  --help                 show this text\n"
        "\n"
        "States, for --state and for the control command \"!STATE NAME\" followed by CR\n"
        "on the line (answered with ACK, or \"?\" CR for an unknown name; projector\n"
        "commands never start with \"!\"):\n",
        to);
    for (const StateInfo &s : Projector::states())
        std::fprintf(to, "  %-28s %.*s\n", std::string(s.name).c_str(), static_cast<int>(s.meaning.size()),
                     s.meaning.data());
    std::fputs("\n"
               "Exits with status 0 on SIGTERM, SIGINT or SIGHUP.\n",
               to);
}

std::variant<Options, int> parseArgs(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string_view::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        auto fail = [&](const std::string &why) {
            std::fprintf(stderr, "orva-sim: %s\nTry 'orva-sim --help'.\n", why.c_str());
            return 2;
        };
        auto flag = [&](bool &target) -> bool {
            if (inlineValue)
                return false;
            target = true;
            return true;
        };
        auto value = [&](std::string_view &out) -> bool {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        auto number = [&](int64_t min, int64_t max, int64_t &out) -> std::optional<int> {
            std::string_view v;
            if (!value(v))
                return fail(std::string(arg) + " needs a value");
            if (!parseNumber(v, min, max, out))
                return fail(std::string(arg) + ": expected a whole number from " + std::to_string(min)
                            + " to " + std::to_string(max) + ", got '" + std::string(v) + "'");
            return std::nullopt;
        };

        std::optional<int> err;
        int64_t n = 0;
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (arg == "--device") {
            std::string_view v;
            if (!value(v) || v.empty())
                return fail("--device needs a path");
            o.device = std::string(v);
        } else if (arg == "--tcp") {
            if (!(err = number(0, 65535, n)))
                o.tcpPort = static_cast<int>(n);
        } else if (arg == "--baud") {
            if (!(err = number(1, 4000000, o.baud))) {
                if (const auto s = speedFor(o.baud))
                    o.speed = *s;
                else
                    return fail("--baud: unsupported speed " + std::to_string(o.baud)
                                + " (1200 2400 4800 9600 19200 38400 57600 115200 230400)");
            }
        } else if (arg == "--countdown-ms") {
            err = number(0, 86400000, o.projector.countdownMs);
        } else if (arg == "--cooldown-ms") {
            err = number(0, 86400000, o.projector.cooldownMs);
        } else if (arg == "--on") {
            if (!flag(o.projector.startOn))
                return fail("--on takes no value");
        } else if (arg == "--lamp-hours") {
            if (!(err = number(0, Projector::kMaxLampHours, n)))
                o.projector.lampHours = static_cast<uint32_t>(n);
        } else if (arg == "--pressure") {
            if (!(err = number(0, 99999, n)))
                o.projector.pressure = static_cast<uint32_t>(n);
        } else if (arg == "--silent") {
            if (!flag(o.silent))
                return fail("--silent takes no value");
        } else if (arg == "--delay-ms") {
            err = number(0, 600000, o.delayMs);
        } else if (arg == "--split") {
            err = number(0, 4096, o.splitBytes);
        } else if (arg == "--split-gap-ms") {
            err = number(0, 60000, o.splitGapMs);
        } else if (arg == "--garbage") {
            if (!flag(o.garbage))
                return fail("--garbage takes no value");
        } else if (arg == "--seed") {
            std::string_view v;
            uint64_t seed = 0;
            if (!value(v))
                return fail("--seed needs a value");
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seed);
            if (ec != std::errc() || end != v.data() + v.size())
                return fail("--seed: expected an unsigned whole number, got '" + std::string(v) + "'");
            o.seed = seed;
        } else if (arg == "--flood") {
            if (!flag(o.flood))
                return fail("--flood takes no value");
        } else if (arg == "--log") {
            if (!flag(o.log))
                return fail("--log takes no value");
        } else if (arg == "--exit-on-stdin-eof") {
            if (!flag(o.exitOnStdinEof))
                return fail("--exit-on-stdin-eof takes no value");
        } else if (arg == "--state") {
            std::string_view v;
            if (!value(v))
                return fail("--state needs a name");
            if (!Projector::isState(v))
                return fail("--state: unknown state '" + std::string(v) + "' (see --help)");
            o.states.emplace_back(v);
        } else {
            return fail("unknown option '" + std::string(argv[i]) + "'");
        }
        if (err)
            return *err;
    }
    if (o.tcpPort && !o.device.empty()) {
        std::fprintf(stderr, "orva-sim: --tcp and --device exclude each other\nTry 'orva-sim --help'.\n");
        return 2;
    }
    return o;
}

} // namespace orvasim

// Fuzzes what the bridge reads from web clients itself (byte 0 picks which): a
// page's WebSocket message, an API path, an HTTP Basic header, a Cookie header and
// a login form's body.

#include "WebRequests.h"

#include <cstdlib>

static void check(bool condition) { if (!condition) std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 5) {
    case 0: {
        const web::Message m = web::readMessage(input);
        // Something named, from no more than was sent.
        check(m.kind != web::Message::Kind::Unknown || m.value.isEmpty());
        check(m.value.size() <= input.size());
        break;
    }
    case 1: {
        const QStringList path = QString::fromLatin1(input).split(u'/');
        const web::ApiTarget t = web::apiTarget(path);
        // Only api/projectors[/<id>[/commands/<name>]] names anything, and what it
        // names are the path's own segments.
        check(t.kind == web::ApiTarget::Kind::None || (path.value(0) == u"api" && path.value(1) == u"projectors"));
        check(t.id == (t.kind >= web::ApiTarget::Kind::Projector ? path.value(2) : QString()));
        check(t.command == (t.kind == web::ApiTarget::Kind::Command ? path.value(4) : QString()));
        break;
    }
    case 2:
        check(web::basicPassword(input).size() <= input.size());
        break;
    case 3:
        check(web::cookieValue(input, "orva-session").size() <= input.size());
        break;
    default:
        web::formValue(input, QStringLiteral("password"));
        break;
    }
    return 0;
}

#pragma once
// What the bridge reads from web clients itself (Qt HTTP Server and Qt WebSockets
// parse the protocols): a page's WebSocket messages, the API's paths, the password
// of HTTP Basic and of the login form, the session cookie. Pure functions.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace web {

// A page's message: {"click": control}, {"press": control}, {"held": control},
// {"release": control}, {"send": text}; anything else is Unknown.
struct Message {
    enum class Kind { Unknown, Click, Press, Held, Release, Send };
    Kind kind = Kind::Unknown;
    QString value;  // the control's name, or the text to send
};
Message readMessage(const QByteArray &json);

// What an API path names: its segments after the first '/', "api" first, as sent.
struct ApiTarget {
    enum class Kind { None, List, Projector, Command };
    Kind kind = Kind::None;
    QString id;       // Projector, Command
    QString command;  // Command
};
ApiTarget apiTarget(const QStringList &path);

// The password of an "Authorization: Basic" header (any user name); empty for none.
QByteArray basicPassword(const QByteArray &authorization);
// A cookie's value from a Cookie header; empty for none.
QByteArray cookieValue(const QByteArray &cookies, const QByteArray &name);
// A field of a form's body (application/x-www-form-urlencoded), decoded.
QByteArray formValue(const QByteArray &body, const QString &name);

} // namespace web

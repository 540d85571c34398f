#include "WebRequests.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

namespace web {

Message readMessage(const QByteArray &json)
{
    const QJsonObject m = QJsonDocument::fromJson(json).object();
    if (m.size() != 1)
        return {};
    constexpr std::pair<const char *, Message::Kind> kKinds[] = {{"click", Message::Kind::Click}, {"press", Message::Kind::Press},
                                                                {"held", Message::Kind::Held},   {"release", Message::Kind::Release},
                                                                {"send", Message::Kind::Send}};
    for (const auto &[key, kind] : kKinds)
        if (const QJsonValue value = m.value(QLatin1String(key)); value.isString())
            return {kind, value.toString()};
    return {};
}

ApiTarget apiTarget(const QStringList &path)
{
    if (path.size() < 2 || path.size() == 4 || path.size() > 5 || path[0] != u"api" || path[1] != u"projectors")
        return {};
    if (path.size() == 2)
        return {ApiTarget::Kind::List, {}, {}};
    if (path.size() == 3)
        return {ApiTarget::Kind::Projector, path[2], {}};
    if (path[3] != u"commands")
        return {};
    return {ApiTarget::Kind::Command, path[2], path[4]};
}

QByteArray basicPassword(const QByteArray &authorization)
{
    if (!authorization.startsWith("Basic "))
        return {};
    const QByteArray pair = QByteArray::fromBase64(authorization.mid(6).trimmed());
    const qsizetype colon = pair.indexOf(':');
    return colon >= 0 ? pair.mid(colon + 1) : QByteArray();
}

QByteArray cookieValue(const QByteArray &cookies, const QByteArray &name)
{
    for (const QByteArray &cookie : cookies.split(';'))
        if (const QByteArray c = cookie.trimmed(); c.startsWith(name + '='))
            return c.mid(name.size() + 1);
    return {};
}

QByteArray formValue(const QByteArray &body, const QString &name)
{
    // A form encodes a blank as '+', which QUrlQuery leaves as it is.
    return QUrlQuery(QString::fromUtf8(body).replace(u'+', QStringLiteral("%20")))
        .queryItemValue(name, QUrl::FullyDecoded)
        .toUtf8();
}

} // namespace web

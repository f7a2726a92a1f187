#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

#include "web/WebUsers.h"

namespace merival {

// A logged-in browser: its cookie value and the token its pages send back with every POST.
struct WebSession {
    QByteArray id;
    QByteArray csrf;
    QString user;
    WebRole role = WebRole::Reader;
    qint64 lastSeenMs = 0;
};

// 32 random bytes as hexadecimal.
[[nodiscard]] QByteArray RandomToken();
// Equal without telling how much of it is (timing).
[[nodiscard]] bool SameToken(const QByteArray& a, const QByteArray& b);
// One cookie's value out of a Cookie header.
[[nodiscard]] QByteArray CookieValue(const QByteArray& header, const QByteArray& name);

// Sessions of the server thread; each ends after 12 h without a request.
class WebSessions {
public:
    static constexpr qint64 kIdleMs = 12LL * 3600 * 1000;

    WebSession Open(const QString& user, WebRole role, qint64 nowMs);
    // The session of this cookie value, touched; none when unknown or expired.
    [[nodiscard]] const WebSession* Find(const QByteArray& id, qint64 nowMs);
    // Still open, without counting as a request: a live page alone does not keep it.
    [[nodiscard]] bool Alive(const QByteArray& id, qint64 nowMs) const;
    void Close(const QByteArray& id);
    // A user's sessions end when their role or password may have changed.
    void CloseUser(const QString& user);

private:
    QHash<QByteArray, WebSession> sessions_;
};

// After a failed login, that name and that address wait: 1 s, then twice as long at each new
// failure up to 5 min; a success forgets the name's failures.
class LoginThrottle {
public:
    // 0 when a try is allowed now, else the milliseconds left.
    [[nodiscard]] qint64 WaitMs(const QString& user, const QString& address, qint64 nowMs) const;
    void Failed(const QString& user, const QString& address, qint64 nowMs);
    void Succeeded(const QString& user);

private:
    struct Entry {
        int failures = 0;
        qint64 untilMs = 0;
    };
    void Bump(Entry& e, qint64 nowMs);
    QHash<QString, Entry> users_;
    QHash<QString, Entry> addresses_;
};

// A POST is ours when its Origin (or, without one, its Referer) is this server as the browser
// named it in Host.
[[nodiscard]] bool SameOrigin(const QByteArray& origin, const QByteArray& referer,
                              const QByteArray& host, bool tls);

}  // namespace merival

#include "web/WebAccess.h"

#include <sodium.h>

#include <QUrl>

namespace merival {

QByteArray RandomToken() {
    unsigned char bytes[32];
    if (sodium_init() < 0) {
        qFatal("libsodium ne démarre pas");
    }
    randombytes_buf(bytes, sizeof bytes);
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes).toHex();
}

bool SameToken(const QByteArray& a, const QByteArray& b) {
    return !a.isEmpty() && a.size() == b.size() &&
           sodium_memcmp(a.constData(), b.constData(), static_cast<size_t>(a.size())) == 0;
}

QByteArray CookieValue(const QByteArray& header, const QByteArray& name) {
    for (const QByteArray& part : header.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(name + '=')) {
            return item.mid(name.size() + 1);
        }
    }
    return {};
}

WebSession WebSessions::Open(const QString& user, WebRole role, qint64 nowMs) {
    WebSession s{RandomToken(), RandomToken(), user, role, nowMs};
    sessions_.insert(s.id, s);
    return s;
}

const WebSession* WebSessions::Find(const QByteArray& id, qint64 nowMs) {
    const auto it = sessions_.find(id);
    if (id.isEmpty() || it == sessions_.end()) {
        return nullptr;
    }
    if (nowMs - it->lastSeenMs > kIdleMs) {
        sessions_.erase(it);
        return nullptr;
    }
    it->lastSeenMs = nowMs;
    return &*it;
}

bool WebSessions::Alive(const QByteArray& id, qint64 nowMs) const {
    const auto it = sessions_.constFind(id);
    return it != sessions_.cend() && nowMs - it->lastSeenMs <= kIdleMs;
}

void WebSessions::Close(const QByteArray& id) {
    sessions_.remove(id);
}

void WebSessions::CloseUser(const QString& user) {
    sessions_.removeIf([&](const auto& entry) { return entry.value().user == user; });
}

qint64 LoginThrottle::WaitMs(const QString& user, const QString& address, qint64 nowMs) const {
    const qint64 until = std::max(users_.value(user).untilMs, addresses_.value(address).untilMs);
    return std::max<qint64>(0, until - nowMs);
}

void LoginThrottle::Bump(Entry& e, qint64 nowMs) {
    e.failures = std::min(e.failures + 1, 20);
    e.untilMs = nowMs + std::min<qint64>(1000LL << (e.failures - 1), 300000);
}

void LoginThrottle::Failed(const QString& user, const QString& address, qint64 nowMs) {
    Bump(users_[user], nowMs);
    Bump(addresses_[address], nowMs);
}

void LoginThrottle::Succeeded(const QString& user) {
    users_.remove(user);
}

bool SameOrigin(const QByteArray& origin, const QByteArray& referer, const QByteArray& host,
                bool tls) {
    const QByteArray source = !origin.isEmpty() ? origin : referer;
    if (source.isEmpty() || host.isEmpty() || source == "null") {
        return false;
    }
    const QUrl url(QString::fromLatin1(source));
    const QString scheme = tls ? QStringLiteral("https") : QStringLiteral("http");
    const int defaultPort = tls ? 443 : 80;
    const QUrl own(scheme + QStringLiteral("://") + QString::fromLatin1(host));
    return url.isValid() && own.isValid() && url.scheme() == scheme &&
           url.host().compare(own.host(), Qt::CaseInsensitive) == 0 &&
           url.port(defaultPort) == own.port(defaultPort);
}

}  // namespace merival

#pragma once

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHttpServerResponder>
#include <QList>
#include <QWebSocket>
#include <functional>

#include "alarms/AlarmEngine.h"
#include "base/Status.h"
#include "web/LiveSnapshot.h"
#include "web/WebAccess.h"
#include "web/WebSettings.h"

namespace merival {

// What the server may ask of the rest of the program. Called on the server's thread: each
// must hand its work over (a queued call), never wait.
struct WebHooks {
    std::function<void(const QString& user)> acknowledge;  // empty: no alarm chain
    std::function<void(const AlarmEvent& event)> journal;
    QString historyPath;  // read-only; empty: none
};

// The pages, the API and the push channel, on the thread of the server. Pages come from the
// program's resources and the chart library from its Debian package, by fixed names: no part
// of a request's path ever reaches the file system.
class WebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    WebServer(WebSettings settings, LiveState& live, WebHooks hooks);
    ~WebServer() override;

    // Binds and listens; the port actually bound is in port().
    Status Listen();
    [[nodiscard]] quint16 port() const { return port_; }
    // Sends the last pass to every live page.
    void Push();
    [[nodiscard]] int clients() const { return static_cast<int>(clients_.size()); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Who {
        QString user;
        WebRole role = WebRole::Reader;
        QByteArray csrf;
        bool known = false;
    };
    struct Reply {
        int status = 200;
        QByteArray type;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        // A long CSV export: a file handed to the responder, which sends it in chunks and
        // deletes it; never held in memory whole.
        QIODevice* file = nullptr;
    };

    [[nodiscard]] qint64 NowMs() const { return clock_.elapsed(); }
    [[nodiscard]] bool HostAllowed(const QByteArray& host) const;
    [[nodiscard]] Who Identify(const QByteArray& cookies, const QByteArray& authorization);
    Reply Route(const QHttpServerRequest& request, const QString& path, const QString& peer);
    Reply Get(const QHttpServerRequest& request, const QString& path, const Who& who);
    Reply Post(const QHttpServerRequest& request, const QString& path, const Who& who,
               const QString& peer);
    Reply Login(const QHttpServerRequest& request, const QString& peer);
    Reply Acknowledge(const Who& who, const QString& peer);
    Reply History(const QHttpServerRequest& request, bool csv);
    Reply Journal(const QHttpServerRequest& request);
    Reply State(const Who& who);
    [[nodiscard]] Status OpenDatabase();
    void Send(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply);
    void AcceptWebSockets();
    // Ends the live pages of a session that ended: logged out or expired.
    void DropEndedSessions();
    void Journal(const QString& event, const QString& user, const QString& detail);

    WebSettings settings_;
    LiveState& live_;
    WebHooks hooks_;
    WebSessions sessions_;
    LoginThrottle throttle_;
    QByteArray localCsrf_;  // without login: one token for the pages of this machine
    QElapsedTimer clock_;
    quint16 port_ = 0;
    struct LiveClient {
        QWebSocket* socket = nullptr;
        QByteArray session;  // empty: no login needed, or Basic credentials
    };
    QList<LiveClient> clients_;
    QHash<const char*, QByteArray> assets_;
    bool databaseOpen_ = false;
    QByteArray basicSeen_;  // the last Basic credentials that passed, until when, whose
    qint64 basicUntilMs_ = 0;
    Who basicWho_;
};

}  // namespace merival

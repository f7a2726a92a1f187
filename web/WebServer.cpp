#include "web/WebServer.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QUrlQuery>
#include <QWebSocket>

#include "history/HistoryQuery.h"
#include "history/Storage.h"
#include "web/ApiParameters.h"

namespace merival {
namespace {

const QString kConnection = QStringLiteral("merival-web");
const QByteArray kCookie = "merival_session";
constexpr qint64 kBasicCacheMs = 5 * 60 * 1000;
constexpr int kMaxJournalRows = 10000;
constexpr qint64 kMaxBody = 4096;

struct Asset {
    const char* path;
    const char* file;  // resource, or a file of the chart library's package
    const char* type;
    bool open;  // served before login (the login page and what it needs)
};

const Asset kAssets[] = {
    {"/", ":/web/mesures.html", "text/html; charset=utf-8", false},
    {"/courbes", ":/web/courbes.html", "text/html; charset=utf-8", false},
    {"/journal", ":/web/journal.html", "text/html; charset=utf-8", false},
    {"/statistiques", ":/web/statistiques.html", "text/html; charset=utf-8", false},
    {"/connexion", ":/web/connexion.html", "text/html; charset=utf-8", true},
    {"/merival.css", ":/web/merival.css", "text/css; charset=utf-8", true},
    {"/commun.js", ":/web/commun.js", "text/javascript; charset=utf-8", true},
    {"/connexion.js", ":/web/connexion.js", "text/javascript; charset=utf-8", true},
    {"/mesures.js", ":/web/mesures.js", "text/javascript; charset=utf-8", false},
    {"/courbes.js", ":/web/courbes.js", "text/javascript; charset=utf-8", false},
    {"/journal.js", ":/web/journal.js", "text/javascript; charset=utf-8", false},
    {"/statistiques.js", ":/web/statistiques.js", "text/javascript; charset=utf-8", false},
    {"/dygraph.min.js", "/usr/share/javascript/dygraphs/dygraph.min.js",
     "text/javascript; charset=utf-8", false},
    {"/dygraph.min.css", "/usr/share/javascript/dygraphs/dygraph.min.css",
     "text/css; charset=utf-8", false},
};

const Asset* FindAsset(const QString& path) {
    for (const Asset& a : kAssets) {
        if (path == QLatin1String(a.path)) {
            return &a;
        }
    }
    return nullptr;
}

QByteArray JsonBytes(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray Message(const QString& text) {
    return JsonBytes({{QStringLiteral("erreur"), text}});
}

const QByteArray kJson = "application/json; charset=utf-8";

}  // namespace

WebServer::WebServer(WebSettings settings, LiveState& live, WebHooks hooks)
    : settings_(std::move(settings)),
      live_(live),
      hooks_(std::move(hooks)),
      localCsrf_(RandomToken()) {
    clock_.start();
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::AcceptWebSockets);
}

WebServer::~WebServer() {
    for (const LiveClient& client : std::as_const(clients_)) {
        client.socket->disconnect(this);
        delete client.socket;
    }
    if (databaseOpen_) {
        CloseStorage(kConnection);
    }
}

Status WebServer::Listen() {
    QHostAddress address;
    if (settings_.address.compare(u"localhost", Qt::CaseInsensitive) == 0) {
        address = QHostAddress::LocalHost;
    } else if (!address.setAddress(settings_.address)) {
        return Status::Error(
            QStringLiteral("Adresse du serveur web invalide : « %1 ».").arg(settings_.address));
    }
    if (settings_.tls()) {
        QFile certFile(settings_.certificate);
        QFile keyFile(settings_.key);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            return Status::Error(
                QStringLiteral("Le certificat ou la clé du serveur web ne se lit pas (« %1 », "
                               "« %2 »).")
                    .arg(settings_.certificate, settings_.key));
        }
        const QSslCertificate cert(&certFile, QSsl::Pem);
        QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
        if (key.isNull()) {
            keyFile.seek(0);
            key = QSslKey(&keyFile, QSsl::Ec, QSsl::Pem);
        }
        if (cert.isNull() || key.isNull()) {
            return Status::Error(QStringLiteral("Le certificat ou la clé du serveur web n'est "
                                                "pas au format PEM (« %1 », « %2 »).")
                                     .arg(settings_.certificate, settings_.key));
        }
        sslSetup(cert, key);
    }
    port_ = listen(address, static_cast<quint16>(settings_.port));
    if (port_ == 0) {
        return Status::Error(QStringLiteral("Le serveur web ne peut pas écouter sur %1, port "
                                            "%2 (adresse ou port déjà pris ?).")
                                 .arg(settings_.address)
                                 .arg(settings_.port));
    }
    return Status::Ok();
}

bool WebServer::HostAllowed(const QByteArray& host) const {
    // Without login, a foreign name that resolves to this machine must not reach the pages
    // (DNS rebinding): the Host is one of the loopback names.
    if (settings_.loginRequired()) {
        return true;
    }
    const QUrl url(QStringLiteral("http://") + QString::fromLatin1(host));
    const QString name = url.host();
    return url.isValid() && url.port(80) == port_ &&
           (name == u"127.0.0.1" || name == u"localhost" || name == u"::1");
}

WebServer::Who WebServer::Identify(const QByteArray& cookies, const QByteArray& authorization) {
    if (!settings_.loginRequired()) {
        return {QStringLiteral("local"), WebRole::Operator, localCsrf_, true};
    }
    if (const WebSession* s = sessions_.Find(CookieValue(cookies, kCookie), NowMs())) {
        return {s->user, s->role, s->csrf, true};
    }
    // Basic credentials let a scraper or a script read (never POST).
    if (authorization.startsWith("Basic ")) {
        if (authorization == basicSeen_ && NowMs() < basicUntilMs_) {
            return basicWho_;
        }
        const QByteArray pair = QByteArray::fromBase64(authorization.mid(6));
        const qsizetype colon = pair.indexOf(':');
        const QString name = QString::fromUtf8(pair.left(colon));
        if (colon > 0) {
            for (const WebUser& u : LoadWebUsers(settings_.usersFile)) {
                if (u.name == name && PasswordMatches(u.hash, pair.mid(colon + 1))) {
                    basicSeen_ = authorization;
                    basicUntilMs_ = NowMs() + kBasicCacheMs;
                    basicWho_ = {u.name, u.role, {}, true};
                    return basicWho_;
                }
            }
        }
    }
    return {};
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    // Taken but left unanswered, the push channel's upgrade becomes a WebSocket (the library
    // hands the socket over when this returns true); on any other path it is not found.
    if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        return request.url().path() == u"/api/direct";
    }
    const QString peer = request.remoteAddress().toString();
    Send(request, socket, Route(request, request.url().path(), peer));
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    Send(request, socket, {404, kJson, Message(QStringLiteral("Introuvable.")), {}});
}

WebServer::Reply WebServer::Route(const QHttpServerRequest& request, const QString& path,
                                  const QString& peer) {
    if (!HostAllowed(request.value("host"))) {
        return {421, kJson, Message(QStringLiteral("Nom d'hôte refusé.")), {}};
    }
    const Who who = Identify(request.value("cookie"), request.value("authorization"));
    if (request.method() == QHttpServerRequest::Method::Post) {
        return Post(request, path, who, peer);
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        return {405, kJson, Message(QStringLiteral("Méthode refusée.")), {{"Allow", "GET, POST"}}};
    }
    return Get(request, path, who);
}

WebServer::Reply WebServer::Get(const QHttpServerRequest& request, const QString& path,
                                const Who& who) {
    if (const Asset* asset = FindAsset(path)) {
        if (!asset->open && !who.known) {
            return {303, "text/plain; charset=utf-8", {}, {{"Location", "/connexion"}}};
        }
        // Read once: the resources and the packaged library do not change under a running server.
        if (const auto cached = assets_.constFind(asset->path); cached != assets_.cend()) {
            return {200, asset->type, *cached, {}};
        }
        QFile file(QString::fromLatin1(asset->file));
        if (!file.open(QIODevice::ReadOnly)) {
            return {500,
                    "text/plain; charset=utf-8",
                    QStringLiteral("Fichier manquant : %1 (paquet libjs-dygraphs ?)")
                        .arg(QString::fromLatin1(asset->file))
                        .toUtf8(),
                    {}};
        }
        return {200, asset->type, assets_[asset->path] = file.readAll(), {}};
    }
    if (path == u"/api/etat") {
        return State(who);
    }
    if (!who.known) {
        return {401, kJson, Message(QStringLiteral("Connexion nécessaire.")), {}};
    }
    if (path == u"/metrics") {
        return {200, "text/plain; version=0.0.4; charset=utf-8", MetricsText(live_.Snapshot()), {}};
    }
    if (path == u"/api/mesures") {
        return {200, kJson, ReadingsJson(live_.Snapshot()), {}};
    }
    if (path == u"/api/passe") {
        return {200, kJson, PassJson(live_.Snapshot()), {}};
    }
    if (path == u"/api/statistiques") {
        return {200, kJson, StatsJson(live_.Snapshot()), {}};
    }
    if (path == u"/api/historique") {
        return History(request, false);
    }
    if (path == u"/api/historique.csv") {
        return History(request, true);
    }
    if (path == u"/api/journal") {
        return Journal(request);
    }
    return {404, kJson, Message(QStringLiteral("Introuvable.")), {}};
}

WebServer::Reply WebServer::State(const Who& who) {
    const LiveSnapshot s = live_.Snapshot();
    QJsonObject state{
        {QStringLiteral("connexionRequise"), settings_.loginRequired()},
        {QStringLiteral("utilisateur"), who.known ? QJsonValue(who.user) : QJsonValue()},
        {QStringLiteral("role"), who.known ? QJsonValue(RoleName(who.role)) : QJsonValue()},
        {QStringLiteral("passes"), s.passes},
        {QStringLiteral("dernierePasse"),
         s.lastPass.isValid() ? QJsonValue(s.lastPass.toString(Qt::ISODateWithMs)) : QJsonValue()},
        {QStringLiteral("alarmes"), static_cast<bool>(hooks_.acknowledge)},
        {QStringLiteral("historique"), !hooks_.historyPath.isEmpty()},
        {QStringLiteral("clients"), clients()}};
    if (who.known && !who.csrf.isEmpty()) {
        state.insert(QStringLiteral("jeton"), QString::fromLatin1(who.csrf));
    }
    return {200, kJson, JsonBytes(state), {}};
}

WebServer::Reply WebServer::Post(const QHttpServerRequest& request, const QString& path,
                                 const Who& who, const QString& peer) {
    if (!SameOrigin(request.value("origin"), request.value("referer"), request.value("host"),
                    settings_.tls())) {
        return {403, kJson, Message(QStringLiteral("Requête d'une autre origine refusée.")), {}};
    }
    if (request.body().size() > kMaxBody) {
        return {413, kJson, Message(QStringLiteral("Requête trop longue.")), {}};
    }
    if (path == u"/api/connexion") {
        return Login(request, peer);
    }
    if (!who.known) {
        return {401, kJson, Message(QStringLiteral("Connexion nécessaire.")), {}};
    }
    if (!SameToken(request.value("x-jeton"), who.csrf)) {
        return {403,
                kJson,
                Message(QStringLiteral("Jeton de la page absent ou périmé : "
                                       "rechargez la page.")),
                {}};
    }
    if (path == u"/api/deconnexion") {
        sessions_.Close(CookieValue(request.value("cookie"), kCookie));
        DropEndedSessions();
        return {200,
                kJson,
                "{}",
                {{"Set-Cookie", kCookie + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"}}};
    }
    if (path == u"/api/acquitter") {
        return Acknowledge(who, peer);
    }
    return {404, kJson, Message(QStringLiteral("Introuvable.")), {}};
}

WebServer::Reply WebServer::Login(const QHttpServerRequest& request, const QString& peer) {
    if (!settings_.loginRequired()) {
        return {400, kJson, Message(QStringLiteral("Pas de connexion sur cette adresse.")), {}};
    }
    const QJsonObject body = QJsonDocument::fromJson(request.body()).object();
    const QString name = body.value(QStringLiteral("nom")).toString().left(64);
    const QByteArray password = body.value(QStringLiteral("motdepasse")).toString().toUtf8();
    if (const qint64 wait = throttle_.WaitMs(name, peer, NowMs()); wait > 0) {
        return {429,
                kJson,
                Message(QStringLiteral("Trop d'essais : attendez %1 s.").arg((wait + 999) / 1000)),
                {{"Retry-After", QByteArray::number((wait + 999) / 1000)}}};
    }
    Status read;
    std::optional<WebUser> user;
    for (const WebUser& u : LoadWebUsers(settings_.usersFile, &read)) {
        if (u.name == name) {
            user = u;
        }
    }
    // A made-up print costs the same time, so the answer does not tell which names exist.
    static const QByteArray decoy = HashPassword(RandomToken());
    const bool good = PasswordMatches(user ? user->hash : decoy, password) && user.has_value();
    if (!good) {
        throttle_.Failed(name, peer, NowMs());
        Journal(QStringLiteral("Échec de connexion web"), name, peer);
        return {401, kJson, Message(QStringLiteral("Nom ou mot de passe incorrect.")), {}};
    }
    throttle_.Succeeded(name);
    const WebSession s = sessions_.Open(user->name, user->role, NowMs());
    Journal(QStringLiteral("Connexion web"), user->name, peer);
    QByteArray cookie = kCookie + '=' + s.id + "; Path=/; HttpOnly; SameSite=Strict";
    if (settings_.tls()) {
        cookie += "; Secure";
    }
    return {200,
            kJson,
            JsonBytes({{QStringLiteral("utilisateur"), s.user},
                       {QStringLiteral("role"), RoleName(s.role)},
                       {QStringLiteral("jeton"), QString::fromLatin1(s.csrf)}}),
            {{"Set-Cookie", cookie}}};
}

WebServer::Reply WebServer::Acknowledge(const Who& who, const QString& peer) {
    if (who.role != WebRole::Operator) {
        return {
            403, kJson, Message(QStringLiteral("Acquittement réservé au rôle « operateur ».")), {}};
    }
    if (!hooks_.acknowledge) {
        return {409, kJson, Message(QStringLiteral("Les alarmes ne sont pas en service.")), {}};
    }
    hooks_.acknowledge(who.user);
    Journal(QStringLiteral("Acquittement web"), who.user, peer);
    return {200, kJson, "{}", {}};
}

void WebServer::Journal(const QString& event, const QString& user, const QString& detail) {
    if (hooks_.journal) {
        hooks_.journal({QDateTime::currentDateTimeUtc(), -1, user, detail, event});
    }
}

Status WebServer::OpenDatabase() {
    if (databaseOpen_) {
        return Status::Ok();
    }
    if (hooks_.historyPath.isEmpty()) {
        return Status::Error(QStringLiteral("Pas d'historique dans ce programme."));
    }
    Status opened = OpenStorage(kConnection, hooks_.historyPath, StorageAccess::Read).status;
    databaseOpen_ = opened.ok();
    return opened;
}

WebServer::Reply WebServer::History(const QHttpServerRequest& request, bool csv) {
    const QUrlQuery query = request.query();
    const std::optional<HistoryPeriod> period = ApiPeriod(query, false);
    if (!period) {
        return {400, kJson, Message(QStringLiteral("Période invalide (de, a).")), {}};
    }
    if (const Status opened = OpenDatabase(); !opened.ok()) {
        return {503, kJson, Message(opened.message), {}};
    }
    if (csv) {
        ExportRequest what;
        what.period = *period;
        what.channel = ApiChannel(query.queryItemValue(QStringLiteral("voie")));
        auto* file = new QTemporaryFile;
        const bool opened = file->open();
        const Status exported =
            opened ? ExportCsv(kConnection, what, u',',
                               [file](const QByteArray& b) { return file->write(b) == b.size(); })
                   : Status::Error(QStringLiteral("Pas de fichier temporaire pour l'export (%1).")
                                       .arg(file->errorString()));
        if (!exported.ok() || !file->seek(0)) {
            delete file;
            return {500, kJson, Message(exported.message), {}};
        }
        return {200, "text/csv; charset=utf-8", {}, {}, file};
    }
    TrendRequest what;
    what.period = *period;
    what.channels = ApiChannels(query.queryItemValue(QStringLiteral("voies")));
    what.columns = ApiColumns(query.queryItemValue(QStringLiteral("colonnes")));
    const TrendData data = QueryTrend(kConnection, what);
    if (!data.status.ok()) {
        return {500, kJson, Message(data.status.message), {}};
    }
    return {200, kJson, TrendJson(data), {}};
}

WebServer::Reply WebServer::Journal(const QHttpServerRequest& request) {
    const QUrlQuery query = request.query();
    const std::optional<HistoryPeriod> period = ApiPeriod(query, true);
    if (!period) {
        return {400, kJson, Message(QStringLiteral("Période invalide (de, a).")), {}};
    }
    if (const Status opened = OpenDatabase(); !opened.ok()) {
        return {503, kJson, Message(opened.message), {}};
    }
    QList<AlarmEvent> events;
    QSqlQuery select(QSqlDatabase::database(kConnection, false));
    select.prepare(QStringLiteral("SELECT t_ms, voie, repere, texte, evenement FROM "
                                  "journal_alarmes WHERE t_ms >= ? AND t_ms < ? ORDER BY t_ms "
                                  "DESC, id DESC LIMIT %1")
                       .arg(kMaxJournalRows));
    select.addBindValue(period->fromMs);
    select.addBindValue(period->toMs);
    // A file without journal yet has no table: no event.
    if (select.exec()) {
        while (select.next()) {
            events.append({QDateTime::fromMSecsSinceEpoch(select.value(0).toLongLong(), Qt::UTC),
                           select.value(1).toInt(), select.value(2).toString(),
                           select.value(3).toString(), select.value(4).toString()});
        }
    }
    return {200, kJson, QJsonDocument(JournalJson(events)).toJson(QJsonDocument::Compact), {}};
}

void WebServer::Send(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply) {
    QHttpServerResponder responder = makeResponder(request, socket);
    if (reply.file != nullptr) {
        responder.write(reply.file,
                        {{"Content-Type", reply.type},
                         {"Content-Disposition", "attachment; filename=\"historique.csv\""},
                         {"Cache-Control", "no-store"},
                         {"X-Content-Type-Options", "nosniff"}},
                        static_cast<QHttpServerResponder::StatusCode>(reply.status));
        return;
    }
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
    responder.writeHeader("Content-Type", reply.type);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("X-Frame-Options", "DENY");
    responder.writeHeader("Referrer-Policy", "same-origin");
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'self'; connect-src 'self' ws: wss:; img-src 'self' data:; "
                          "style-src 'self' 'unsafe-inline'; frame-ancestors 'none'");
    for (const auto& [name, value] : reply.headers) {
        responder.writeHeader(name, value);
    }
    responder.writeBody(reply.body.constData(), reply.body.size());
}

void WebServer::AcceptWebSockets() {
    while (hasPendingWebSocketConnections()) {
        QWebSocket* client = nextPendingWebSocketConnection().release();
        const QNetworkRequest handshake = client->request();
        const QByteArray cookies = handshake.rawHeader("Cookie");
        const bool allowed = client->requestUrl().path() == u"/api/direct" &&
                             HostAllowed(handshake.rawHeader("Host")) &&
                             SameOrigin(client->origin().toLatin1(), {},
                                        handshake.rawHeader("Host"), settings_.tls()) &&
                             Identify(cookies, handshake.rawHeader("Authorization")).known;
        if (!allowed) {
            client->close(QWebSocketProtocol::CloseCodePolicyViolated);
            client->deleteLater();
            continue;
        }
        QByteArray session = CookieValue(cookies, kCookie);
        if (!settings_.loginRequired() || !sessions_.Alive(session, NowMs())) {
            session.clear();
        }
        clients_.append({client, session});
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            clients_.removeIf([client](const LiveClient& c) { return c.socket == client; });
            client->deleteLater();
        });
        client->sendTextMessage(QString::fromUtf8(PassJson(live_.Snapshot())));
    }
}

void WebServer::DropEndedSessions() {
    QList<QWebSocket*> ended;
    for (const LiveClient& client : std::as_const(clients_)) {
        if (!client.session.isEmpty() && !sessions_.Alive(client.session, NowMs())) {
            ended << client.socket;
        }
    }
    // Apart from the loop: a close may take the socket out of the list at once.
    for (QWebSocket* socket : std::as_const(ended)) {
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                      QStringLiteral("Session terminée"));
    }
}

void WebServer::Push() {
    DropEndedSessions();
    if (clients_.isEmpty()) {
        return;
    }
    const QString message = QString::fromUtf8(PassJson(live_.Snapshot()));
    // A copy: a failed send may take its socket out of the list at once.
    const QList<LiveClient> clients = clients_;
    for (const LiveClient& client : clients) {
        if (client.socket->state() == QAbstractSocket::ConnectedState) {
            client.socket->sendTextMessage(message);
        }
    }
}

}  // namespace merival

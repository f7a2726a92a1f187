#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>

#include "alarms/AlarmJournal.h"
#include "common/HttpClient.h"
#include "publish/Messages.h"
#include "web/ApiParameters.h"
#include "web/WebAccess.h"
#include "web/WebUsers.h"
#include "web/WebView.h"

namespace merival {
namespace {

using test::Http;
using test::Response;

ChannelReading Reading(int channel, const QString& text, double value) {
    ChannelReading r;
    r.time = QDateTime::fromMSecsSinceEpoch(1700000000000 + channel, Qt::UTC);
    r.channel = channel;
    r.tag = QStringLiteral("Cuve \"%1\"").arg(channel);
    r.typeName = QStringLiteral("pH");
    r.ok = true;
    r.text = text;
    r.numbers = {{QStringLiteral("pH"), value, QStringLiteral("pH")}};
    r.temperature = 21.5;
    return r;
}

void Wait(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// A web view on a free port of `address`, with two users and recorded hooks.
class Server {
public:
    explicit Server(const QString& address,
                    const std::function<void(QSettings&, const QTemporaryDir&)>& more = {}) {
        usersFile = dir.filePath(QStringLiteral("utilisateurs.txt"));
        EXPECT_TRUE(
            SetWebUser(usersFile, QStringLiteral("lea"), WebRole::Reader, "lecture-seule").ok());
        EXPECT_TRUE(
            SetWebUser(usersFile, QStringLiteral("oscar"), WebRole::Operator, "operateur-1").ok());
        QSettings ini(dir.filePath(QStringLiteral("merival.ini")), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Web/Actif"), true);
        ini.setValue(QStringLiteral("Web/Adresse"), address);
        // A free port of its own: Port=0 means the default 8080, which tests run side by side
        // would share.
        QTcpServer probe;
        EXPECT_TRUE(probe.listen(QHostAddress(address)));
        ini.setValue(QStringLiteral("Web/Port"), probe.serverPort());
        probe.close();
        ini.setValue(QStringLiteral("Web/FichierUtilisateurs"), QStringLiteral("utilisateurs.txt"));
        if (more) {
            more(ini, dir);
        }
        WebView::Sources sources;
        sources.iniDirectory = QDir(dir.path());
        sources.stats = [] {
            std::array<ChannelStats, kChannelCount> stats{};
            stats[1].requests = 7;
            stats[1].answers = 6;
            stats[1].silences = 1;
            stats[1].timed = 6;
            stats[1].sumMs = 60;
            stats[1].lastMs = stats[1].minMs = stats[1].maxMs = 10;
            return stats;
        };
        view = std::make_unique<WebView>(std::move(sources));
        view->readSettings(ini);
        view->setAlarmsAvailable(true);
        QObject::connect(view.get(), &WebView::acknowledgeRequested, view.get(),
                         [this](const QString& user) { acknowledged << user; });
        QObject::connect(view.get(), &WebView::journalRequested, view.get(),
                         [this](const AlarmEvent& e) { journal << e; });
        view->start();
        port = view->port();
        EXPECT_NE(port, 0);
        host = "Host: " + address.toLatin1() + ':' + QByteArray::number(port);
        origin = "Origin: http://" + address.toLatin1() + ':' + QByteArray::number(port);
    }

    void Pass(const QList<ChannelReading>& readings) {
        for (const ChannelReading& r : readings) {
            view->takeReading(r);
        }
        view->passFinished({0, QDateTime::currentDateTimeUtc()});
    }

    QTemporaryDir dir;
    QString usersFile;
    std::unique_ptr<WebView> view;
    quint16 port = 0;
    QByteArray host;
    QByteArray origin;
    QStringList acknowledged;
    QList<AlarmEvent> journal;
};

TEST(WebUsers, FileKeepsSlowSaltedPrintsOwnerOnly) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("u.txt"));
    ASSERT_TRUE(SetWebUser(path, QStringLiteral("a.b-c_1"), WebRole::Reader, "premier-mdp").ok());
    ASSERT_TRUE(SetWebUser(path, QStringLiteral("z"), WebRole::Reader, "autre-mot").ok());
    // A second time: role and password change, no duplicate line.
    ASSERT_TRUE(SetWebUser(path, QStringLiteral("a.b-c_1"), WebRole::Operator, "second-mdp").ok());
    EXPECT_EQ(QFile::permissions(path) &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("broken line\nx:admin:$argon2id$v=19$m=1,t=1,p=1$AAAA$BBBB\n");
    file.close();
    int skipped = 0;
    const QList<WebUser> users = LoadWebUsers(path, nullptr, &skipped);
    ASSERT_EQ(users.size(), 2);
    EXPECT_EQ(skipped, 2);
    EXPECT_EQ(users[1].name, QStringLiteral("a.b-c_1"));
    EXPECT_EQ(users[1].role, WebRole::Operator);
    EXPECT_TRUE(users[1].hash.startsWith("$argon2id$"));
    EXPECT_FALSE(file.open(QIODevice::ReadOnly) && file.readAll().contains("second-mdp"));
    EXPECT_TRUE(PasswordMatches(users[1].hash, "second-mdp"));
    EXPECT_FALSE(PasswordMatches(users[1].hash, "premier-mdp"));
    EXPECT_FALSE(PasswordMatches(users[1].hash, ""));
    // The same password twice gives two prints (salted).
    EXPECT_NE(HashPassword("mot-de-passe"), HashPassword("mot-de-passe"));

    for (const QString& bad : {QString(), QStringLiteral("a:b"), QStringLiteral("é"),
                               QStringLiteral("a b"), QString(33, u'x')}) {
        EXPECT_FALSE(SetWebUser(path, bad, WebRole::Reader, "assez-long").ok())
            << bad.toStdString();
    }
    EXPECT_FALSE(SetWebUser(path, QStringLiteral("court"), WebRole::Reader, "1234567").ok());
}

TEST(WebAccess, OriginsCookiesThrottleAndSessions) {
    EXPECT_TRUE(SameOrigin("http://10.0.0.5:8080", {}, "10.0.0.5:8080", false));
    EXPECT_TRUE(SameOrigin({}, "http://10.0.0.5:8080/journal", "10.0.0.5:8080", false));
    EXPECT_TRUE(SameOrigin("https://poste", {}, "poste:443", true));
    EXPECT_FALSE(SameOrigin("http://10.0.0.5:8081", {}, "10.0.0.5:8080", false));
    EXPECT_FALSE(
        SameOrigin("http://evil.example", "http://10.0.0.5:8080/", "10.0.0.5:8080", false));
    EXPECT_FALSE(SameOrigin("http://10.0.0.5:8080", {}, "10.0.0.5:8080", true));
    EXPECT_FALSE(SameOrigin("null", {}, "10.0.0.5:8080", false));
    EXPECT_FALSE(SameOrigin({}, {}, "10.0.0.5:8080", false));

    EXPECT_EQ(CookieValue("a=1; merival_session=abc; b=2", "merival_session"), "abc");
    EXPECT_EQ(CookieValue("xmerival_session=abc", "merival_session"), "");

    LoginThrottle t;
    EXPECT_EQ(t.WaitMs("lea", "10.0.0.9", 0), 0);
    t.Failed("lea", "10.0.0.9", 0);
    EXPECT_EQ(t.WaitMs("lea", "10.0.0.8", 0), 1000);     // the name waits from any address
    EXPECT_EQ(t.WaitMs("oscar", "10.0.0.9", 500), 500);  // and the address for any name
    t.Failed("lea", "10.0.0.9", 1000);
    t.Failed("lea", "10.0.0.9", 3000);
    EXPECT_EQ(t.WaitMs("lea", "10.0.0.7", 3000), 4000);
    for (int i = 0; i < 30; ++i) {
        t.Failed("lea", "10.0.0.9", 10000);
    }
    EXPECT_EQ(t.WaitMs("lea", "10.0.0.7", 10000), 300000);
    t.Succeeded("lea");
    EXPECT_EQ(t.WaitMs("lea", "10.0.0.7", 10000), 0);

    WebSessions sessions;
    const WebSession s = sessions.Open(QStringLiteral("lea"), WebRole::Reader, 0);
    EXPECT_EQ(s.id.size(), 64);
    EXPECT_NE(s.id, s.csrf);
    ASSERT_NE(sessions.Find(s.id, WebSessions::kIdleMs), nullptr);  // touched at kIdleMs
    EXPECT_EQ(sessions.Find(s.id + "0", 0), nullptr);
    EXPECT_EQ(sessions.Find({}, 0), nullptr);
    EXPECT_EQ(sessions.Find(s.id, 2 * WebSessions::kIdleMs + 1), nullptr);
}

TEST(WebUsers, TextWrittenReadsBackTheSameUsers) {
    const QByteArray print = "$argon2id$v=19$m=8,t=1,p=1$CikF9ysuCzDhtIeLE/gXpw$8hmgbhfy3ztAV4SH";
    int skipped = 0;
    const QList<WebUser> users =
        ParseWebUsers("  lea:lecture:" + print + " \r\n# x:y\n\nlea:" + "operateur:" + print +
                          "\nzoe:admin:" + print + "\nx:lecture:" + print + ":y\nbob:lecture:$",
                      &skipped);
    ASSERT_EQ(users.size(), 1);
    EXPECT_EQ(users[0].role, WebRole::Operator) << "the last line of a name wins";
    EXPECT_EQ(users[0].hash, print);
    EXPECT_EQ(skipped, 3);
    EXPECT_EQ(ParseWebUsers(WebUsersText(users), &skipped), users);
    EXPECT_EQ(skipped, 0);
}

TEST(WebSettings, SavedSettingsReadBackTheSame) {
    QTemporaryDir dir;
    QSettings ini(dir.filePath(QStringLiteral("merival.ini")), QSettings::IniFormat);
    const WebSettings defaults = LoadWebSettings(ini);
    EXPECT_EQ(defaults, WebSettings{});
    WebSettings s{true,
                  QStringLiteral("::"),
                  8443,
                  QStringLiteral("a, b.pem"),
                  QStringLiteral("c.pem"),
                  QStringLiteral("u.txt")};
    SaveWebSettings(ini, s);
    EXPECT_EQ(LoadWebSettings(ini), s);
}

// Beyond the bounds, the span of a period times the chart's columns overflowed.
TEST(WebApi, PeriodsWithinBoundsChannelsThatExist) {
    const auto period = [](const char* query, bool open = false) {
        return ApiPeriod(QUrlQuery(QString::fromLatin1(query)), open);
    };
    const std::optional<HistoryPeriod> ms = period("de=1000&a=2000");
    ASSERT_TRUE(ms);
    EXPECT_EQ(ms->fromMs, 1000);
    EXPECT_EQ(ms->toMs, 2000);
    for (const char* bad :
         {"de=2000&a=1000", "de=1000&a=1000", "de=-1&a=1000", "de=1&a=x",
          "de=-9000000000000000000&a=9000000000000000000", "de=0&a=253402300800001", "a=1000"}) {
        EXPECT_FALSE(period(bad)) << bad;
    }
    const std::optional<HistoryPeriod> open = period("a=1000", true);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->fromMs, kEarliestApiMs);
    EXPECT_EQ(period("", true)->toMs, kLatestApiMs);
    EXPECT_TRUE(period("de=2026-01-01&a=2026-01-01"));

    EXPECT_EQ(ApiChannels(QStringLiteral("3,,1,3,4,-1,x,2")), (QList<int>{3, 1, 2}));
    EXPECT_EQ(ApiChannels(QStringLiteral("9")), (QList<int>{0, 1, 2, 3}));
    EXPECT_EQ(ApiChannel(QStringLiteral("4")), -1);
    EXPECT_EQ(ApiColumns(QStringLiteral("99999")), 4000);

    Server server(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(Http(server.port, "GET", "/api/historique?de=-9000000000000000000&a=1").status, 400);
    EXPECT_EQ(Http(server.port, "GET", "/api/journal?de=5&a=4").status, 400);
}

TEST(WebServer, LoopbackServesPagesApiAndNothingElse) {
    Server server(QStringLiteral("127.0.0.1"));
    server.Pass({Reading(1, QStringLiteral("7.02 pH\r\n21.5 °C"), 7.02),
                 Reading(3, QStringLiteral("HS"), 0)});
    const Response live = Http(server.port, "GET", "/");
    EXPECT_EQ(live.status, 200);
    EXPECT_TRUE(live.body.contains("/mesures.js"));
    EXPECT_EQ(live.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_TRUE(live.header("Content-Security-Policy").contains("default-src 'self'"));
    EXPECT_EQ(Http(server.port, "GET", "/dygraph.min.js").status, 200);

    // Current readings: the MQTT messages themselves.
    const Response readings = Http(server.port, "GET", "/api/mesures");
    const QJsonArray array = QJsonDocument::fromJson(readings.body).array();
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(QJsonDocument(array[0].toObject()).toJson(QJsonDocument::Compact),
              ReadingJson(Reading(1, QStringLiteral("7.02 pH\r\n21.5 °C"), 7.02)));
    const QJsonObject pass =
        QJsonDocument::fromJson(Http(server.port, "GET", "/api/passe").body).object();
    EXPECT_EQ(pass[QStringLiteral("passe")].toInt(), 1);
    EXPECT_EQ(pass[QStringLiteral("voies")][0][QStringLiteral("lignes")].toArray(),
              QJsonArray({QStringLiteral("7.02 pH"), QStringLiteral("21.5 °C")}));

    for (const QByteArray& path :
         {QByteArray("/../../etc/passwd"), QByteArray("/%2e%2e/%2e%2e/etc/passwd"),
          QByteArray("/merival.css/../../etc/passwd"), QByteArray("/web/mesures.html"),
          QByteArray("//etc/passwd"), QByteArray("/usr/share/javascript/dygraphs/dygraph.js"),
          QByteArray("/api/inconnue"), QByteArray("/mesures.html")}) {
        const Response r = Http(server.port, "GET", path);
        EXPECT_EQ(r.status, 404) << path.constData();
        EXPECT_FALSE(r.body.contains("root:")) << path.constData();
    }
    EXPECT_EQ(Http(server.port, "PUT", "/api/mesures").status, 405);
    // A foreign name that resolves here (DNS rebinding) reaches nothing.
    EXPECT_EQ(Http(server.port, "GET", "/api/etat",
                   {"Host: attaquant.example:" + QByteArray::number(server.port)})
                  .status,
              421);

    // Without login one token guards every POST, and only from this origin.
    const QJsonObject state =
        QJsonDocument::fromJson(Http(server.port, "GET", "/api/etat").body).object();
    EXPECT_EQ(state[QStringLiteral("connexionRequise")].toBool(), false);
    const QByteArray token = "X-Jeton: " + state[QStringLiteral("jeton")].toString().toLatin1();
    EXPECT_EQ(Http(server.port, "POST", "/api/acquitter", {server.origin}).status, 403);
    EXPECT_EQ(
        Http(server.port, "POST", "/api/acquitter", {"Origin: http://evil.example", token}).status,
        403);
    EXPECT_EQ(Http(server.port, "POST", "/api/acquitter", {token}).status, 403);
    EXPECT_EQ(Http(server.port, "POST", "/api/acquitter", {server.origin, token}).status, 200);
    Wait([&] { return !server.acknowledged.isEmpty(); });
    EXPECT_EQ(server.acknowledged, QStringList{QStringLiteral("local")});
}

TEST(WebServer, OtherAddressesNeedALoginAndTheOperatorRole) {
    Server server(QStringLiteral("127.0.0.2"));
    const QString a = QStringLiteral("127.0.0.2");
    const auto get = [&](const QByteArray& path, const QList<QByteArray>& headers = {}) {
        return Http(server.port, "GET", path, headers, {}, a);
    };
    const auto post = [&](const QByteArray& path, const QList<QByteArray>& headers,
                          const QByteArray& body = "{}") {
        return Http(server.port, "POST", path, headers, body, a);
    };
    EXPECT_EQ(get("/").status, 303);
    EXPECT_EQ(get("/").header("Location"), "/connexion");
    EXPECT_EQ(get("/connexion").status, 200);
    EXPECT_EQ(get("/api/mesures").status, 401);
    EXPECT_EQ(get("/metrics").status, 401);

    const QByteArray wrong = R"({"nom":"lea","motdepasse":"faux"})";
    const QByteArray right = R"({"nom":"lea","motdepasse":"lecture-seule"})";
    EXPECT_EQ(post("/api/connexion", {"Origin: http://evil.example"}, right).status, 403);
    EXPECT_EQ(post("/api/connexion", {server.origin}, wrong).status, 401);
    // Refused while the delay runs, even with the right password.
    const Response throttled = post("/api/connexion", {server.origin}, right);
    EXPECT_EQ(throttled.status, 429);
    EXPECT_EQ(throttled.header("Retry-After"), "1");
    QThread::msleep(1100);
    const Response reader = post("/api/connexion", {server.origin}, right);
    ASSERT_EQ(reader.status, 200);
    const QByteArray cookie = reader.header("Set-Cookie");
    EXPECT_TRUE(cookie.contains("HttpOnly"));
    EXPECT_TRUE(cookie.contains("SameSite=Strict"));
    const QByteArray readerCookie = "Cookie: " + cookie.split(';').first();
    const QByteArray readerToken =
        "X-Jeton: " +
        QJsonDocument::fromJson(reader.body)[QStringLiteral("jeton")].toString().toLatin1();
    EXPECT_EQ(get("/api/mesures", {readerCookie}).status, 200);
    EXPECT_EQ(post("/api/acquitter", {server.origin, readerCookie, readerToken}).status, 403);

    const Response op =
        post("/api/connexion", {server.origin}, R"({"nom":"oscar","motdepasse":"operateur-1"})");
    ASSERT_EQ(op.status, 200);
    const QByteArray opCookie = "Cookie: " + op.header("Set-Cookie").split(';').first();
    const QByteArray opToken =
        "X-Jeton: " +
        QJsonDocument::fromJson(op.body)[QStringLiteral("jeton")].toString().toLatin1();
    // Another session's token, or none, is not this session's.
    EXPECT_EQ(post("/api/acquitter", {server.origin, opCookie, readerToken}).status, 403);
    EXPECT_EQ(post("/api/acquitter", {server.origin, opCookie}).status, 403);
    EXPECT_EQ(post("/api/acquitter", {"Origin: http://127.0.0.1:1", opCookie, opToken}).status,
              403);
    EXPECT_EQ(post("/api/acquitter", {server.origin, opCookie, opToken}).status, 200);

    // Basic credentials read (a scraper) but never act.
    const QByteArray basic = "Authorization: Basic " + QByteArray("oscar:operateur-1").toBase64();
    EXPECT_EQ(get("/metrics", {basic}).status, 200);
    EXPECT_EQ(get("/metrics", {"Authorization: Basic " + QByteArray("oscar:x").toBase64()}).status,
              401);
    EXPECT_EQ(post("/api/acquitter", {server.origin, basic}).status, 403);

    // A live page ends with its session; another session's page goes on.
    const QUrl live(QStringLiteral("ws://127.0.0.2:%1/api/direct").arg(server.port));
    QWebSocket readerPage;
    QWebSocket opPage;
    int readerMessages = 0;
    int opMessages = 0;
    bool readerClosed = false;
    QObject::connect(&readerPage, &QWebSocket::textMessageReceived, &readerPage,
                     [&] { ++readerMessages; });
    QObject::connect(&opPage, &QWebSocket::textMessageReceived, &opPage, [&] { ++opMessages; });
    QObject::connect(&readerPage, &QWebSocket::disconnected, &readerPage,
                     [&] { readerClosed = true; });
    for (auto [page, cookieHeader] : {std::pair{&readerPage, readerCookie}, {&opPage, opCookie}}) {
        QNetworkRequest request(live);
        request.setRawHeader("Origin", server.origin.mid(8));
        request.setRawHeader("Cookie", cookieHeader.mid(8));
        page->open(request);
    }
    Wait([&] { return readerMessages == 1 && opMessages == 1; });
    ASSERT_EQ(readerMessages, 1);
    EXPECT_EQ(post("/api/deconnexion", {server.origin, readerCookie, readerToken}).status, 200);
    Wait([&] { return readerClosed; });
    EXPECT_TRUE(readerClosed);
    EXPECT_EQ(get("/api/mesures", {readerCookie}).status, 401);
    server.Pass({Reading(0, QStringLiteral("6.50 pH"), 6.5)});
    Wait([&] { return opMessages == 2; });
    EXPECT_EQ(opMessages, 2);
    EXPECT_EQ(readerMessages, 1);

    Wait([&] { return server.journal.size() >= 4; });
    EXPECT_EQ(server.acknowledged, QStringList{QStringLiteral("oscar")});
    QStringList journal;
    for (const AlarmEvent& e : server.journal) {
        EXPECT_EQ(e.channel, -1);
        journal << e.event + u'/' + e.tag;
    }
    EXPECT_EQ(journal, (QStringList{QStringLiteral("Échec de connexion web/lea"),
                                    QStringLiteral("Connexion web/lea"),
                                    QStringLiteral("Connexion web/oscar"),
                                    QStringLiteral("Acquittement web/oscar")}));
}

TEST(WebServer, PushesEveryPassToOwnOriginOnly) {
    Server server(QStringLiteral("127.0.0.1"));
    QWebSocket own;
    QWebSocket foreign;
    QStringList received;
    bool foreignClosed = false;
    QObject::connect(&own, &QWebSocket::textMessageReceived, &own,
                     [&](const QString& m) { received << m; });
    QObject::connect(&foreign, &QWebSocket::textMessageReceived, &foreign,
                     [&](const QString& m) { ADD_FAILURE() << m.toStdString(); });
    QObject::connect(&foreign, &QWebSocket::disconnected, &foreign, [&] { foreignClosed = true; });
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/api/direct").arg(server.port));
    QNetworkRequest ownRequest(url);
    ownRequest.setRawHeader("Origin", server.origin.mid(8));
    own.open(ownRequest);
    QNetworkRequest foreignRequest(url);
    foreignRequest.setRawHeader("Origin", "http://evil.example");
    foreign.open(foreignRequest);
    Wait([&] { return received.size() == 1 && foreignClosed; });
    ASSERT_EQ(received.size(), 1);  // the last pass at once
    EXPECT_TRUE(foreignClosed);

    server.Pass({Reading(0, QStringLiteral("6.50 pH"), 6.5)});
    server.view->setAlarmState(0, AlarmState::ActiveUnacknowledged);
    Wait([&] { return received.size() == 3; });
    ASSERT_EQ(received.size(), 3);
    const QJsonObject last = QJsonDocument::fromJson(received[2].toUtf8()).object();
    EXPECT_EQ(last[QStringLiteral("passe")].toInt(), 1);
    EXPECT_EQ(last[QStringLiteral("voies")][0][QStringLiteral("alarme")].toString(),
              QStringLiteral("active"));
    EXPECT_EQ(last[QStringLiteral("voies")][0][QStringLiteral("texte")].toString(),
              QStringLiteral("6.50 pH"));
}

// HTTPS with the configured certificate: the cookie is Secure, the push channel is wss, and
// plain HTTP on that port gets nothing.
TEST(WebServer, ServesOverTlsWithSecureCookies) {
    Server server(QStringLiteral("127.0.0.2"), [](QSettings& ini, const QTemporaryDir& dir) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir.path());
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                  "cle.pem", "-out", "cert.pem", "-days", "1", "-subj",
                                  "/CN=127.0.0.2", "-addext", "subjectAltName=IP:127.0.0.2"});
        ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
        ini.setValue(QStringLiteral("Web/Certificat"), QStringLiteral("cert.pem"));
        ini.setValue(QStringLiteral("Web/Cle"), QStringLiteral("cle.pem"));
    });
    ASSERT_NE(server.port, 0);
    const QList<QSslCertificate> ca =
        QSslCertificate::fromPath(server.dir.filePath(QStringLiteral("cert.pem")));
    ASSERT_EQ(ca.size(), 1);
    const QString a = QStringLiteral("127.0.0.2");
    const QByteArray origin = "Origin: https://127.0.0.2:" + QByteArray::number(server.port);
    EXPECT_EQ(Http(server.port, "GET", "/connexion", {}, {}, a, ca).status, 200);
    const Response login = Http(server.port, "POST", "/api/connexion", {origin},
                                R"({"nom":"lea","motdepasse":"lecture-seule"})", a, ca);
    ASSERT_EQ(login.status, 200);
    EXPECT_TRUE(login.header("Set-Cookie").contains("; Secure"))
        << login.header("Set-Cookie").toStdString();
    const QByteArray cookie = login.header("Set-Cookie").split(';').first();
    EXPECT_EQ(Http(server.port, "GET", "/api/mesures", {"Cookie: " + cookie}, {}, a, ca).status,
              200);
    EXPECT_EQ(Http(server.port, "GET", "/connexion", {}, {}, a).status, 0) << "no plain HTTP";

    QWebSocket page;
    QSslConfiguration config = page.sslConfiguration();
    config.setCaCertificates(ca);
    page.setSslConfiguration(config);
    int messages = 0;
    QObject::connect(&page, &QWebSocket::textMessageReceived, &page, [&] { ++messages; });
    QNetworkRequest request(QUrl(QStringLiteral("wss://127.0.0.2:%1/api/direct").arg(server.port)));
    request.setRawHeader("Origin", origin.mid(8));
    request.setRawHeader("Cookie", cookie);
    page.open(request);
    Wait([&] { return messages == 1; });
    EXPECT_EQ(messages, 1);
}

TEST(WebMetrics, LabelsEscapedCountersOnlyForChannelsThatExchanged) {
    LiveState live;
    ChannelReading r = Reading(1, QStringLiteral("7 pH"), 7);
    r.tag = QStringLiteral("a\\b\"c\nd");
    live.Take(r);
    std::array<ChannelStats, kChannelCount> stats{};
    stats[1].requests = 3;
    live.EndPass(QDateTime::fromMSecsSinceEpoch(1500, Qt::UTC), stats, 2);
    live.SetAlarm(1, AlarmState::ReturnedUnacknowledged);
    const QByteArray text = MetricsText(live.Snapshot());
    EXPECT_TRUE(text.contains(
        R"(merival_valeur{voie="1",repere="a\\b\"c\nd",grandeur="pH",unite="pH"} 7)"));
    EXPECT_TRUE(text.contains("merival_alarme{voie=\"1\",repere=\"a\\\\b\\\"c\\nd\"} 3\n"));
    EXPECT_TRUE(text.contains("merival_requetes_total{voie=\"1\""));
    EXPECT_FALSE(text.contains("merival_requetes_total{voie=\"0\""));
    EXPECT_FALSE(text.contains("merival_temps_reponse_secondes{"));  // nothing timed yet
    EXPECT_TRUE(text.contains("merival_historique_passes_perdues_total 2\n"));
    EXPECT_TRUE(text.contains("merival_derniere_passe_secondes 1.5\n"));

    // The browser's users journal without a channel: an empty cell, not "-1".
    const AlarmEvent login{QDateTime::currentDateTimeUtc(), -1, QStringLiteral("oscar"),
                           QStringLiteral("10.0.0.9"), QStringLiteral("Connexion web")};
    EXPECT_TRUE(JournalCsv({login}).contains(";;oscar;10.0.0.9;Connexion web\r\n"));
    EXPECT_EQ(JournalJson({login})[0].toObject()[QStringLiteral("voie")], QJsonValue());
}

}  // namespace
}  // namespace merival

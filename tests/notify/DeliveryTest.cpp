#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <algorithm>

#include "common/NotifyServers.h"
#include "common/TempDir.h"
#include "notify/Notifier.h"

namespace merival {
namespace {

using test::NotifyServer;
using test::PumpFor;

AlarmEvent Event(int n, const QString& event = alarm_event::kHigh) {
    return {QDateTime::currentDateTimeUtc(), n % 4, QStringLiteral("Repère %1").arg(n % 4),
            QStringLiteral("valeur n°%1").arg(n), event};
}

DeliveryRules Quick() {
    DeliveryRules rules;
    rules.groupMs = 300;
    rules.firstRetryMs = 200;
    rules.maxRetryMs = 400;
    return rules;
}

// (state, tries, reply) of every delivery, in order.
QList<QStringList> States(const QString& path) {
    QList<QStringList> states;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec("SELECT etat, essais, reponse FROM journal_notifications ORDER BY id"));
        while (q.next()) {
            states.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
        }
    }
    QSqlDatabase::removeDatabase("check");
    return states;
}

// The server may have a message before its state is stored: wait for the state.
bool AllSent(const QString& path, qsizetype count) {
    return PumpFor([&] {
        const QList<QStringList> states = States(path);
        return states.size() == count &&
               std::all_of(states.begin(), states.end(),
                           [](const QStringList& state) { return state[0] == "envoyé"; });
    });
}

class Delivery : public ::testing::Test {
protected:
    NotifySettings Mail(int port) const {
        NotifySettings s;
        s.server = "127.0.0.1";
        s.port = port;
        s.sender = "merival@usine.test";
        s.recipients = {"astreinte@usine.test", "chef@usine.test"};
        return s;
    }
    QString Db() const { return dir_.filePath("historique.sqlite"); }

    test::CurrentTempDir dir_;
};

TEST_F(Delivery, MailGoesOverStartTlsWithLoginAndTheServerAnswerIsKept) {
    QProcess openssl;
    openssl.setWorkingDirectory(dir_.path());
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "cle.pem",
                              "-out", "cert.pem", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                              "subjectAltName=IP:127.0.0.1"});
    ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    ASSERT_TRUE(dir_.write("mdp", "s3cret!\n"));
    NotifyServer smtp("smtp", dir_.filePath("recus.jsonl"),
                      {"--cert", dir_.filePath("cert.pem"), "--key", dir_.filePath("cle.pem"),
                       "--user", "merival", "--password", "s3cret!"});
    ASSERT_TRUE(smtp.Start());

    NotifySettings s = Mail(smtp.port());
    s.security = SmtpSecurity::StartTls;
    s.caFile = dir_.filePath("cert.pem");
    s.user = "merival";
    s.passwordFile = dir_.filePath("mdp");
    s.returned = false;
    Notifier notifier(Db());
    notifier.setSettings(s);
    notifier.setRules(Quick());
    notifier.start();
    const AlarmEvent high{QDateTime::currentDateTimeUtc(), 1, "Sortie", "9,20 pH",
                          alarm_event::kHigh};
    notifier.Notify(high);
    notifier.Notify({high.time, 1, "Sortie", "8,00 pH", alarm_event::kReturn});  // not wanted
    ASSERT_TRUE(PumpFor([&] { return smtp.Records().size() == 1; }));
    ASSERT_TRUE(AllSent(Db(), 1));
    notifier.stop();

    const QJsonObject mail = smtp.Records().first();
    EXPECT_TRUE(mail["tls"].toBool());
    EXPECT_EQ(mail["login"].toString(), "merival");
    EXPECT_EQ(mail["from"].toString(), "merival@usine.test");
    EXPECT_EQ(mail["to"].toArray(), QJsonArray({"astreinte@usine.test", "chef@usine.test"}));
    EXPECT_TRUE(mail["subject"].toString().endsWith(" : Seuil haut, voie 1 (Sortie) – 9,20 pH"))
        << mail["subject"].toString().toStdString();
    EXPECT_TRUE(
        mail["body"].toString().contains(high.time.toLocalTime().toString("dd/MM/yyyy HH:mm:ss") +
                                         "  Seuil haut  voie 1 (Sortie) : 9,20 pH"))
        << mail["body"].toString().toStdString();
    EXPECT_EQ(States(Db()),
              (QList<QStringList>{{"envoyé", "1", "250 2.0.0 Message reçu pour essai"}}));

    // A wrong password and a wrong certificate are told by the test button, in French.
    ASSERT_TRUE(dir_.write("mdp", "faux\n"));
    QList<std::pair<bool, QString>> tested;
    QObject::connect(&notifier, &Notifier::tested, &notifier, [&](bool ok, const QString& answer) {
        tested.append({ok, answer});
    });
    notifier.Test(s);
    ASSERT_TRUE(PumpFor([&] { return tested.size() == 1; }, 30000));
    EXPECT_FALSE(tested[0].first);
    EXPECT_TRUE(
        tested[0].second.startsWith("Courriel échec : identifiant ou mot de passe "
                                    "refusé ; réponse : 535"))
        << tested[0].second.toStdString();
    s.caFile.clear();
    notifier.Test(s);
    ASSERT_TRUE(PumpFor([&] { return tested.size() == 2; }, 30000));
    EXPECT_TRUE(tested[1].second.contains("certificat du serveur refusé"))
        << tested[1].second.toStdString();
}

TEST_F(Delivery, WebhookPostsTheReadingWithTheEventAndTheTokenHeader) {
    NotifyServer http("http", dir_.filePath("recus.jsonl"));
    ASSERT_TRUE(http.Start());
    NotifySettings s;
    s.webhook = QStringLiteral("http://127.0.0.1:%1/alarmes").arg(http.port());
    s.webhookHeader = "Authorization: Bearer jeton-123";
    Notifier notifier(Db());
    notifier.setSettings(s);
    notifier.setRules(Quick());
    notifier.start();
    ChannelReading reading;
    reading.time = QDateTime::currentDateTimeUtc();
    reading.channel = 2;
    reading.tag = "Bassin";
    reading.typeName = "pH-mètre";
    reading.ok = true;
    reading.text = "4,10 pH";
    reading.numbers = {{"pH", 4.1, "pH"}};
    notifier.takeReading(reading);
    notifier.Notify({reading.time, 2, "Bassin", "4,10 pH", alarm_event::kLow});
    notifier.Notify({reading.time, 2, "Bassin", "4,10 pH", alarm_event::kAcknowledge});
    ASSERT_TRUE(PumpFor([&] { return http.Records().size() == 2; }));
    const QJsonObject post = http.Records().first();
    EXPECT_EQ(post["path"].toString(), "/alarmes");
    EXPECT_EQ(post["authorization"].toString(), "Bearer jeton-123");
    const QJsonObject json = QJsonDocument::fromJson(post["body"].toString().toUtf8()).object();
    EXPECT_EQ(json["evenement"].toString(), "Seuil bas");
    EXPECT_EQ(json["type"].toString(), "pH-mètre");
    EXPECT_EQ(json["valeurs"].toArray().at(0)["valeur"].toDouble(), 4.1);
    EXPECT_EQ(QJsonDocument::fromJson(http.Records()[1]["body"].toString().toUtf8())
                  .object()["evenement"]
                  .toString(),
              "Acquittement");

    // The chat form: one request with the text of both.
    s.webhookFormat = WebhookFormat::Text;
    notifier.setSettings(s);
    notifier.setRules(Quick());
    notifier.Notify(Event(1));
    notifier.Notify(Event(2));
    ASSERT_TRUE(PumpFor([&] { return http.Records().size() == 3; }));
    ASSERT_TRUE(AllSent(Db(), 4));
    const QString text = QJsonDocument::fromJson(http.Records()[2]["body"].toString().toUtf8())
                             .object()["text"]
                             .toString();
    EXPECT_TRUE(text.contains("2 événements d'alarme") && text.contains("valeur n°1") &&
                text.contains("valeur n°2"))
        << text.toStdString();
    notifier.stop();
    EXPECT_EQ(States(Db()).last(), (QStringList{"envoyé", "1", "HTTP 200 recu"}));
}

// A flood, the server gone during it, then back; then gone while the program stops, and back
// after its restart: every event arrives once, grouped.
TEST_F(Delivery, AFloodThroughOutagesAndARestartArrivesWholeGroupedAndOnce) {
    NotifyServer smtp("smtp", dir_.filePath("recus.jsonl"));
    ASSERT_TRUE(smtp.Start());
    int sent = 0;
    const auto flood = [&](Notifier& notifier, int count) {
        for (int i = 0; i < count; ++i) {
            notifier.Notify(Event(++sent));
        }
    };
    {
        Notifier notifier(Db());
        notifier.setSettings(Mail(smtp.port()));
        notifier.setRules(Quick());
        notifier.start();
        flood(notifier, 30);
        ASSERT_TRUE(PumpFor([&] { return smtp.Records().size() == 1; }));
        // Stopped once the sender has the server's answer: a server that dies after taking a
        // message but before answering gets it again (at least once, never lost).
        ASSERT_TRUE(AllSent(Db(), 30));
        smtp.Stop();
        flood(notifier, 20);
        ASSERT_TRUE(PumpFor([&] {
            const QList<QStringList> states = States(Db());
            return states.size() == 50 && states.last()[1].toInt() >= 3;
        }));
        EXPECT_EQ(States(Db()).last()[0], "nouvel essai");
        EXPECT_EQ(States(Db()).last()[2], "serveur injoignable");
        ASSERT_TRUE(smtp.Start());
        ASSERT_TRUE(PumpFor([&] { return smtp.Records().size() == 2; }));
        ASSERT_TRUE(AllSent(Db(), 50));
        smtp.Stop();
        flood(notifier, 25);
        ASSERT_TRUE(PumpFor([&] { return States(Db()).last()[0] == "nouvel essai"; }));
    }
    ASSERT_TRUE(smtp.Start());
    Notifier restarted(Db());
    restarted.setSettings(Mail(smtp.port()));
    restarted.setRules(Quick());
    QStringList summary;
    QObject::connect(&restarted, &Notifier::summary, &restarted,
                     [&](const QString& text) { summary.append(text); });
    restarted.start();
    ASSERT_TRUE(PumpFor([&] { return smtp.Records().size() == 3; }));
    ASSERT_TRUE(AllSent(Db(), 75));
    ASSERT_TRUE(PumpFor([&] { return summary.last().contains("envoyées 75"); }));
    EXPECT_TRUE(
        summary.last().startsWith("Notifications : envoyées 75, en attente 0, abandonnées 0."))
        << summary.last().toStdString();
    restarted.stop();

    QString bodies;
    for (const QJsonObject& mail : smtp.Records()) {
        bodies += mail["body"].toString().remove(u'\r');
    }
    for (int n = 1; n <= sent; ++n) {
        EXPECT_EQ(bodies.count(QStringLiteral("valeur n°%1\n").arg(n)), 1) << n;
    }
    EXPECT_TRUE(smtp.Records()[0]["subject"].toString().contains("30 événements d'alarme"));
    EXPECT_TRUE(smtp.Records()[1]["subject"].toString().contains("20 événements d'alarme"));
    EXPECT_TRUE(smtp.Records()[2]["subject"].toString().contains("25 événements d'alarme"));
}

TEST_F(Delivery, AServerNeverBackEndsInGivenUpEventsAndOneMessage) {
    NotifySettings s;
    s.webhook = QStringLiteral("http://127.0.0.1:%1/").arg(test::FreeLoopbackPort());
    DeliveryRules rules = Quick();
    rules.giveUpMs = 1000;
    Notifier notifier(Db());
    notifier.setSettings(s);
    notifier.setRules(rules);
    QStringList failures;
    QObject::connect(&notifier, &Notifier::failed, &notifier,
                     [&](const QString& text) { failures.append(text); });
    notifier.start();
    notifier.Notify(Event(1));
    notifier.Notify(Event(2));
    ASSERT_TRUE(PumpFor([&] { return !failures.isEmpty(); }));
    notifier.stop();
    EXPECT_EQ(failures, QStringList{"2 événement(s) d'alarme n'ont pas pu partir par webhook "
                                    "après une heure d'essais (serveur injoignable)."});
    const QList<QStringList> states = States(Db());
    ASSERT_EQ(states.size(), 2);
    for (const QStringList& state : states) {
        EXPECT_EQ(state[0], "abandonné");
        EXPECT_GE(state[1].toInt(), 3) << "tried again before giving up";
    }
}

}  // namespace
}  // namespace merival

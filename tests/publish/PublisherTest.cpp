#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "common/Mosquitto.h"
#include "common/TempDir.h"
#include "publish/Messages.h"
#include "publish/Publisher.h"

namespace merival {
namespace {

using test::MosquittoBroker;
using test::MqttSubscriber;
using test::PumpFor;

ChannelReading Reading(int channel, double value, const QString& tag = QStringLiteral("pH")) {
    ChannelReading r;
    r.time = QDateTime::currentDateTimeUtc();
    r.channel = channel;
    r.tag = tag;
    r.typeIndex = 2;
    r.typeName = QStringLiteral("pH-mètre");
    r.ok = true;
    r.text = QStringLiteral("%1 pH").arg(value);
    r.numbers = {{QStringLiteral("pH"), value, QStringLiteral("pH")}};
    return r;
}

double Value(const QByteArray& json) {
    return QJsonDocument::fromJson(json)["valeurs"][0]["valeur"].toDouble();
}

PublishSettings Local(int port) {
    PublishSettings s;
    s.active = true;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    return s;
}

// Unsafe characters stay inside their level, retained values and discovery reach a late
// subscriber, and a broker that goes away and comes back gets the latest value of each
// channel without anyone asking.
TEST(PublisherTest, SafeTopicsRetainedValuesAndBrokerOutage) {
    test::CurrentTempDir dir;
    MosquittoBroker broker(dir.path());
    ASSERT_TRUE(broker.Start());
    MqttSubscriber everything(broker.port());
    ASSERT_TRUE(everything.ok());

    PublishSettings settings = Local(broker.port());
    settings.prefix = QStringLiteral("usine/+/#/ligne\x01 é");
    settings.homeAssistant = true;
    Publisher publisher(settings, QStringLiteral("poste"));
    ASSERT_TRUE(publisher.Start().ok());
    ASSERT_TRUE(PumpFor([&] { return publisher.link().state() == LinkState::Connected; }));
    const QString tag = QStringLiteral("a/b+#\"c\" é");
    publisher.publish(Reading(0, 7.5, tag));
    publisher.publish(Reading(1, 6.5));
    const QByteArray topic0 = "usine/_/_/ligne_ é/voie/0";
    ASSERT_TRUE(PumpFor([&] { return everything.payloads("usine/_/_/ligne_ é/voie/1").size(); }));
    ASSERT_EQ(everything.payloads(topic0).size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(everything.payloads(topic0)[0])["repere"].toString(), tag);
    for (const test::Received& m : everything.messages()) {
        EXPECT_TRUE(m.topic.startsWith("usine/_/_/ligne_ é/") ||
                    m.topic.startsWith("homeassistant/sensor/merival_usine_____ligne__e/"))
            << m.topic.toStdString();
    }
    {
        MqttSubscriber late(broker.port());
        ASSERT_TRUE(PumpFor([&] { return late.messages().size() >= 5; }));
        EXPECT_EQ(late.payloads("usine/_/_/ligne_ é/etat"), QList<QByteArray>{"en ligne"});
        EXPECT_EQ(late.payloads(topic0).size(), 1);
        EXPECT_EQ(
            late.payloads("homeassistant/sensor/merival_usine_____ligne__e/voie1_ph/config").size(),
            1);
    }

    // The broker forgets everything (no persistence) while readings go on.
    broker.Stop();
    ASSERT_TRUE(PumpFor([&] { return publisher.link().state() == LinkState::Reconnecting; }));
    for (int i = 0; i < 500; ++i) {
        publisher.publish(Reading(0, i));
    }
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(PumpFor([&] { return publisher.link().state() == LinkState::Connected; }));
    MqttSubscriber after(broker.port());
    ASSERT_TRUE(PumpFor([&] {
        return after.payloads(topic0).size() && after.payloads("usine/_/_/ligne_ é/voie/1").size();
    }));
    EXPECT_EQ(Value(after.payloads(topic0).last()), 499);
    EXPECT_EQ(Value(after.payloads("usine/_/_/ligne_ é/voie/1")[0]), 6.5);

    publisher.Stop();
    ASSERT_TRUE(PumpFor(
        [&] { return everything.payloads("usine/_/_/ligne_ é/etat").endsWith("hors ligne"); }));
}

// Certificates and a password file made here; the broker asks for all of them.
class SecureBroker : public ::testing::Test {
protected:
    void SetUp() override {
        const auto run = [&](const QStringList& args) {
            QProcess p;
            p.setWorkingDirectory(dir_.path());
            p.start(args[0], args.mid(1));
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        ASSERT_TRUE(run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                         "-subj", "/CN=Test CA", "-keyout", "ca.key", "-out", "ca.crt"}));
        ASSERT_TRUE(run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj",
                         "/CN=localhost", "-keyout", "server.key", "-out", "server.csr"}));
        ASSERT_TRUE(dir_.write("san.ext", "subjectAltName=DNS:localhost\n"));
        ASSERT_TRUE(run({"openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey",
                         "ca.key", "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out",
                         "server.crt"}));
        ASSERT_TRUE(run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=ligne1",
                         "-keyout", "client.key", "-out", "client.csr"}));
        ASSERT_TRUE(run({"openssl", "x509", "-req", "-in", "client.csr", "-CA", "ca.crt", "-CAkey",
                         "ca.key", "-CAcreateserial", "-days", "2", "-out", "client.crt"}));
        ASSERT_TRUE(run({"mosquitto_passwd", "-b", "-c", "passwd", "ligne1", "s3cret"}));
        ASSERT_TRUE(dir_.write("good.txt", "s3cret\n"));
        ASSERT_TRUE(dir_.write("bad.txt", "wrong\n"));
        broker_.emplace(dir_.path(), QStringLiteral("cafile ca.crt\ncertfile server.crt\n"
                                                    "keyfile server.key\npassword_file passwd\n"
                                                    "require_certificate true\n"
                                                    "allow_anonymous false\n"));
        ASSERT_TRUE(broker_->Start());
    }

    // The state the link settles in.
    std::pair<LinkState, QString> Try(const QString& host, const QString& passwordFile,
                                      bool clientCert = true) {
        PublishSettings s = Local(broker_->port());
        s.host = host;
        s.user = QStringLiteral("ligne1");
        s.passwordFile = dir_.filePath(passwordFile);
        s.caFile = dir_.filePath("ca.crt");
        if (clientCert) {
            s.clientCert = dir_.filePath("client.crt");
            s.clientKey = dir_.filePath("client.key");
        }
        MqttLink link;
        if (Status started = link.Start(s); !started.ok()) {
            return {link.state(), started.message};
        }
        PumpFor([&] { return link.state() > LinkState::Connecting; });
        return {link.state(), link.stateText()};
    }

    test::CurrentTempDir dir_;
    std::optional<MosquittoBroker> broker_;
};

TEST_F(SecureBroker, PasswordTlsAndClientCertificateAcceptedWrongOnesRefusedWithAReason) {
    const auto [good, goodText] = Try("localhost", "good.txt");
    EXPECT_EQ(good, LinkState::Connected) << goodText.toStdString();
    EXPECT_EQ(goodText, QStringLiteral("connecté à localhost:%1").arg(broker_->port()));

    const auto [bad, badText] = Try("localhost", "bad.txt");
    EXPECT_EQ(bad, LinkState::Refused);
    EXPECT_TRUE(badText.contains("mot de passe")) << badText.toStdString();
    EXPECT_FALSE(badText.contains("wrong"));

    // The certificate names localhost, not the address.
    const auto [name, nameText] = Try("127.0.0.1", "good.txt");
    EXPECT_EQ(name, LinkState::Refused) << nameText.toStdString();
    EXPECT_TRUE(nameText.contains("TLS")) << nameText.toStdString();

    // Under TLS 1.3 the refusal may come as a closed connection, without its alert.
    EXPECT_NE(Try("localhost", "good.txt", false).first, LinkState::Connected)
        << "the broker asks for a client certificate";

    const auto [missing, missingText] = Try("localhost", "none.txt");
    EXPECT_EQ(missing, LinkState::Refused);
    EXPECT_TRUE(missingText.contains("none.txt")) << missingText.toStdString();
}

}  // namespace
}  // namespace merival

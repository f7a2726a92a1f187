#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <csignal>
#include <map>

#include "common/Mosquitto.h"
#include "common/TempDir.h"

namespace merival {
namespace {

using test::PumpFor;

const QString kPoll = QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll");
const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");

// Flow meter at 1, pH at 2, resistivity at 3 on the Ext. block, 562 analyser at 4.
const QByteArray kConfig =
    "1,5\r\n\"1\",\"Debit\"\r\n1,2\r\n\"2\",\"Bassin\"\r\n1,0\r\n\"3\",\"Sortie\"\r\n"
    "1,15\r\n\"4\",\"Ozone\"\r\n#TRUE#,#TRUE#,#FALSE#,#TRUE#\r\n#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n";

class Gateway : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(broker_.Start());
        ASSERT_TRUE(dir_.write("config.txt", kConfig));
        ASSERT_TRUE(dir_.write("PortCom.dat", " 1              0 \r\n 0 \r\n 0 \r\n"));
        ASSERT_TRUE(dir_.write("gateway.ini", QStringLiteral("[Publication]\nActif=true\n"
                                                             "Hote=127.0.0.1\nPort=%1\n"
                                                             "Prefixe=site/ligne 1\n")
                                                  .arg(broker_.port())
                                                  .toUtf8()));
        sim_.setWorkingDirectory(dir_.path());
        sim_.start(kSim, {"--seed", "5", "1:flow", "2:ph", "3:resistivity", "4:562"});
        ASSERT_TRUE(PumpFor([&] { return QFileInfo(dir_.filePath("COM1")).isSymLink(); }));
    }
    void TearDown() override {
        sim_.terminate();
        sim_.waitForFinished(5000);
    }
    void StartPoll(QProcess& poll, const QStringList& arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "fr_FR.UTF-8");
        poll.setProcessEnvironment(env);
        poll.setWorkingDirectory(dir_.path());
        poll.start(kPoll, arguments);
        ASSERT_TRUE(poll.waitForStarted(5000));
    }

    test::CurrentTempDir dir_;
    test::MosquittoBroker broker_{dir_.path()};
    QProcess sim_;
};

// Every number of the JSON is one the text shows, to the text's precision, in the unit of the
// JSON; null only where the text shows "__".
void ExpectNumbersShown(const QJsonObject& json) {
    static const QRegularExpression number(QStringLiteral(R"((-?\d+(?:,\d+)?)[ ]*(\S*))"));
    static const std::map<std::pair<QString, QString>, double> factors = {{{"Ohm", "MOhm"}, 1e-6},
                                                                          {{"kOhm", "MOhm"}, 1e-3},
                                                                          {{"mS", "µS"}, 1e3},
                                                                          {{"m3/s", "m3/h"}, 3600}};
    struct Shown {
        double value;
        double half;  // half a unit of its last digit
        QString unit;
    };
    QList<Shown> shown;
    const QString text = json["texte"].toString();
    for (auto it = number.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString digits = m.captured(1);
        const qsizetype comma = digits.indexOf(u',');
        shown.append({QString(digits).replace(u',', u'.').toDouble(),
                      0.5 * std::pow(10.0, comma < 0 ? 0 : -(digits.size() - comma - 1)),
                      m.captured(2)});
    }
    for (const QJsonValue& v : json["valeurs"].toArray()) {
        if (v["valeur"].isNull()) {
            EXPECT_TRUE(text.contains(QStringLiteral("__"))) << text.toStdString();
            continue;
        }
        const double value = v["valeur"].toDouble();
        const QString unit = v["unite"].toString();
        EXPECT_TRUE(std::any_of(
            shown.begin(), shown.end(),
            [&](const Shown& s) {
                const auto f = factors.find({s.unit, unit});
                const double factor = s.unit == unit ? 1 : f == factors.end() ? 0 : f->second;
                return factor > 0 && std::abs(s.value * factor - value) <= s.half * factor;
            }))
            << value << " " << unit.toStdString() << " in " << text.toStdString();
    }
}

TEST_F(Gateway, PublishesTheTextsAndNumbersOfEveryPassThenGoesOffline) {
    test::MqttSubscriber subscriber(broker_.port());
    ASSERT_TRUE(subscriber.ok());
    QProcess poll;
    StartPoll(poll, {"--count", "3", "--mqtt", "--mqtt-config", "gateway.ini"});
    ASSERT_TRUE(poll.waitForFinished(30000));
    ASSERT_EQ(poll.exitCode(), 0) << poll.readAllStandardError().toStdString();
    QMap<int, QStringList> printed;
    for (const QString& line : QString::fromUtf8(poll.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith("Voie ")) {
            printed[line.mid(5, 1).toInt()].append(line.mid(7).replace(u'\t', " / "));
        }
    }
    ASSERT_EQ(printed.keys(), (QList<int>{0, 1, 2, 3}));
    for (int channel : printed.keys()) {
        SCOPED_TRACE(channel);
        const QByteArray topic = QStringLiteral("site/ligne 1/voie/%1").arg(channel).toUtf8();
        ASSERT_TRUE(PumpFor([&] { return subscriber.payloads(topic).size() == 3; }));
        QStringList published;
        for (const QByteArray& payload : subscriber.payloads(topic)) {
            const QJsonObject json = QJsonDocument::fromJson(payload).object();
            EXPECT_EQ(json["voie"].toInt(), channel);
            EXPECT_EQ(json["etat"].toString(), "OK");
            EXPECT_FALSE(json["valeurs"].toArray().isEmpty());
            ExpectNumbersShown(json);
            published.append(json["texte"].toString());
        }
        EXPECT_EQ(published, printed[channel]);
    }
    EXPECT_EQ(subscriber.payloads("site/ligne 1/etat"),
              (QList<QByteArray>{"en ligne", "hors ligne"}));

    test::MqttSubscriber late(broker_.port());
    ASSERT_TRUE(PumpFor([&] { return late.messages().size() == 5; }));
    EXPECT_EQ(late.payloads("site/ligne 1/etat"), QList<QByteArray>{"hors ligne"});
    EXPECT_EQ(late.payloads("site/ligne 1/voie/3"),
              subscriber.payloads("site/ligne 1/voie/3").mid(2));
}

TEST_F(Gateway, WillMessageWhenKilledAndNoStartWithoutSettings) {
    QProcess unconfigured;
    StartPoll(unconfigured, {"--count", "1", "--mqtt"});
    ASSERT_TRUE(unconfigured.waitForFinished(10000));
    EXPECT_EQ(unconfigured.exitCode(), 1);
    EXPECT_TRUE(unconfigured.readAllStandardError().contains("merival.ini"));

    ASSERT_TRUE(QFile::rename(dir_.filePath("gateway.ini"), dir_.filePath("merival.ini")));
    test::MqttSubscriber subscriber(broker_.port(), "site/ligne 1/#");
    QProcess poll;
    StartPoll(poll, {"--mqtt"});
    ASSERT_TRUE(PumpFor([&] { return subscriber.payloads("site/ligne 1/voie/3").size(); }));
    ::kill(static_cast<pid_t>(poll.processId()), SIGKILL);
    ASSERT_TRUE(poll.waitForFinished(5000));
    ASSERT_TRUE(PumpFor([&] { return subscriber.payloads("site/ligne 1/etat").size() == 2; }));
    EXPECT_EQ(subscriber.payloads("site/ligne 1/etat"),
              (QList<QByteArray>{"en ligne", "hors ligne"}));
}

}  // namespace
}  // namespace merival

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "common/NotifyServers.h"
#include "common/TempDir.h"
#include "integration/SimProcess.h"

namespace merival {
namespace {

const QString kPoll = QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll");
const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");

// merival-poll --alarms sends its events to the webhook of [Notifications], each with the
// reading that raised it.
TEST(NotifyPoll, AnAlarmOfTheConsoleReachesTheWebhookWithItsReading) {
    test::CurrentTempDir dir;
    test::NotifyServer http("http", dir.filePath("recus.jsonl"));
    ASSERT_TRUE(http.Start());
    ASSERT_TRUE(dir.write("config.txt",
                          "1,2\r\n\"1\",\"Bassin\"\r\n0,-1\r\n\"\",\"\"\r\n"
                          "0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n"
                          "#TRUE#,#TRUE#,#TRUE#,#TRUE#\r\n"
                          "#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n"));
    ASSERT_TRUE(dir.write("PortCom.dat", " 1              0 \r\n 0 \r\n 0 \r\n"));
    ASSERT_TRUE(dir.write("merival.ini", QStringLiteral("[Alarmes]\nVoie0\\SeuilHaut=0.5\n"
                                                        "[Notifications]\nRegroupement=0\n"
                                                        "Webhook=http://127.0.0.1:%1/hook\n")
                                             .arg(http.port())
                                             .toUtf8()));
    test::SimProcess sim(kSim, dir.path());
    ASSERT_TRUE(sim.Start({QStringLiteral("1:ph")}));

    QProcess poll;
    poll.setWorkingDirectory(dir.path());
    poll.start(kPoll, {"--alarms", "--interval", "200", "--count", "15"});
    ASSERT_TRUE(poll.waitForFinished(60000));
    EXPECT_EQ(poll.exitCode(), 0) << poll.readAllStandardError().toStdString();
    ASSERT_EQ(http.Records().size(), 1);
    const QJsonObject json =
        QJsonDocument::fromJson(http.Records()[0]["body"].toString().toUtf8()).object();
    EXPECT_EQ(json["evenement"].toString(), "Seuil haut");
    EXPECT_EQ(json["voie"].toInt(), 0);
    EXPECT_EQ(json["repere"].toString(), "Bassin");
    EXPECT_EQ(json["etat"].toString(), "OK");
    ASSERT_FALSE(json["valeurs"].toArray().isEmpty()) << "the reading that raised it";
    EXPECT_GT(json["valeurs"].toArray().at(0)["valeur"].toDouble(), 0.5);
}

}  // namespace
}  // namespace merival

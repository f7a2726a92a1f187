#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "common/TempDir.h"
#include "publish/Messages.h"
#include "publish/PublishSettings.h"

namespace merival {
namespace {

ChannelReading FlowReading() {
    ChannelReading r;
    r.time = QDateTime(QDate(2026, 3, 1), QTime(8, 30, 5, 120), Qt::UTC);
    r.channel = 2;
    r.tag = QStringLiteral("Entrée \"A\"/+#");
    r.typeIndex = 5;
    r.typeName = QStringLiteral("Débitmètre");
    r.ok = true;
    r.text = QStringLiteral("12.5 m3/h\r\n340 m3");
    r.numbers = {{QStringLiteral("Débit"), 12.5, QStringLiteral("m3/h")},
                 {QStringLiteral("Volume journalier"), 340, QStringLiteral("m3")}};
    r.temperature = 18.25;
    return r;
}

TEST(MessagesTest, ReadingJsonHoldsEveryFieldEscaped) {
    const QJsonObject json = QJsonDocument::fromJson(ReadingJson(FlowReading())).object();
    EXPECT_EQ(json.value("horodatage").toString(), "2026-03-01T08:30:05.120Z");
    EXPECT_EQ(json.value("voie").toInt(), 2);
    EXPECT_EQ(json.value("repere").toString(), FlowReading().tag);
    EXPECT_EQ(json.value("type").toString(), "Débitmètre");
    EXPECT_EQ(json.value("etat").toString(), "OK");
    EXPECT_EQ(json.value("texte").toString(), "12.5 m3/h / 340 m3");
    EXPECT_EQ(json.value("temperature").toDouble(), 18.25);
    const QJsonArray values = json.value("valeurs").toArray();
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[1].toObject(),
              (QJsonObject{{"nom", "Volume journalier"}, {"valeur", 340}, {"unite", "m3"}}));

    ChannelReading hs = FlowReading();
    hs.ok = false;
    hs.text = QStringLiteral("HS");
    hs.numbers.clear();
    hs.temperature.reset();
    const QJsonObject off = QJsonDocument::fromJson(ReadingJson(hs)).object();
    EXPECT_EQ(off.value("etat").toString(), "HS");
    EXPECT_TRUE(off.value("temperature").isNull());
    EXPECT_TRUE(off.value("valeurs").toArray().isEmpty());
}

// The numbers published are those the texts show: a "%" text is not 100 times smaller, and a
// rate shown as "__" is null, not 0 nor a neighbour.
TEST(MessagesTest, PublishedNumbersAreTheShownOnes) {
    MeasurementResults oxygen;
    oxygen.OxygenValue = 832;
    ChannelReading r;
    r.ok = true;
    r.typeIndex = 4;
    DescribeReading(r, oxygen, u',');
    ASSERT_TRUE(r.text.startsWith(QStringLiteral("    083,2  %"))) << r.text.toStdString();
    QJsonArray values = QJsonDocument::fromJson(ReadingJson(r)).object().value("valeurs").toArray();
    ASSERT_EQ(values.size(), 1);
    EXPECT_EQ(values[0].toObject(),
              (QJsonObject{{"nom", "Oxygène"}, {"valeur", 83.2}, {"unite", "%"}}));

    MeasurementResults flow;
    flow.FlowRate = 1234;
    flow.FlowRange = 35;  // a range without a line
    flow.DailyVolume = 500;
    r.typeIndex = 5;
    DescribeReading(r, flow, u',');
    values = QJsonDocument::fromJson(ReadingJson(r)).object().value("valeurs").toArray();
    ASSERT_EQ(values.size(), 3);
    EXPECT_EQ(values[0].toObject(),
              (QJsonObject{{"nom", "Débit"}, {"valeur", QJsonValue::Null}, {"unite", "m3/h"}}));
    EXPECT_EQ(values[1].toObject().value("valeur").toDouble(), 500);
}

TEST(MessagesTest, TopicLevelsCannotBreakTheTree) {
    const struct {
        QString in, out;
    } levels[] = {{"ligne/1", "ligne_1"},
                  {"a+b#c", "a_b_c"},
                  {"  ", "_"},
                  {"$SYS", "_SYS"},
                  {"x\x01y\ty", "x_y_y"},
                  {"Épuration", "Épuration"},
                  {QString(QChar(0x200B)), "_"}};
    for (const auto& row : levels) {
        SCOPED_TRACE(row.in.toStdString());
        EXPECT_EQ(SafeTopicLevel(row.in), row.out);
    }
    EXPECT_EQ(SafePrefix("/usine//+/#/", "pc"), "usine/_/_");
    EXPECT_EQ(SafePrefix(" / ", "pc/1#"), "merival/pc_1_");
    EXPECT_EQ(ChannelTopic("usine", 3), "usine/voie/3");
    EXPECT_EQ(StateTopic("usine"), "usine/etat");
    EXPECT_EQ(AsciiId("Voie 0 Débit m3/h"), "voie_0_debit_m3_h");
}

TEST(MessagesTest, DiscoveryOneSensorPerNumberAndTemperature) {
    const QList<MqttMessage> messages = DiscoveryMessages("usine/é", FlowReading());
    ASSERT_EQ(messages.size(), 3);
    EXPECT_EQ(messages[0].topic, "homeassistant/sensor/merival_usine_e/voie2_debit/config");
    EXPECT_EQ(messages[2].topic, "homeassistant/sensor/merival_usine_e/voie2_temperature/config");
    const QJsonObject flow = QJsonDocument::fromJson(messages[0].payload).object();
    EXPECT_EQ(flow.value("state_topic").toString(), "usine/é/voie/2");
    EXPECT_EQ(flow.value("unit_of_measurement").toString(), "m3/h");
    EXPECT_EQ(flow.value("availability_topic").toString(), "usine/é/etat");
    EXPECT_TRUE(flow.value("value_template").toString().contains("'Débit'"));
    EXPECT_EQ(flow.value("unique_id").toString(), "merival_usine_e_voie2_debit");
}

TEST(MessagesTest, SettingsDefaultsAndRoundTrip) {
    test::CurrentTempDir dir;
    ASSERT_TRUE(dir.write("merival.ini",
                          "[Publication]\nActif=true\nHote=b\nFichierCA=ca.pem\n"
                          "Port=99999\n"));
    QSettings ini(dir.filePath("merival.ini"), QSettings::IniFormat);
    PublishSettings loaded = LoadPublishSettings(ini);
    EXPECT_TRUE(loaded.usable());
    EXPECT_EQ(loaded.port, kMqttTlsPort);
    EXPECT_EQ(WithFilesIn(loaded, QDir(dir.path())).caFile, dir.filePath("ca.pem"));

    PublishSettings s{true, "h", 1884, "p/q", "u", "pw", "ca", "c", "k", true};
    SavePublishSettings(ini, s);
    ini.sync();
    QSettings again(dir.filePath("merival.ini"), QSettings::IniFormat);
    EXPECT_EQ(LoadPublishSettings(again), s);
    QSettings empty(dir.filePath("none.ini"), QSettings::IniFormat);
    EXPECT_FALSE(LoadPublishSettings(empty).usable());
    EXPECT_EQ(LoadPublishSettings(empty).port, kMqttPort);
}

}  // namespace
}  // namespace merival

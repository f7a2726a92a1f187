#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include "common/TempDir.h"
#include "notify/AlarmReport.h"
#include "notify/DeliveryPlan.h"
#include "notify/NotifyMessages.h"
#include "notify/NotifySettings.h"

namespace merival {
namespace {

constexpr qint64 kMin = 60000;
constexpr qint64 kHour = 3600000;

TEST(DeliveryPlan, GroupsWaitingEventsAndKeepsTheHourlyLimit) {
    DeliveryRules rules;
    rules.perHour = 2;
    rules.maxBatch = 3;
    const qint64 now = 100 * kHour;
    // Nothing due yet: wake when the first is.
    QList<PendingDelivery> pending{{1, now + 5000}, {2, now + 9000}};
    DeliveryPlan plan = PlanDelivery(pending, {}, now, rules);
    EXPECT_TRUE(plan.send.isEmpty());
    EXPECT_EQ(plan.wakeMs, now + 5000);
    // One due: every waiting event goes with it, up to the batch size, in queue order.
    pending = {{4, now - 1}, {5, now + 9000}, {6, now + 9000}, {7, now + 9000}};
    EXPECT_EQ(PlanDelivery(pending, {}, now, rules).send, (QList<qint64>{4, 5, 6}));
    // Two messages within the hour: wait until the older is an hour old; older ones count not.
    plan = PlanDelivery(pending, {now - 2 * kHour, now - 50 * kMin, now - 10 * kMin}, now, rules);
    EXPECT_TRUE(plan.send.isEmpty());
    EXPECT_EQ(plan.wakeMs, now + 10 * kMin);
    EXPECT_FALSE(PlanDelivery({}, {}, now, rules).wakeMs.has_value());
}

TEST(DeliveryPlan, RetriesWithGrowingDelaysForAnHourThenGivesUp) {
    const DeliveryRules rules;  // 10 s doubled up to 10 min, for an hour
    PendingDelivery d{1, 0, 0, 0};
    qint64 now = 1000;
    QList<qint64> delays;
    while (const std::optional<qint64> next = NextTry(d, now, rules)) {
        delays.append(*next - now);
        d.firstFailureMs = d.firstFailureMs ? d.firstFailureMs : now;
        ++d.tries;
        now = *next;
    }
    ASSERT_GE(delays.size(), 8);
    EXPECT_EQ(delays.mid(0, 7),
              (QList<qint64>{10000, 20000, 40000, 80000, 160000, 320000, 600000}));
    EXPECT_EQ(delays.last(), 600000);
    EXPECT_LE(now - d.firstFailureMs, rules.giveUpMs);
    EXPECT_GT(now + 600000 - d.firstFailureMs, rules.giveUpMs);
}

TEST(NotifySettings, LoadsSavesAndRefusesWhatCannotWork) {
    test::CurrentTempDir dir;
    ASSERT_TRUE(dir.write("merival.ini",
                          "[Notifications]\nServeurSMTP=smtp.usine.local\nSecurite=tls\n"
                          "Expediteur=merival@usine.local\n"
                          "Destinataires=astreinte@usine.local, chef@usine.local\n"
                          "Evenements=activation,perte\nWebhook=https://chat.local/hook\n"
                          "ModeleWebhook=texte\nRegroupement=abc\n"));
    QSettings ini(dir.filePath("merival.ini"), QSettings::IniFormat);
    Status warning;
    NotifySettings s = LoadNotifySettings(ini, &warning);
    EXPECT_EQ(s.port, 465);  // TLS without a port
    EXPECT_EQ(s.security, SmtpSecurity::Tls);
    EXPECT_EQ(s.recipients, (QStringList{"astreinte@usine.local", "chef@usine.local"}));
    EXPECT_TRUE(s.activation && s.loss && !s.returned && !s.acknowledged);
    EXPECT_EQ(s.webhookFormat, WebhookFormat::Text);
    EXPECT_EQ(s.groupSeconds, 30);
    EXPECT_TRUE(warning.message.contains("Regroupement")) << warning.message.toStdString();
    EXPECT_TRUE(CheckNotifySettings(s).ok());
    EXPECT_FALSE(s.Wants({{}, 0, {}, {}, alarm_event::kReturn}));
    EXPECT_TRUE(s.Wants({{}, 0, {}, {}, alarm_event::kLow}));

    QSettings out(dir.filePath("autre.ini"), QSettings::IniFormat);
    SaveNotifySettings(out, s);
    out.sync();
    EXPECT_EQ(LoadNotifySettings(QSettings(dir.filePath("autre.ini"), QSettings::IniFormat)), s);

    const auto refused = [](auto change) {
        NotifySettings bad;
        bad.server = "127.0.0.1";
        bad.sender = "a@b";
        bad.recipients = {"c@d"};
        change(bad);
        return CheckNotifySettings(bad).message;
    };
    EXPECT_TRUE(refused([](NotifySettings&) {}).isEmpty());
    EXPECT_TRUE(refused([](auto& b) { b.recipients = {"c@d", "chef"}; }).contains("« chef »"));
    EXPECT_TRUE(refused([](auto& b) { b.sender = "<a@b>"; }).contains("expéditeur"));
    EXPECT_TRUE(refused([](auto& b) { b.recipients.clear(); }).contains("destinataire"));
    EXPECT_TRUE(refused([](auto& b) { b.webhook = "ftp://x/y"; }).contains("http://"));
    EXPECT_TRUE(refused([](auto& b) {
                    b.webhookHeader = "Jeton sans deux-points";
                }).contains("Nom: valeur"));
    EXPECT_TRUE(refused([](auto& b) { b.passwordFile = "mdp"; }).contains("utilisateur"));
    EXPECT_TRUE(refused([](auto& b) {
                    b.activation = b.returned = b.acknowledged = b.loss = false;
                }).contains("événement"));

    NotifySettings clear;
    clear.server = "127.0.0.1";
    EXPECT_FALSE(ClearTextAcrossNetwork(clear));
    clear.server = "smtp.usine.local";
    EXPECT_TRUE(ClearTextAcrossNetwork(clear));
    clear.security = SmtpSecurity::StartTls;
    EXPECT_FALSE(ClearTextAcrossNetwork(clear));
}

TEST(NotifyMessages, TextsNameEveryEventAndJsonCarriesTheReading) {
    const QDateTime t = QDateTime::fromString("2026-03-01T08:30:05.120Z", Qt::ISODateWithMs);
    ChannelReading reading;
    reading.time = t.addMSecs(-10);
    reading.channel = 2;
    reading.tag = "Sortie";
    reading.typeName = "pH-mètre";
    reading.ok = true;
    reading.text = "9,20 pH";
    reading.numbers = {{"pH", 9.2, "pH"}};
    const AlarmEvent high{t, 2, "Sortie", "9,20 pH", alarm_event::kHigh};
    const QJsonObject json = QJsonDocument::fromJson(EventJson(high, reading)).object();
    EXPECT_EQ(json["evenement"].toString(), alarm_event::kHigh);
    EXPECT_EQ(json["horodatage"].toString(), "2026-03-01T08:30:05.120Z");
    EXPECT_EQ(json["type"].toString(), "pH-mètre");
    EXPECT_EQ(json["valeurs"].toArray().at(0)["valeur"].toDouble(), 9.2);
    EXPECT_EQ(QJsonDocument::fromJson(EventJson(high, std::nullopt)).object()["voie"].toInt(), 2);

    const AlarmEvent back{t.addSecs(60), 3, "", "HS", alarm_event::kLoss};
    const QList<Notification> batch{{1, high, {}}, {2, back, {}}};
    EXPECT_EQ(MailSubject({batch[0]}, "poste"),
              "MERIVAL poste : Seuil haut, voie 2 (Sortie) – 9,20 pH");
    EXPECT_EQ(MailSubject(batch, "poste"), "MERIVAL poste : 2 événements d'alarme, voies 2, 3");
    const QString body = MailBody(batch, "poste");
    EXPECT_TRUE(body.contains(t.toLocalTime().toString("dd/MM/yyyy HH:mm:ss") +
                              "  Seuil haut  voie 2 (Sortie) : 9,20 pH\n"));
    EXPECT_TRUE(body.contains("Perte de communication  voie 3 : HS"));
    // Headers in ASCII only, lines short enough for any server.
    NotifySettings s;
    s.sender = "a@b";
    s.recipients = {"c@d", "e@f"};
    const QByteArray message =
        MailMessage(s, batch, QString(40, u'é'), QDateTime::currentDateTime());
    for (const QByteArray& line : message.split('\n')) {
        EXPECT_LE(line.size(), 78) << line.toStdString();
        for (char c : line) {
            EXPECT_GT(static_cast<unsigned char>(c), 0) << line.toStdString();
            EXPECT_LT(static_cast<unsigned char>(c), 128) << line.toStdString();
        }
    }
    EXPECT_TRUE(message.contains("\r\nTo: c@d, e@f\r\n"));
}

// A generated journal of one day with known figures.
QList<JournalRow> Day(qint64 start) {
    QList<JournalRow> rows;
    const auto add = [&](qint64 at, int channel, const QString& event) {
        rows.append({start + at, channel, QStringLiteral("V%1").arg(channel), event});
    };
    // Channel 0 chatters: 5 high alarms 10 s apart, each back to normal at once, acknowledged
    // 30 s after the first.
    for (int i = 0; i < 5; ++i) {
        add(i * 10000, 0, alarm_event::kHigh);
        add(i * 10000 + 5000, 0, alarm_event::kReturn);
    }
    add(30000, 0, alarm_event::kAcknowledge);
    // A flood between 2:00 and 2:20: 12 then 15 losses on channel 1 (27 in all), then a calm
    // block of 10 exactly (no flood).
    for (int i = 0; i < 12; ++i)
        add(2 * kHour + i * 40000, 1, alarm_event::kLoss);
    for (int i = 0; i < 15; ++i)
        add(2 * kHour + 10 * kMin + i * 39000, 1, alarm_event::kLoss);
    for (int i = 0; i < 10; ++i)
        add(2 * kHour + 20 * kMin + i * 59000, 1, alarm_event::kLoss);
    add(3 * kHour, 1, alarm_event::kAcknowledge);  // 60 min after its first alarm
    add(3 * kHour + 1, 1, alarm_event::kReturn);
    // Channel 2 low from 1:00, never back: standing at the end of a 30-hour period.
    add(1 * kHour, 2, alarm_event::kLow);
    add(1 * kHour + 2 * kMin, 2, alarm_event::kAcknowledge);
    // Channel 3 high for 25 h, then back: standing too; never acknowledged.
    add(4 * kHour, 3, alarm_event::kHigh);
    add(29 * kHour, 3, alarm_event::kReturn);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.ms < b.ms; });
    return rows;
}

TEST(AlarmReport, FindsFloodsStandingAndChatteringAlarmsOfAKnownJournal) {
    const qint64 start = QDateTime(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QList<JournalRow> rows = Day(start);
    rows.append({start + 31 * kHour, 0, "V0", alarm_event::kHigh});  // after the period
    const AlarmReport r = ComputeAlarmReport(rows, start, start + 30 * kHour);
    EXPECT_EQ(r.alarms, 5 + 37 + 1 + 1);
    EXPECT_DOUBLE_EQ(r.perTenMinutes, 44.0 / 180);
    EXPECT_EQ(r.peak, 15);
    EXPECT_EQ(r.peakAtMs, start + 2 * kHour + 10 * kMin);
    ASSERT_EQ(r.floods.size(), 1);
    EXPECT_EQ(r.floods[0],
              (AlarmReport::Flood{start + 2 * kHour, start + 2 * kHour + 20 * kMin, 27}));
    ASSERT_EQ(r.standing.size(), 2);
    EXPECT_EQ(r.standing[0], (AlarmReport::Standing{2, "V2", alarm_event::kLow, start + kHour,
                                                    start + 30 * kHour, true}));
    EXPECT_EQ(r.standing[1], (AlarmReport::Standing{3, "V3", alarm_event::kHigh, start + 4 * kHour,
                                                    start + 29 * kHour, false}));
    // Alarms 3, 4 and 5 of channel 0 each close a third within a minute; 40 s apart the
    // losses of channel 1 never do (12 at 40 s: 80 s for three).
    ASSERT_EQ(r.chattering.size(), 1);
    EXPECT_EQ(r.chattering[0], (AlarmReport::Source{0, "V0", alarm_event::kHigh, 3}));
    ASSERT_EQ(r.top.size(), 4);
    EXPECT_EQ(r.top[0], (AlarmReport::Source{1, "V1", alarm_event::kLoss, 37}));
    EXPECT_EQ(r.top[1].count, 5);
    EXPECT_EQ(r.acknowledged, 3);
    EXPECT_EQ(r.medianAckMs, 2 * kMin);
    EXPECT_EQ(r.longestAckMs, kHour);
    EXPECT_EQ(r.neverAcknowledged, 2);  // channel 0 after 30 s, and channel 3

    const QString text = FormatAlarmReport(r);
    EXPECT_TRUE(text.contains("Alarmes par 10 minutes : moyenne 0,24 ; pointe 15"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Voie 3 (V3), Seuil haut : depuis le")) << text.toStdString();
    EXPECT_TRUE(text.contains("1 j 1 h")) << text.toStdString();
    EXPECT_TRUE(text.contains("médiane 2 min 00 s ; plus long 1 h 00 min")) << text.toStdString();

    // More than ten sources: the ten busiest only.
    QList<JournalRow> many;
    for (int n = 0; n < 4; ++n) {
        for (const QString& e : {alarm_event::kHigh, alarm_event::kLow, alarm_event::kLoss}) {
            for (int i = 0; i <= n; ++i)
                many.append({start + i * kHour, n, "", e});
        }
    }
    EXPECT_EQ(ComputeAlarmReport(many, start, start + 24 * kHour).top.size(), 10);
}

}  // namespace
}  // namespace merival

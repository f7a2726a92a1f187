#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>

#include "alarms/AlarmJournal.h"
#include "alarms/windows/AlarmJournalWindow.h"
#include "base/IniFile.h"
#include "common/NotifyServers.h"
#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "history/Storage.h"
#include "notify/Notifier.h"
#include "notify/windows/AlarmReportWindow.h"
#include "notify/windows/NotifySettingsDialog.h"

namespace merival {
namespace {

using test::PumpFor;

TEST(NotifySettingsDialog, RefusesBadSettingsWithoutSavingAndTestsAgainstARealServer) {
    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    Notifier notifier(dir.filePath("historique.sqlite"));
    NotifySettingsDialog dialog(notifier, op);
    dialog.ShowFromMenu();
    EXPECT_EQ(dialog.PortSMTP->value(), 25);
    EXPECT_TRUE(dialog.Activation->isChecked() && dialog.Perte->isChecked());

    dialog.ServeurSMTP->setText("smtp.usine.test");
    EXPECT_TRUE(dialog.Avertissement->isVisibleTo(&dialog)) << "clear text across the network";
    dialog.Securite->setCurrentIndex(2);
    EXPECT_EQ(dialog.PortSMTP->value(), 465);
    EXPECT_FALSE(dialog.Avertissement->isVisibleTo(&dialog));
    dialog.Expediteur->setText("merival@usine.test");
    dialog.Destinataires->setText("astreinte@usine.test, chef usine");
    int saved = 0;
    QObject::connect(&dialog, &NotifySettingsDialog::saved, &dialog, [&] { ++saved; });
    dialog.Valider_Click();
    ASSERT_EQ(op.texts().size(), 1);
    EXPECT_TRUE(op.texts()[0].contains("« chef usine » n'est pas une adresse"))
        << op.texts()[0].toStdString();
    EXPECT_EQ(saved, 0);
    EXPECT_FALSE(QFileInfo::exists(IniPath())) << "nothing saved";

    dialog.Destinataires->setText("astreinte@usine.test, chef@usine.test");
    dialog.Retour->setChecked(false);
    dialog.Valider_Click();
    ASSERT_EQ(saved, 1);
    const NotifySettings back = LoadNotifySettings(*OpenIni());
    EXPECT_EQ(back.server, "smtp.usine.test");
    EXPECT_EQ(back.port, 465);
    EXPECT_EQ(back.recipients, (QStringList{"astreinte@usine.test", "chef@usine.test"}));
    EXPECT_FALSE(back.returned);

    // "Tester" shows what the webhook's server answered.
    test::NotifyServer http("http", dir.filePath("recus.jsonl"), {"--status", "403"});
    ASSERT_TRUE(http.Start());
    dialog.ServeurSMTP->clear();
    dialog.Destinataires->clear();
    dialog.Webhook->setText(QStringLiteral("http://127.0.0.1:%1/essai").arg(http.port()));
    int answered = 0;
    QObject::connect(&dialog, &NotifySettingsDialog::testFinished, &dialog, [&] { ++answered; });
    dialog.Tester->click();
    ASSERT_TRUE(PumpFor([&] { return answered == 1; }, 30000));
    EXPECT_EQ(dialog.Resultat->text(), "Échec.\nWebhook échec : HTTP 403 recu");
    EXPECT_EQ(http.Records().size(), 1);
    EXPECT_TRUE(http.Records()[0]["body"].toString().contains("\"evenement\":\"Essai\""));
}

TEST(AlarmReportWindow, ShowsTheFiguresOfTheJournalOfThePeriod) {
    test::CurrentTempDir dir;
    const QString path = dir.filePath("historique.sqlite");
    ASSERT_TRUE(OpenStorage("report-test", path, StorageAccess::Write).status.ok());
    const QDateTime start(QDate(2026, 3, 2), QTime(8, 0));
    {
        QSqlDatabase db = QSqlDatabase::database("report-test");
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(
            "CREATE TABLE IF NOT EXISTS journal_alarmes(id INTEGER PRIMARY KEY, t_ms INTEGER, "
            "voie INTEGER, repere TEXT, texte TEXT, evenement TEXT)"));
        // A flood of 12 alarms in ten minutes on channel 2, acknowledged after 5 minutes.
        for (int i = 0; i < 12; ++i) {
            q.prepare(
                "INSERT INTO journal_alarmes(t_ms, voie, repere, texte, evenement) "
                "VALUES(?, 2, 'Sortie', '9,1 pH', ?)");
            q.addBindValue(start.addSecs(i * 45).toMSecsSinceEpoch());
            q.addBindValue(i % 2 ? "Seuil bas" : "Seuil haut");
            ASSERT_TRUE(q.exec());
        }
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO journal_alarmes(t_ms, voie, repere, texte, "
                                          "evenement) VALUES(%1, 2, 'Sortie', '', 'Acquittement')")
                               .arg(start.addSecs(300).toMSecsSinceEpoch())));
    }
    CloseStorage("report-test");

    AlarmReportWindow window(path);
    int shown = 0;
    QObject::connect(&window, &AlarmReportWindow::shown, &window, [&] { ++shown; });
    window.ShowFromMenu();
    ASSERT_TRUE(PumpFor([&] { return shown == 1; }));
    EXPECT_TRUE(window.Rapport->toPlainText().contains("Alarmes : 0")) << "last 30 days";
    window.Du->setDateTime(start.addSecs(-3600));
    window.Au->setDateTime(start.addSecs(3600));
    window.Calculer->click();
    ASSERT_TRUE(PumpFor([&] { return shown == 2; }));
    const QString text = window.Rapport->toPlainText();
    EXPECT_TRUE(text.contains("Alarmes : 12\n")) << text.toStdString();
    EXPECT_TRUE(
        text.contains("Avalanches (plus de 10 alarmes en 10 minutes) : 1\n  du 02/03/2026 "
                      "08:00 au 02/03/2026 08:10 : 12 alarmes"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Voie 2 (Sortie), Seuil haut : 6")) << text.toStdString();
    EXPECT_TRUE(text.contains("médiane 5 min 00 s")) << text.toStdString();

    window.Du->setDateTime(start.addSecs(3600));
    window.Au->setDateTime(start);
    window.Calculer->click();
    EXPECT_TRUE(window.Rapport->toPlainText().startsWith("La période est vide"));
}

// Each event's own delivery shows on its row of the journal, and follows a new try.
TEST(AlarmJournalWindow, ShowsHowEachEventWentOut) {
    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    test::NotifyServer http("http", dir.filePath("recus.jsonl"), {"--status", "503"});
    ASSERT_TRUE(http.Start());
    AlarmJournal journal;
    Notifier notifier;
    NotifySettings s;
    s.webhook = QStringLiteral("http://127.0.0.1:%1/alarmes").arg(http.port());
    notifier.setSettings(s);
    DeliveryRules rules;
    rules.groupMs = 0;
    rules.firstRetryMs = 200;
    rules.maxRetryMs = 200;
    rules.giveUpMs = 500;
    notifier.setRules(rules);
    notifier.start();
    AlarmJournalWindow window(journal, op);
    QObject::connect(&notifier, &Notifier::summary, &window, &AlarmJournalWindow::setDeliveryText);
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    const AlarmEvent high{t, 1, "Bassin", "9,20 pH", alarm_event::kHigh};
    journal.Append(high);
    journal.Append({t.addSecs(1), 1, "Bassin", "9,20 pH", alarm_event::kAcknowledge});
    window.ShowFromMenu();
    notifier.Notify(high);
    const auto cell = [&](int row) {
        return window.Tableau->model()->index(row, 6).data().toString();
    };
    ASSERT_TRUE(PumpFor([&] { return cell(1).startsWith("webhook : abandonné"); }, 30000))
        << cell(1).toStdString();
    EXPECT_EQ(cell(1), "webhook : abandonné (HTTP 503 recu)");
    EXPECT_EQ(cell(0), "") << "the acknowledgement was not sent";
    EXPECT_EQ(window.Tableau->model()->headerData(6, Qt::Horizontal).toString(), "Notification");
    notifier.stop();
}

}  // namespace
}  // namespace merival

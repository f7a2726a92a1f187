#include <gtest/gtest.h>

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "alarms/AlarmJournal.h"
#include "common/TempDir.h"
#include "history/Storage.h"

namespace merival {
namespace {

const QString kTool = QStringLiteral(MERIVAL_BINARY_DIR "/tools/history/merival-history");

// merival-history --rapport-alarmes on a journal with a standing alarm and a chattering one.
TEST(ReportTool, PrintsTheReportOfTheChosenPeriod) {
    test::CurrentTempDir dir;
    ASSERT_TRUE(OpenStorage("tool-test", dir.filePath("historique.sqlite"), StorageAccess::Write)
                    .status.ok());
    const QDateTime start(QDate(2026, 4, 1), QTime(6, 0));
    {
        QSqlQuery q(QSqlDatabase::database("tool-test"));
        ASSERT_TRUE(q.exec(
            "CREATE TABLE IF NOT EXISTS journal_alarmes(id INTEGER PRIMARY KEY, t_ms INTEGER, "
            "voie INTEGER, repere TEXT, texte TEXT, evenement TEXT)"));
        const auto add = [&](qint64 seconds, int channel, const char* event) {
            q.prepare(
                "INSERT INTO journal_alarmes(t_ms, voie, repere, texte, evenement) "
                "VALUES(?, ?, 'Cuve', '', ?)");
            q.addBindValue(start.addSecs(seconds).toMSecsSinceEpoch());
            q.addBindValue(channel);
            q.addBindValue(QString::fromUtf8(event));
            ASSERT_TRUE(q.exec());
        };
        add(0, 0, "Perte de communication");
        add(30 * 3600, 0, "Retour à la normale");
        for (int i = 0; i < 4; ++i) {
            add(100 + i * 15, 3, "Seuil bas");
            add(105 + i * 15, 3, "Retour à la normale");
        }
        add(40 * 24 * 3600, 1, "Seuil haut");  // outside the period asked
    }
    CloseStorage("tool-test");

    QProcess tool;
    tool.start(kTool, {"--rapport-alarmes", "--from", "2026-04-01", "--to", "2026-04-03"});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const QString out = QString::fromUtf8(tool.readAllStandardOutput());
    EXPECT_TRUE(out.contains("Période : du 01/04/2026 00:00 au 04/04/2026 00:00"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("Alarmes : 5\n")) << out.toStdString();
    EXPECT_TRUE(
        out.contains("Alarmes permanentes (actives plus de 24 h) : 1\n  Voie 0 (Cuve), "
                     "Perte de communication : depuis le 01/04/2026 06:00, 1 j 6 h\n"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("Voie 3 (Cuve), Seuil bas : 2 activations en rafale"))
        << out.toStdString();

    // A folder where recording is off holds the journal alone: it is reported all the same.
    QFile::remove(dir.filePath("historique.sqlite"));
    {
        AlarmJournal journal;
        journal.Append({QDateTime::currentDateTimeUtc(), 1, "Seul", "HS", "Seuil haut"});
    }
    tool.start(kTool, {"--rapport-alarmes"});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    EXPECT_TRUE(tool.readAllStandardOutput().contains("1. Voie 1 (Seul), Seuil haut : 1"));

    tool.start(kTool, {"--rapport-alarmes", "--from", "2026-04-03", "--to", "2026-04-01"});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 2);
}

}  // namespace
}  // namespace merival

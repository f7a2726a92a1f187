#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <csignal>

#include "common/TempDir.h"
#include "integration/SimProcess.h"

namespace merival {
namespace {

const QString kPoll = QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll");
const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");

// Voie 0: pH station at 1; Voie 1: pH station at 2.
const QByteArray kConfig =
    "1,2\r\n\"1\",\"Bassin\"\r\n"
    "1,2\r\n\"2\",\"Sortie\"\r\n"
    "0,-1\r\n\"\",\"\"\r\n"
    "0,-1\r\n\"\",\"\"\r\n"
    "#TRUE#,#TRUE#,#TRUE#,#TRUE#\r\n"
    "#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n";

// A station silent for a while, then back: the console prints the loss after the value lines
// of the third HS pass and the return with the first answer; the journal holds both once.
TEST(AlarmPoll, SilentStationThenBackOnTheConsoleAndInTheJournal) {
    test::CurrentTempDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("config.txt"), kConfig));
    ASSERT_TRUE(dir.write(QStringLiteral("PortCom.dat"), " 1              0 \r\n 0 \r\n 0 \r\n"));
    ASSERT_TRUE(dir.write(QStringLiteral("merival.ini"),
                          "[Alarmes]\nPerteCommunication=3\nIntervalleStationMuette=1\n"));
    test::SimProcess silent(kSim, dir.path());
    ASSERT_TRUE(silent.Start({QStringLiteral("1:ph"), QStringLiteral("2:ph:silent")}));

    QProcess poll;
    poll.setWorkingDirectory(dir.path());
    poll.start(kPoll,
               {QStringLiteral("--alarms"), QStringLiteral("--interval"), QStringLiteral("200")});
    ASSERT_TRUE(poll.waitForStarted(5000));
    QString out;
    const auto printed = [&](const QString& text) {
        return test::PumpUntil(
            [&] {
                out += QString::fromUtf8(poll.readAllStandardOutput());
                return out.contains(text);
            },
            30000);
    };
    const QString loss = QStringLiteral("Alarme\t1\tPerte de communication\tHS\n");
    ASSERT_TRUE(printed(loss)) << out.toStdString();
    const QString beforeLoss = out.left(out.indexOf(loss));
    EXPECT_EQ(beforeLoss.count(QStringLiteral("Voie 1\tHS\n")), 3);
    EXPECT_TRUE(beforeLoss.endsWith(QStringLiteral("Voie 1\tHS\n"))) << "after the pass's values";
    EXPECT_FALSE(beforeLoss.contains(QStringLiteral("Alarme")));

    // The station answers again: another simulator takes the link, the first one goes.
    const QString oldTarget = QFileInfo(silent.linkPath()).symLinkTarget();
    test::SimProcess back(kSim, dir.path());
    ASSERT_TRUE(back.Start({QStringLiteral("1:ph"), QStringLiteral("2:ph")}));
    ASSERT_TRUE(
        test::PumpUntil([&] { return QFileInfo(silent.linkPath()).symLinkTarget() != oldTarget; }));
    silent.Kill();
    ASSERT_TRUE(printed(QStringLiteral("Alarme\t1\tRetour à la normale\t"))) << out.toStdString();
    ::kill(static_cast<pid_t>(poll.processId()), SIGINT);
    ASSERT_TRUE(poll.waitForFinished(20000));
    EXPECT_EQ(poll.exitCode(), 0) << poll.readAllStandardError().toStdString();
    out += QString::fromUtf8(poll.readAllStandardOutput());
    EXPECT_EQ(out.count(QStringLiteral("Alarme\t")), 2) << out.toStdString();

    QStringList journal;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("read"));
        db.setDatabaseName(dir.filePath(QStringLiteral("historique.sqlite")));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(
            QStringLiteral("SELECT voie, repere, evenement FROM journal_alarmes ORDER BY id")));
        while (q.next()) {
            journal << QStringLiteral("%1 %2 %3")
                           .arg(q.value(0).toInt())
                           .arg(q.value(1).toString(), q.value(2).toString());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("read"));
    EXPECT_EQ(journal, (QStringList{QStringLiteral("1 Sortie Perte de communication"),
                                    QStringLiteral("1 Sortie Retour à la normale")}));
}

}  // namespace
}  // namespace merival

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

#include "common/TempDir.h"
#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "history/Storage.h"
#include "integration/SimProcess.h"

namespace merival {
namespace {

const QString kPoll = QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll");
const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");
const QString kConnection = QStringLiteral("test-history");

// Voie 0: flow meter at 1; Voie 1: pH at 2; Voie 2: resistivity at 3 on the Ext. block;
// Voie 3: conductivity at 4.
const QByteArray kConfig =
    "1,5\r\n\"1\",\"D\xe9"
    "bit\"\r\n"
    "1,2\r\n\"2\",\"Bassin\"\r\n"
    "1,0\r\n\"3\",\"Sortie\"\r\n"
    "1,1\r\n\"4\",\"Rejet\"\r\n"
    "#TRUE#,#TRUE#,#TRUE#,#TRUE#\r\n"
    "#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n";
const QByteArray kPortCom = " 1              0 \r\n 0 \r\n 0 \r\n";

class HistoryRecord : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.write(QStringLiteral("config.txt"), kConfig));
        ASSERT_TRUE(dir_.write(QStringLiteral("PortCom.dat"), kPortCom));
    }

    void StartSim(const QStringList& stations) {
        ASSERT_TRUE(
            sim_.Start(QStringList{QStringLiteral("--seed"), QStringLiteral("5")} + stations))
            << sim_.errorOutput().toStdString();
    }

    void StartPoll(QProcess& poll, const QStringList& arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("fr_FR.UTF-8"));
        poll.setProcessEnvironment(env);
        poll.setWorkingDirectory(dir_.path());
        poll.start(kPoll, QStringList{QStringLiteral("--record")} + arguments);
        ASSERT_TRUE(poll.waitForStarted(5000));
    }

    // The lines the tool printed whole ("Voie n", tab, the text with tabs for CR LF).
    static QStringList Printed(QProcess& poll) {
        QString out = QString::fromUtf8(poll.readAllStandardOutput());
        out.truncate(out.lastIndexOf(u'\n') + 1);
        return out.split(u'\n', Qt::SkipEmptyParts);
    }

    // The recorded readings in the same form, in time order; the file is checked whole first.
    QStringList Recorded() {
        QStringList lines;
        const Status opened =
            OpenStorage(kConnection, dir_.filePath(QStringLiteral("historique.sqlite")),
                        StorageAccess::Read)
                .status;
        EXPECT_TRUE(opened.ok()) << opened.message.toStdString();
        {
            QSqlQuery q(QSqlDatabase::database(kConnection));
            EXPECT_TRUE(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
            EXPECT_EQ(q.value(0).toString(), QStringLiteral("ok"));
            QList<StoredText> texts;
            EXPECT_TRUE(ReadTexts(kConnection, {}, &texts).ok());
            for (const StoredText& t : texts) {
                lines << QStringLiteral("Voie %1\t").arg(t.channel) +
                             QString(t.text).replace(QStringLiteral("\r\n"), QStringLiteral("\t"));
            }
        }
        CloseStorage(kConnection);
        return lines;
    }

    test::CurrentTempDir dir_;
    test::SimProcess sim_{kSim, dir_.path()};
};

TEST_F(HistoryRecord, RecordedTextsAreThoseShownInTheSamePasses) {
    StartSim({QStringLiteral("1:flow"), QStringLiteral("2:ph:silent"),
              QStringLiteral("3:resistivity"), QStringLiteral("4:conductivity")});
    QProcess poll;
    StartPoll(poll, {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--interval"),
                     QStringLiteral("50")});
    ASSERT_TRUE(poll.waitForFinished(60000));
    ASSERT_EQ(poll.exitCode(), 0) << poll.readAllStandardError().toStdString();
    const QStringList printed = Printed(poll);
    ASSERT_EQ(printed.size(), 8);
    EXPECT_EQ(printed[1], QStringLiteral("Voie 1\tHS"));
    EXPECT_EQ(Recorded(), printed);

    // merival-history: the channel asked for, then the exit codes of a bad argument and of a
    // missing file.
    const auto history = [&](const QStringList& arguments) {
        QProcess tool;
        tool.setWorkingDirectory(dir_.path());
        tool.start(QStringLiteral(MERIVAL_BINARY_DIR "/tools/history/merival-history"), arguments);
        EXPECT_TRUE(tool.waitForFinished(10000));
        return std::pair{tool.exitCode(),
                         tool.readAllStandardOutput() + tool.readAllStandardError()};
    };
    const auto [code, csv] = history({QStringLiteral("--voie"), QStringLiteral("1")});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(csv.count("\r\n"), 3);
    EXPECT_TRUE(csv.contains(";1;Bassin;pH;HS;;;;;;;;HS;")) << csv.toStdString();
    EXPECT_EQ(history({QStringLiteral("--from"), QStringLiteral("2026-13-01")}).first, 2);
    EXPECT_EQ(history({QStringLiteral("--db"), QStringLiteral("absent.sqlite")}).first, 1);
    // Help and version are answers, not bad arguments, whatever else is given.
    const auto [helped, help] =
        history({QStringLiteral("--voie"), QStringLiteral("1"), QStringLiteral("--help")});
    EXPECT_EQ(helped, 0);
    EXPECT_TRUE(help.startsWith("usage : merival-history")) << help.toStdString();
    EXPECT_EQ(history({QStringLiteral("--version")}),
              std::pair(0, QByteArray("merival-history 2.19\n")));
}

// SIGKILL at random moments: the file stays whole, the next run records again, and at most
// the pass in progress is missing. MERIVAL_HISTORY_KILLS sets the number of kills
// (bench/history_crash.sh runs 20).
TEST_F(HistoryRecord, KilledWhileRecordingLosesAtMostThePassInProgress) {
    StartSim({QStringLiteral("1:flow"), QStringLiteral("2:ph"), QStringLiteral("3:resistivity"),
              QStringLiteral("4:conductivity")});
    const int kills = qEnvironmentVariableIsSet("MERIVAL_HISTORY_KILLS")
                          ? qEnvironmentVariableIntValue("MERIVAL_HISTORY_KILLS")
                          : 4;
    QStringList before;
    for (int kill = 0; kill < kills; ++kill) {
        QProcess poll;
        StartPoll(poll, {QStringLiteral("--interval"), QStringLiteral("100")});
        const int after = QRandomGenerator::global()->bounded(300, 1500);
        // Events run meanwhile, so that the simulator's log does not fill its pipe.
        test::PumpUntil([] { return false; }, after);
        poll.kill();
        ASSERT_TRUE(poll.waitForFinished(5000));
        const QStringList printed = Printed(poll);
        ASSERT_FALSE(printed.isEmpty()) << poll.readAllStandardError().toStdString();
        const QStringList recorded = Recorded();
        ASSERT_GE(recorded.size(), before.size());
        ASSERT_EQ(recorded.mid(0, before.size()), before);
        const QStringList added = recorded.mid(before.size());
        // Whole passes, the same texts as printed, all but at most one of those printed whole.
        EXPECT_EQ(added.size() % 4, 0);
        EXPECT_EQ(added, printed.mid(0, added.size()));
        EXPECT_GE(added.size() / 4, printed.size() / 4 - 1);
        std::printf("kill %d after %d ms: %lld passes printed whole, %lld recorded\n", kill + 1,
                    after, static_cast<long long>(printed.size() / 4),
                    static_cast<long long>(added.size() / 4));
        before = recorded;
    }
}

// The recording process opens and closes the file and its log through plain descriptors, which
// drops SQLite's locks in that process; merival-history run then must not take the log away:
// later readers see every pass, and a SIGKILL loses at most the pass being written. The test
// runs itself again as the recording process.
TEST_F(HistoryRecord, AReaderNeverTakesTheLogAwayFromARecorderThatLostItsLocks) {
    const QByteArray childDir = qgetenv("MERIVAL_RECORDING_CHILD");
    if (!childDir.isEmpty()) {
        const QString path =
            QString::fromLocal8Bit(childDir) + QStringLiteral("/historique.sqlite");
        HistoryRecorder recorder(path, 400);
        recorder.Start();
        for (int pass = 0; pass < 100000; ++pass) {
            for (int c = 0; c < 4; ++c) {
                ChannelReading r;
                r.time = QDateTime::fromMSecsSinceEpoch(1800000000000 + pass * 1000LL, Qt::UTC);
                r.channel = c;
                r.ok = true;
                r.text = QStringLiteral("%1 pH").arg(pass);
                recorder.Add(r);
            }
            recorder.EndPass();
            recorder.WaitWritten();
            if (pass == 10) {
                for (const char* suffix : {"", "-wal", "-shm"}) {
                    const int fd = ::open(qPrintable(path + QLatin1String(suffix)), O_RDONLY);
                    ::close(fd);
                }
            }
            std::printf("%d\n", pass);
            std::fflush(stdout);
            QThread::msleep(10);
        }
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MERIVAL_RECORDING_CHILD"), dir_.path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=HistoryRecord."
                                "AReaderNeverTakesTheLogAwayFromARecorderThatLostItsLocks")});
    ASSERT_TRUE(child.waitForStarted(5000));
    int committed = -1;  // the last pass the child said was committed
    const auto drain = [&] {
        while (child.canReadLine()) {
            bool ok = false;
            const int n = child.readLine().trimmed().toInt(&ok);
            committed = ok ? n : committed;
        }
    };
    const auto waitPass = [&](int pass) {
        return test::PumpUntil(
            [&] {
                drain();
                return committed >= pass;
            },
            20000);
    };
    const auto rows = [&] {
        QProcess tool;
        tool.setWorkingDirectory(dir_.path());
        tool.start(QStringLiteral(MERIVAL_BINARY_DIR "/tools/history/merival-history"), {});
        EXPECT_TRUE(tool.waitForFinished(10000));
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        return tool.readAllStandardOutput().count("\r\n") - 1;
    };
    ASSERT_TRUE(waitPass(15));
    EXPECT_GE(rows(), 4 * 16);
    ASSERT_TRUE(waitPass(committed + 20));
    const int before = committed;
    EXPECT_GE(rows(), 4 * (before + 1)) << "passes written after the first reader";
    child.kill();
    ASSERT_TRUE(child.waitForFinished(5000));
    drain();
    const int after = rows();
    EXPECT_EQ(after % 4, 0);
    EXPECT_GE(after, 4 * (committed + 1));
    EXPECT_LE(after, 4 * (committed + 2));
}

}  // namespace
}  // namespace merival

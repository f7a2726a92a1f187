#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <cmath>
#include <csignal>
#include <deque>
#include <functional>
#include <map>

#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '\n';
    for (const QString& text : list) {
        *os << "  \"" << text.toStdString() << "\"\n";
    }
}

namespace merival {
namespace {

const QString kPoll = QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll");
const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");

// Voie 0: flow meter at 1; Voie 1: silent pH station at 2; Voie 2: resistivity at 3 on the
// Ext. block; Voie 3: 562 analyser at 4.
const QByteArray kConfig =
    "1,5\r\n\"1\",\"Debit\"\r\n"
    "1,2\r\n\"2\",\"Bassin\"\r\n"
    "1,0\r\n\"3\",\"Sortie\"\r\n"
    "1,15\r\n\"4\",\"Ozone\"\r\n"
    "#TRUE#,#TRUE#,#FALSE#,#TRUE#\r\n"
    "#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n";
const QByteArray kPortCom = " 1              0 \r\n 0 \r\n 0 \r\n";

// Waits for a condition while events run; false once the bound is reached.
template <typename Condition>
bool WaitFor(Condition condition, int boundMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > boundMs) {
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

struct SimEntry {
    int address;
    int block;
    QString answer;
    QByteArray reply;
};

std::vector<SimEntry> ParseSimLog(const QString& log) {
    static const QRegularExpression line(
        QStringLiteral(R"(addr=(\d+) block=(\d+) answer=(\S+) bytes=\d+ reply=(\S+))"));
    std::vector<SimEntry> entries;
    for (const QString& text : log.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = line.match(text);
        if (m.hasMatch()) {
            entries.push_back({m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3),
                               m.captured(4) == u'-'
                                   ? QByteArray()
                                   : QByteArray::fromHex(m.captured(4).toLatin1())});
        }
    }
    return entries;
}

// Hands the simulator's logged replies back in the order they were sent.
class ReplayReader : public RegisterReader {
public:
    explicit ReplayReader(const std::vector<SimEntry>& entries) {
        for (const SimEntry& e : entries) {
            queues_[{e.address, e.block}].push_back(e);
        }
    }
    ExchangeResult ExchangeReadRegisters(double address, quint16 firstRegister) override {
        auto& queue = queues_[{qRound(address), firstRegister}];
        if (queue.empty()) {
            ADD_FAILURE() << "merival-poll printed more polls than the simulator saw";
            return {};
        }
        const SimEntry e = queue.front();
        queue.pop_front();
        return {e.answer == QStringLiteral("ok"), e.reply};
    }

private:
    std::map<std::pair<int, int>, std::deque<SimEntry>> queues_;
};

class PollTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFileInfo(kPoll).isExecutable()) << kPoll.toStdString();
        ASSERT_TRUE(QFileInfo(kSim).isExecutable()) << kSim.toStdString();
        ASSERT_TRUE(dir_.write(QStringLiteral("config.txt"), kConfig));
        ASSERT_TRUE(dir_.write(QStringLiteral("PortCom.dat"), kPortCom));
    }

    void TearDown() override {
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            sim_.waitForFinished(5000);
        }
    }

    void StartSim(const QStringList& stations) {
        sim_.setWorkingDirectory(dir_.path());
        sim_.start(kSim, QStringList{QStringLiteral("--seed"), QStringLiteral("11")} + stations);
        ASSERT_TRUE(sim_.waitForStarted(5000));
        ASSERT_TRUE(WaitFor([&] { return QFileInfo(dir_.filePath("COM1")).isSymLink(); }, 10000))
            << sim_.readAllStandardError().toStdString();
    }

    QString StopSim() {
        sim_.terminate();
        EXPECT_TRUE(sim_.waitForFinished(5000));
        return QString::fromUtf8(sim_.readAllStandardOutput());
    }

    void StartPoll(QProcess& poll, const QStringList& arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("fr_FR.UTF-8"));
        poll.setProcessEnvironment(env);
        poll.setWorkingDirectory(dir_.path());
        poll.start(kPoll, arguments);
        ASSERT_TRUE(poll.waitForStarted(5000));
    }

    test::CurrentTempDir dir_;
    QProcess sim_;
};

// The texts of the tables, worked out here from the reply bytes for two rows.
QString HandResistivityLine(const QByteArray& reply) {
    auto word = [&](int position) {  // 1-based, as the reply is described
        return quint16(quint8(reply[position - 1]) << 8 | quint8(reply[position]));
    };
    const int range = quint8(reply[4]);
    static const std::map<int, std::pair<int, QString>> lines = {
        {1, {1, "Ohm"}},  {2, {3, "kOhm"}}, {3, {2, "kOhm"}}, {4, {1, "kOhm"}},
        {5, {3, "MOhm"}}, {6, {2, "MOhm"}}, {7, {1, "MOhm"}}};
    const auto [decimals, unit] = lines.at(range);
    const double value = qint16(word(10)) / std::pow(10.0, decimals);
    return QString::number(value, 'f', decimals).replace(u'.', u',') + u' ' + unit + u' ' +
           QString::number(qint16(word(12)) / 10.0, 'f', 1).replace(u'.', u',') +
           QStringLiteral(" °C");
}

QString HandFlowLine(const QByteArray& reply) {
    auto byte = [&](int position) { return quint8(reply[position - 1]); };
    auto bcd = [&](int a, int b, int c, int d) {
        return QString::number(
            QString::asprintf("%02X%02X%02X%02X", byte(a), byte(b), byte(c), byte(d)).toLongLong());
    };
    const int range = byte(5);
    const int raw = byte(10) << 8 | byte(11);
    static const std::map<int, std::pair<int, QString>> lines = {
        {0, {3, "m3/h"}},  {10, {2, "m3/h"}}, {20, {1, "m3/h"}}, {30, {0, "m3/h"}},
        {31, {0, "m3/h"}}, {40, {3, "m3/s"}}, {50, {2, "m3/s"}}};
    const auto [decimals, unit] = lines.at(range);
    const QString number =
        QString::number(raw / std::pow(10.0, decimals), 'f', decimals).replace(u'.', u',');
    const QString temperature =
        QString::number(qint16(byte(12) << 8 | byte(13)) / 10.0, 'f', 1).replace(u'.', u',');
    return (decimals == 0 ? QStringLiteral("   ") : QStringLiteral("  ")) + number +
           QStringLiteral("  ") + unit + QStringLiteral("    ") + temperature +
           QStringLiteral("  °C\t ") + bcd(18, 19, 16, 17) + QStringLiteral("   m3  \t ") +
           bcd(8, 9, 6, 7) + QStringLiteral("   m3  ");
}

TEST_F(PollTool, PrintsTheTextsOfTheRegistersTheStationsSent) {
    StartSim({QStringLiteral("1:flow"), QStringLiteral("2:ph:silent"),
              QStringLiteral("3:resistivity"), QStringLiteral("4:562")});
    QProcess poll;
    StartPoll(poll, {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--interval"),
                     QStringLiteral("50")});
    ASSERT_TRUE(poll.waitForFinished(60000));
    EXPECT_EQ(poll.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(poll.exitCode(), 0) << poll.readAllStandardError().toStdString();
    const QStringList lines =
        QString::fromUtf8(poll.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    const std::vector<SimEntry> log = ParseSimLog(StopSim());

    // The same passes replayed through the cycle on the bytes the simulator logged.
    ChannelStore store;
    ASSERT_TRUE(store.LoadChannelConfig().ok());
    ReplayReader replay(log);
    MeasurementResults results;
    MeasureState state;
    state.EscapeKey = QString(QChar(27));
    MeasurementCycle cycle(store, replay, results, state, u',');
    QStringList expected;
    QObject::connect(&cycle, &MeasurementCycle::valueText, &cycle, [&](int n, QString text) {
        expected << QStringLiteral("Voie %1\t").arg(n) +
                        text.replace(QStringLiteral("\r\n"), QStringLiteral("\t"));
    });
    cycle.RunMeasurementCycle();
    cycle.RunMeasurementCycle();

    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines, expected);
    ASSERT_EQ(log.size(), 8u) << "one request per channel and pass";
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        const std::vector<SimEntry> sent(log.begin() + pass * 4, log.begin() + pass * 4 + 4);
        EXPECT_EQ(sent[0].address, 1);
        EXPECT_EQ(sent[1].answer, QStringLiteral("silent"));
        EXPECT_EQ(sent[2].block, 20) << "Voie 2 reads the Ext. block";
        EXPECT_EQ(sent[3].address, 4);
        EXPECT_EQ(lines[pass * 4 + 0], QStringLiteral("Voie 0\t") + HandFlowLine(sent[0].reply));
        EXPECT_EQ(lines[pass * 4 + 1], QStringLiteral("Voie 1\tHS"));
        EXPECT_EQ(lines[pass * 4 + 2],
                  QStringLiteral("Voie 2\t") + HandResistivityLine(sent[2].reply));
        EXPECT_TRUE(lines[pass * 4 + 3].startsWith(QStringLiteral("Voie 3\t ")));
    }
}

TEST_F(PollTool, SignalEndsAfterTheChannelInProgress) {
    StartSim({QStringLiteral("1:flow"), QStringLiteral("2:ph:silent"),
              QStringLiteral("3:resistivity"), QStringLiteral("4:562")});
    QProcess poll;
    StartPoll(poll, {});
    // The first line comes from Voie 0; Voie 1 then waits for its silent station.
    ASSERT_TRUE(WaitFor([&] { return poll.canReadLine(); }, 20000));
    ::kill(static_cast<pid_t>(poll.processId()), SIGINT);
    ASSERT_TRUE(poll.waitForFinished(20000));
    EXPECT_EQ(poll.exitCode(), 0);
    const QStringList lines =
        QString::fromUtf8(poll.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << lines.join(u'|').toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("Voie 1\tHS"));
    EXPECT_EQ(ParseSimLog(StopSim()).size(), 2u) << "Voies 2 and 3 are not polled after the stop";
}

TEST_F(PollTool, TracesEachExchangeAndCountsThemOnStderr) {
    StartSim({QStringLiteral("1:flow"), QStringLiteral("2:ph:silent"),
              QStringLiteral("3:resistivity"), QStringLiteral("4:562:badcrc")});
    QProcess poll;
    StartPoll(poll, {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--interval"),
                     QStringLiteral("50"), QStringLiteral("--trace"), QStringLiteral("--stats")});
    ASSERT_TRUE(poll.waitForFinished(60000));
    EXPECT_EQ(poll.exitCode(), 0);
    const QStringList values =
        QString::fromUtf8(poll.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    const QStringList lines =
        QString::fromUtf8(poll.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    const std::vector<SimEntry> log = ParseSimLog(StopSim());
    ASSERT_EQ(log.size(), 8u);
    ASSERT_EQ(lines.size(), 8 + 5) << lines.join(u'\n').toStdString();

    const char* outcomes[] = {"OK", "Silence", "OK", "CRC faux"};
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        const QStringList fields = lines[i].split(u'\t');
        ASSERT_EQ(fields.size(), 8);
        EXPECT_EQ(fields[1], QStringLiteral("Voie %1").arg(i % 4));
        EXPECT_EQ(fields[4], QString::fromUtf8(outcomes[i % 4]));
        EXPECT_EQ(QByteArray::fromHex(fields[7].toLatin1()), log[size_t(i)].reply);
    }
    // The bad CRC is shown for what it is, and the value is shown all the same.
    EXPECT_TRUE(values.value(3).startsWith(QStringLiteral("Voie 3\t ")));
    EXPECT_TRUE(lines[8].startsWith(QStringLiteral("Voie    Requêtes  Réponses  Silences  ")));
    EXPECT_TRUE(lines[10].startsWith(QStringLiteral("Voie 1  2         0         2         0 ")));
    EXPECT_TRUE(lines[12].startsWith(QStringLiteral("Voie 3  2         2         0         2 ")));
}

TEST_F(PollTool, ValuesComeBackWithinTwoPassesOfASimulatorRestart) {
    const QStringList stations = {QStringLiteral("1:flow"), QStringLiteral("2:ph"),
                                  QStringLiteral("3:resistivity"), QStringLiteral("4:562")};
    StartSim(stations);
    QProcess poll;
    StartPoll(poll, {QStringLiteral("--interval"), QStringLiteral("200")});
    QStringList lines;
    auto readLines = [&] {
        while (poll.canReadLine()) {
            lines << QString::fromUtf8(poll.readLine()).trimmed();
        }
    };
    auto passesAfter = [&](qsizetype from) {
        readLines();
        return lines.mid(from).count(QStringLiteral("Voie 3\tHS")) +
               lines.mid(from).filter(QRegularExpression(QStringLiteral("^Voie 3\t "))).size();
    };
    ASSERT_TRUE(WaitFor([&] { return passesAfter(0) >= 2; }, 20000));

    // SIGTERM: the simulator removes its COM1 link. Passes go on, every channel "HS".
    StopSim();
    const qsizetype stopped = lines.size();
    ASSERT_TRUE(WaitFor([&] { return passesAfter(stopped) >= 4; }, 20000));
    StartSim(stations);
    readLines();
    const qsizetype restarted = lines.size();
    ASSERT_TRUE(WaitFor([&] { return passesAfter(restarted) >= 4; }, 20000));
    ::kill(static_cast<pid_t>(poll.processId()), SIGINT);
    ASSERT_TRUE(poll.waitForFinished(20000));
    readLines();

    // Whole passes that began after a line; the first may have begun before the event.
    auto wholePasses = [&](qsizetype from, qsizetype to) {
        QList<QStringList> passes;
        for (qsizetype i = from; i + 4 <= to; ++i) {
            if (lines[i].startsWith(QStringLiteral("Voie 0\t"))) {
                passes << lines.mid(i, 4);
                i += 3;
            }
        }
        return passes;
    };
    const QList<QStringList> missing = wholePasses(stopped, restarted);
    ASSERT_GE(missing.size(), 3);
    EXPECT_EQ(missing[1].filter(QStringLiteral("\tHS")).size(), 4)
        << "while the link is missing: " << missing[1].join(u'|').toStdString();
    const QList<QStringList> back = wholePasses(restarted, lines.size());
    ASSERT_GE(back.size(), 3);
    for (qsizetype pass = 1; pass < back.size(); ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_TRUE(back[pass].filter(QStringLiteral("\tHS")).isEmpty())
            << back[pass].join(u'|').toStdString();
    }
}

TEST_F(PollTool, RefusesWhatItCannotUse) {
    struct Row {
        const char* source;
        std::function<void(test::CurrentTempDir&)> prepare;
        QStringList arguments;
        QString message;
    };
    const Row rows[] = {
        {"missing config.txt",
         [](auto& d) { QFile::remove(d.filePath("config.txt")); },
         {},
         QStringLiteral("config.txt")},
        {"missing PortCom.dat",
         [](auto& d) { QFile::remove(d.filePath("PortCom.dat")); },
         {},
         QStringLiteral("PortCom.dat")},
        {"no channel selected",
         [](auto& d) { d.write("config.txt", QByteArray(kConfig).replace("1,", "0,")); },
         {},
         QStringLiteral("Aucune mesure de configurée")},
        {"port that cannot be opened",
         [](auto& d) { QFile::link(d.filePath("absent"), d.filePath("COM1")); },
         {},
         QStringLiteral("COM1")},
        {"bad count",
         [](auto&) {},
         {QStringLiteral("--count"), QStringLiteral("0")},
         QStringLiteral("« 0 »")},
        {"unknown option",
         [](auto&) {},
         {QStringLiteral("--verbose")},
         QStringLiteral("« --verbose »")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source);
        ASSERT_TRUE(dir_.write(QStringLiteral("config.txt"), kConfig));
        ASSERT_TRUE(dir_.write(QStringLiteral("PortCom.dat"), kPortCom));
        QFile::remove(dir_.filePath("COM1"));
        row.prepare(dir_);
        QProcess poll;
        StartPoll(poll,
                  row.arguments + QStringList{QStringLiteral("--count"), QStringLiteral("1")});
        ASSERT_TRUE(poll.waitForFinished(20000));
        EXPECT_EQ(poll.exitCode(), 1);
        EXPECT_TRUE(poll.readAllStandardOutput().isEmpty());
        const QString error = QString::fromUtf8(poll.readAllStandardError());
        EXPECT_TRUE(error.contains(row.message)) << error.toStdString();
    }
    // Help and version answer without a port or files, whatever else is given.
    QFile::remove(dir_.filePath("config.txt"));
    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("--version")}) {
        QProcess poll;
        StartPoll(poll, {QStringLiteral("--count"), QStringLiteral("0"), option});
        ASSERT_TRUE(poll.waitForFinished(20000));
        EXPECT_EQ(poll.exitCode(), 0);
        const QByteArray out = poll.readAllStandardOutput();
        EXPECT_TRUE(
            out.startsWith(option == u"--help" ? "usage : merival-poll" : "merival-poll 2."))
            << out.toStdString();
    }
}

}  // namespace
}  // namespace merival

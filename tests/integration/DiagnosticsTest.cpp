// The diagnostics over a real pseudo-terminal: every fault of the simulator gets its outcome,
// and the values shown are the same whether the diagnostics watch the line or not.
#include <gtest/gtest.h>

#include "SimProcess.h"
#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "diagnostics/ExchangeLog.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

namespace merival {
namespace {

const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");

// The simulator, the real port and the measurement cycle, watched by `log` when given.
struct Line {
    Line(const QStringList& simArguments, ExchangeLog* log, qint16 speedIndex = 0) {
        EXPECT_TRUE(sim.Start(simArguments)) << sim.errorOutput().toStdString();
        settings.SpeedIndex = speedIndex;
        transport.setTimeOuts(2000, 500);
        transport.setObserver(log);
        if (log != nullptr) {
            QObject::connect(&cycle, &MeasurementCycle::polling, log, &ExchangeLog::setChannel);
        }
        QObject::connect(&cycle, &MeasurementCycle::valueText, &cycle,
                         [this](int, const QString& text) { shown << text; });
        EXPECT_TRUE(transport.OpenPort().ok());
    }
    // Only channel n, on this station and type.
    void Select(int n, int address, int typeIndex) {
        for (int k = 0; k < kChannelCount; ++k) {
            store.setSelected(k, k == n ? 1 : 0);
        }
        store.setAddress(n, QString::number(address));
        store.setTypeIndex(n, static_cast<qint16>(typeIndex));
        store.setBaseBlock(n, true);
    }

    test::CurrentTempDir dir;
    test::SimProcess sim{kSim, dir.path()};
    SerialSettings settings;
    QtSerialPort port;
    Transport transport{port, settings};
    TransportRegisterReader reader{transport};
    ChannelStore store;
    MeasurementResults results;
    MeasureState state;
    MeasurementCycle cycle{store, reader, results, state, u','};
    QStringList shown;
};

struct Row {
    const char* fault;  // "" for a healthy station
    const char* family;
    int typeIndex;
    const char* outcome;
};

// "late" is last: its reply lands 2.5 s after the request, when nothing else is asked.
const Row kRows[] = {
    {"noise", "resistivity", 0, "CRC faux"},
    {"badcrc", "flow", 5, "CRC faux"},
    {"long", "turbidity", 12, "Réponse trop longue"},
    {"echo", "oxygen", 4, "Écho retiré"},
    {"babble", "738", 14, "Réponse trop longue"},
    {"short", "conductivity", 1, "Réponse incomplète"},
    {"exception", "ph", 2, "Exception 4"},
    {"silent", "redox", 3, "Silence"},
    {"", "chlorine", 6, "OK"},
    {"late", "dual-resistivity", 13, "Silence"},
};

// One exchange per row, station i + 1 on channel i % 4, then one on the closed port; the
// value texts shown.
QStringList MeasureEveryRow(ExchangeLog* log) {
    QStringList arguments = {"--seed", "23"};
    for (size_t i = 0; i < std::size(kRows); ++i) {
        arguments << QStringLiteral("%1:%2%3%4")
                         .arg(i + 1)
                         .arg(kRows[i].family)
                         .arg(*kRows[i].fault ? ":" : "", kRows[i].fault);
    }
    Line line(arguments, log);
    for (size_t i = 0; i < std::size(kRows); ++i) {
        line.Select(static_cast<int>(i % kChannelCount), static_cast<int>(i + 1),
                    kRows[i].typeIndex);
        line.cycle.RunMeasurementCycle();
        // Whatever the station still sends belongs to this exchange, never to the next.
        for (int quiet = 0; quiet < 3;) {
            test::PumpUntil([] { return false; }, 100);
            quiet = line.port.readAll().isEmpty() ? quiet + 1 : 0;
        }
    }
    EXPECT_TRUE(line.sim.WaitForRecords(std::size(kRows)));
    line.transport.ClosePort();
    line.cycle.RunMeasurementCycle();
    return line.shown;
}

TEST(DiagnosticsTest, EveryFaultGetsItsOutcomeAndTheValuesShownDoNotChange) {
    const QStringList plain = MeasureEveryRow(nullptr);
    ExchangeLog log;
    EXPECT_EQ(MeasureEveryRow(&log), plain);
    EXPECT_EQ(plain.count(QStringLiteral("HS")), 5);  // short, exception, silent, late, closed

    const std::vector<ExchangeEvent> events = log.Since(0);
    ASSERT_EQ(events.size(), std::size(kRows) + 1);
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const ExchangeEvent& e = events[i];
        SCOPED_TRACE(kRows[i].fault);
        EXPECT_EQ(OutcomeText(e), QString::fromUtf8(kRows[i].outcome));
        EXPECT_EQ(e.channel, static_cast<int>(i % kChannelCount));
        EXPECT_EQ(e.address, static_cast<int>(i + 1));
        EXPECT_EQ(e.port, 1);
        EXPECT_EQ(e.replyLength > 0, e.lastByteMs >= 0);
        EXPECT_LE(e.firstByteMs, e.lastByteMs);
        EXPECT_LT(e.lastByteMs, 500);
    }
    EXPECT_EQ(OutcomeText(events.back()), "Port fermé");

    // Channel 0: noise, babble, the healthy station. Channel 1: bad CRC, short, late, closed.
    const auto& stats = log.stats();
    EXPECT_EQ(StatsCells(0, stats[0]).mid(1, 5), QStringList({"3", "3", "0", "1", "1"}));
    EXPECT_EQ(stats[0].lastSuccess, events[8].time);
    EXPECT_EQ(StatsCells(1, stats[1]).mid(1, 5), QStringList({"4", "2", "1", "1", "2"}));
    EXPECT_EQ(stats[1].lastSuccess, 0);
}

// On a paced line (2400 baud: room for a busy machine's jitter) the extra bytes of a long
// reply come after the reply was taken: they are heard before the next request and make that
// exchange "Réponse trop longue"; the next request waits until they are over.
TEST(DiagnosticsTest, BytesTrailingAPacedReplyMakeItTooLong) {
    ExchangeLog log;
    Line line({"--pace", "--baud", "2400", "--seed", "5", "1:ph:long", "2:ph"}, &log, 2);
    line.Select(1, 2, 2);
    line.Select(0, 1, 2);
    line.store.setSelected(1, 1);
    line.cycle.RunMeasurementCycle();
    ASSERT_TRUE(line.sim.WaitForRecords(2));
    const auto& sent = line.sim.records();

    const std::vector<ExchangeEvent> events = log.Since(0);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(OutcomeText(events[0]), "Réponse trop longue");
    // Six bytes more, longer than the silence. Those the kernel still held when the next
    // request cleared the input are dropped unseen (a busy machine).
    EXPECT_EQ(sent[0].reply.size(), 27);
    EXPECT_TRUE(events[0].reply.startsWith(sent[0].reply.left(21)));
    EXPECT_GT(events[0].replyLength, 21);
    // The next reply is the next station's alone: its request waited for the line to go quiet.
    EXPECT_EQ(OutcomeText(events[1]), "OK");
    EXPECT_EQ(events[1].reply, sent[1].reply);
    EXPECT_GE(events[1].lastByteMs, 80) << "21 characters at 2400 baud";
    EXPECT_NE(line.shown.value(0), QStringLiteral("HS"));
}

}  // namespace
}  // namespace merival

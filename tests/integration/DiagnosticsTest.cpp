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

struct LineRun {
    QStringList shown;
    std::vector<ExchangeEvent> events;
};

// One exchange per row, station i + 1 on channel i % 4, through the measurement cycle.
LineRun MeasureEveryRow(ExchangeLog* log) {
    test::CurrentTempDir dir;
    test::SimProcess sim(kSim, dir.path());
    QStringList arguments = {"--seed", "23"};
    for (size_t i = 0; i < std::size(kRows); ++i) {
        arguments << QStringLiteral("%1:%2%3%4")
                         .arg(i + 1)
                         .arg(kRows[i].family)
                         .arg(*kRows[i].fault ? ":" : "", kRows[i].fault);
    }
    EXPECT_TRUE(sim.Start(arguments)) << sim.errorOutput().toStdString();

    SerialSettings settings;
    QtSerialPort port;
    Transport transport(port, settings);
    transport.setTimeOuts(2000, 500);
    transport.setObserver(log);
    TransportRegisterReader reader(transport);
    ChannelStore store;
    MeasurementResults results;
    MeasureState state;
    MeasurementCycle cycle(store, reader, results, state, u',');
    LineRun run;
    QObject::connect(&cycle, &MeasurementCycle::valueText, &cycle,
                     [&run](int, const QString& text) { run.shown << text; });
    if (log != nullptr) {
        QObject::connect(&cycle, &MeasurementCycle::polling, log, &ExchangeLog::setChannel);
    }
    EXPECT_TRUE(transport.OpenPort().ok());
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const int channel = static_cast<int>(i % kChannelCount);
        for (int n = 0; n < kChannelCount; ++n) {
            store.setSelected(n, n == channel ? 1 : 0);
        }
        store.setAddress(channel, QString::number(i + 1));
        store.setTypeIndex(channel, static_cast<qint16>(kRows[i].typeIndex));
        store.setBaseBlock(channel, true);
        cycle.RunMeasurementCycle();
        // Whatever the station still sends belongs to this exchange, never to the next.
        for (int quiet = 0; quiet < 3;) {
            test::PumpUntil([] { return false; }, 100);
            quiet = port.readAll().isEmpty() ? quiet + 1 : 0;
        }
    }
    EXPECT_TRUE(sim.WaitForRecords(std::size(kRows)));
    // The port closed: the next exchange is not even sent.
    transport.ClosePort();
    cycle.RunMeasurementCycle();
    if (log != nullptr) {
        run.events = log->Since(0);
    }
    return run;
}

TEST(DiagnosticsTest, EveryFaultGetsItsOutcomeAndTheValuesShownDoNotChange) {
    const LineRun plain = MeasureEveryRow(nullptr);
    ExchangeLog log;
    const LineRun watched = MeasureEveryRow(&log);

    EXPECT_EQ(watched.shown, plain.shown);
    EXPECT_EQ(plain.shown.count(QStringLiteral("HS")),
              5);  // short, exception, silent, late, closed
    ASSERT_EQ(watched.events.size(), std::size(kRows) + 1);
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const ExchangeEvent& e = watched.events[i];
        SCOPED_TRACE(kRows[i].fault);
        EXPECT_EQ(OutcomeText(e), QString::fromUtf8(kRows[i].outcome));
        EXPECT_EQ(e.channel, static_cast<int>(i % kChannelCount));
        EXPECT_EQ(e.address, static_cast<int>(i + 1));
        EXPECT_EQ(e.port, 1);
        EXPECT_EQ(e.replyLength > 0, e.lastByteMs >= 0);
        EXPECT_LE(e.firstByteMs, e.lastByteMs);
        EXPECT_LT(e.lastByteMs, 500);
    }
    EXPECT_EQ(OutcomeText(watched.events.back()), "Port fermé");

    // Channel 0: noise, babble, the healthy station. Channel 1: bad CRC, short, late, closed.
    const auto& stats = log.stats();
    EXPECT_EQ(StatsCells(0, stats[0]).mid(1, 5), QStringList({"3", "3", "0", "1", "1"}));
    EXPECT_EQ(stats[0].lastSuccess, watched.events[8].time);
    EXPECT_EQ(StatsCells(1, stats[1]).mid(1, 5), QStringList({"4", "2", "1", "1", "2"}));
    EXPECT_EQ(stats[1].lastSuccess, 0);
}

// On a paced line (2400 baud: room for a busy machine's jitter) the extra bytes of a long reply
// come after the reply was taken: they are heard before the next request and make that exchange
// "Réponse trop longue"; the next request waits until they are over.
TEST(DiagnosticsTest, BytesTrailingAPacedReplyMakeItTooLong) {
    test::CurrentTempDir dir;
    test::SimProcess sim(kSim, dir.path());
    ASSERT_TRUE(sim.Start({"--pace", "--baud", "2400", "--seed", "5", "1:ph:long", "2:ph"}))
        << sim.errorOutput().toStdString();
    SerialSettings settings;
    settings.SpeedIndex = 2;
    QtSerialPort port;
    Transport transport(port, settings);
    ExchangeLog log;
    transport.setObserver(&log);
    TransportRegisterReader reader(transport);
    ChannelStore store;
    for (int n : {0, 1}) {
        store.setSelected(n, 1);
        store.setAddress(n, QString::number(n + 1));
        store.setTypeIndex(n, 2);
        store.setBaseBlock(n, true);
    }
    MeasurementResults results;
    MeasureState state;
    MeasurementCycle cycle(store, reader, results, state, u',');
    QStringList shown;
    QObject::connect(&cycle, &MeasurementCycle::valueText, &cycle,
                     [&shown](int, const QString& text) { shown << text; });
    ASSERT_TRUE(transport.OpenPort().ok());
    cycle.RunMeasurementCycle();
    ASSERT_TRUE(sim.WaitForRecords(2));

    const std::vector<ExchangeEvent> events = log.Since(0);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(OutcomeText(events[0]), "Réponse trop longue");
    // Six bytes more, longer than the silence. Those the kernel still held when the next
    // request cleared the input are dropped unseen (a busy machine).
    EXPECT_EQ(sim.records()[0].reply.size(), 27);
    EXPECT_TRUE(events[0].reply.startsWith(sim.records()[0].reply.left(21)));
    EXPECT_GT(events[0].replyLength, 21);
    // The next reply is the next station's alone: its request waited for the line to go quiet.
    EXPECT_EQ(OutcomeText(events[1]), "OK");
    EXPECT_EQ(events[1].reply, sim.records()[1].reply);
    EXPECT_GE(events[1].lastByteMs, 80) << "21 characters at 2400 baud";
    EXPECT_NE(shown.value(0), QStringLiteral("HS"));
}

}  // namespace
}  // namespace merival

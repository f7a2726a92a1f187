#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QFileInfo>

#include "SimProcess.h"
#include "common/TempDir.h"
#include "instruments/Frame.h"
#include "instruments/Polling.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

namespace merival {
namespace {

const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");

class SimulatorTest : public ::testing::Test {
protected:
    SimulatorTest() {
        // Silent stations and faults end in time-outs: shortened here only.
        transport.setTimeOuts(500, 500);
    }

    // The simulator's record of the latest request.
    const test::SimRecord& LastRecord(size_t expectedCount) {
        EXPECT_TRUE(sim.WaitForRecords(expectedCount));
        return sim.records().back();
    }

    test::CurrentTempDir dir;
    test::SimProcess sim{kSim, dir.path()};
    SerialSettings settings;
    QtSerialPort port;
    Transport transport{port, settings};
    TransportRegisterReader reader{transport};
};

TEST_F(SimulatorTest, SeveralStationsBothBlocksAndASilentOne) {
    ASSERT_TRUE(sim.Start(
        {"--seed", "11", "1:resistivity", "2:flow", "3:ph:silent", "4:turbidity", "9:562"}))
        << sim.errorOutput().toStdString();
    ASSERT_TRUE(transport.OpenPort().ok());

    size_t count = 0;
    for (const int address : {1, 2, 3, 4, 9}) {
        for (const quint16 first : {quint16(0), quint16(20)}) {
            SCOPED_TRACE(
                QStringLiteral("address %1 block %2").arg(address).arg(first).toStdString());
            const ExchangeResult result = reader.ExchangeReadRegisters(address, first);
            const test::SimRecord& record = LastRecord(++count);
            EXPECT_EQ(record.address, address);
            EXPECT_EQ(record.block, first);
            EXPECT_EQ(record.request, BuildReadRequest(address, 3, first, 8).frame);
            if (address == 3) {
                EXPECT_FALSE(result.ok);
                EXPECT_EQ(record.answer, "silent");
                continue;
            }
            ASSERT_TRUE(result.ok);
            EXPECT_EQ(record.answer, "ok");
            EXPECT_EQ(result.reply.toHex(), record.reply.toHex());
            EXPECT_EQ(Crc16Modbus(result.reply), 0);
        }
    }

    // Values move from one request to the next, and the decoding follows the printed reply.
    MeasurementResults first;
    MeasurementResults second;
    ASSERT_TRUE(PollFlowMeter(reader, first, 2, 0));
    ASSERT_TRUE(PollFlowMeter(reader, second, 2, 0));
    EXPECT_NE(first, second);
    MeasurementResults expected;
    DecodeFlowMeter(LastRecord(count + 2).reply, expected);
    EXPECT_EQ(second, expected);
}

TEST_F(SimulatorTest, SameSeedSameValues) {
    auto run = [this](const QString& seed) {
        test::SimProcess other(kSim, dir.path());
        EXPECT_TRUE(other.Start({"--seed", seed, "1:conductivity"}));
        EXPECT_TRUE(transport.OpenPort().ok());
        QByteArray replies;
        for (int i = 0; i < 3; ++i) {
            replies += reader.ExchangeReadRegisters(1, i % 2 ? 20 : 0).reply;
        }
        transport.ClosePort();
        return replies;
    };
    const QByteArray a = run("5");
    EXPECT_EQ(a.size(), 63);
    EXPECT_EQ(run("5"), a);
    EXPECT_NE(run("6"), a);
}

TEST_F(SimulatorTest, FaultsEndAsTheTransportRulesSay) {
    struct Row {
        const char* option;
        bool ok;
    };
    // Late and babble last: the late reply lands after the test's short wait, and the end of a
    // long babble may still be arriving when the exchange has its 21 bytes.
    const Row rows[] = {{"badcrc", true},  {"noise", true},  {"long", true},
                        {"echo", true},    {"short", false}, {"exception", false},
                        {"silent", false}, {"late", false},  {"babble", true}};
    QStringList arguments = {"--seed", "3"};
    int address = 1;
    for (const Row& row : rows) {
        arguments << QStringLiteral("%1:redox:%2").arg(address++).arg(row.option);
    }
    ASSERT_TRUE(sim.Start(arguments)) << sim.errorOutput().toStdString();
    ASSERT_TRUE(transport.OpenPort().ok());

    address = 1;
    size_t count = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.option);
        const ExchangeResult result = reader.ExchangeReadRegisters(address++, 0);
        const test::SimRecord& record = LastRecord(++count);
        EXPECT_EQ(record.answer, row.option);
        EXPECT_EQ(result.ok, row.ok);
        if (!result.ok) {
            continue;
        }
        if (QByteArray(row.option) == "babble") {
            // Whatever had arrived when 21 bytes were there, within the bounded buffer.
            EXPECT_GE(result.reply.size(), 21);
            EXPECT_LE(result.reply.size(), Transport::kMaxPending);
            EXPECT_TRUE(record.reply.startsWith(result.reply));
        } else {
            // Decoded as received: the bytes are exactly those the station sent.
            EXPECT_EQ(result.reply.toHex(), record.reply.toHex());
        }
    }
}

TEST_F(SimulatorTest, MeasuringRecoversWhenTheSimulatorComesBack) {
    ASSERT_TRUE(sim.Start({"1:chlorine"}));
    ASSERT_TRUE(transport.OpenPort().ok());
    ASSERT_TRUE(reader.ExchangeReadRegisters(1, 0).ok);

    sim.Kill();
    ASSERT_TRUE(QFileInfo(sim.linkPath()).isSymLink()) << "a killed simulator leaves its link";

    // The lost line is noticed and closed without burning the processor meanwhile.
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer wall;
    wall.start();
    test::PumpUntil([] { return false; }, 600);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto cpuMs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 +
               (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
    };
    EXPECT_LT(cpuMs(after) - cpuMs(before), 0.5 * static_cast<double>(wall.elapsed()));
    EXPECT_FALSE(transport.IsOpen());

    // Nothing to reopen: fails at once, without waiting out a time-out.
    transport.setTimeOuts(60000, 60000);
    EXPECT_FALSE(reader.ExchangeReadRegisters(1, 0).ok);
    EXPECT_FALSE(transport.TimedOut(1));

    // As on later ticks of a measurement: while other tests run, another process may briefly
    // hold the lock on the new terminal's name.
    auto recovers = [this] {
        bool recovered = false;
        for (int tick = 0; tick < 10 && !recovered; ++tick) {
            recovered = reader.ExchangeReadRegisters(1, 0).ok;
            if (!recovered) {
                test::PumpUntil([] { return false; }, 200);
            }
        }
        return recovered && transport.IsOpen();
    };
    test::SimProcess again(kSim, dir.path());
    ASSERT_TRUE(again.Start({"1:chlorine"}));
    transport.setTimeOuts(2000, 2000);
    EXPECT_TRUE(recovers());

    // A simulator stopped cleanly removes its link. While the link is missing every exchange
    // fails, and no other device (the first serial port) stands in for it.
    ASSERT_TRUE(again.Terminate());
    EXPECT_FALSE(QFileInfo(again.linkPath()).isSymLink());
    for (int tick = 0; tick < 3; ++tick) {
        test::PumpUntil([] { return false; }, 100);
        EXPECT_FALSE(reader.ExchangeReadRegisters(1, 0).ok);
        EXPECT_FALSE(transport.IsOpen());
        EXPECT_NE(port.device(), QtSerialPort::DeviceForPort(1));
    }
    test::SimProcess third(kSim, dir.path());
    ASSERT_TRUE(third.Start({"1:chlorine"}));
    EXPECT_TRUE(recovers());
    EXPECT_EQ(port.device(), QFileInfo(third.linkPath()).canonicalFilePath());
}

}  // namespace
}  // namespace merival

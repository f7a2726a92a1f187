#include <gtest/gtest.h>

#include <set>

#include "instruments/Frame.h"
#include "instruments/Polling.h"
#include "sim/SimOptions.h"
#include "sim/SimStation.h"

namespace merival::sim {
namespace {

QByteArray Request(int address, int first, int function = 3, int count = 8) {
    QByteArray frame;
    frame.append(static_cast<char>(address));
    frame.append(static_cast<char>(function));
    frame.append(SplitWord(static_cast<quint16>(first)));
    frame.append(SplitWord(static_cast<quint16>(count)));
    frame.append(FrameCrc(frame));
    return frame;
}

StationSetup StationOf(int address, Family family, std::map<Fault, double> faults = {}) {
    StationSetup setup;
    setup.address = address;
    setup.family = family;
    setup.faults = std::move(faults);
    return setup;
}

int Status(const QByteArray& reply) {
    return static_cast<quint8>(reply[4]);
}

TEST(SimStationTest, EveryFamilyAnswersBothBlocksWithValidFramesAndPlausibleStatus) {
    struct Row {
        Family family;
        std::set<int> block0;  // status bytes allowed
        std::set<int> block20;
    };
    const std::set<int> resistivity = {1, 2, 3, 4, 5, 6, 7};
    const std::set<int> conductivity = {1, 2, 3, 4, 5};
    auto nibbles = [](std::set<int> units) {
        std::set<int> all;
        for (const int unit : units) {
            for (int range = 1; range <= 4; ++range) {
                all.insert(unit << 4 | range);
            }
        }
        return all;
    };
    const std::vector<Row> rows = {
        {Family::Resistivity, resistivity, resistivity},
        {Family::DualResistivity, resistivity, resistivity},
        {Family::Conductivity, conductivity, conductivity},
        {Family::Ph, {0}, {0}},
        {Family::Redox, {0}, {0}},
        {Family::Chlorine, {0}, {0}},
        {Family::Oxygen, {0}, {1}},
        {Family::Flow, {0, 10, 20, 30, 31}, {40, 50}},
        {Family::Turbidity, nibbles({0, 1, 2, 4}), nibbles({0, 1, 2, 4})},
        {Family::Model738, nibbles({0, 1, 2, 3, 4, 5, 6, 7}), nibbles({0, 1, 2, 3, 4, 5, 6, 7})},
        {Family::Model562, nibbles({0, 1}), nibbles({0, 1})},
    };
    for (const Row& row : rows) {
        for (const quint64 seed : {1ULL, 2ULL, 3ULL, 4ULL}) {
            SCOPED_TRACE(FamilyName(row.family).toStdString() + " seed " + std::to_string(seed));
            Station station(StationOf(12, row.family), seed);
            std::set<QByteArray> distinct;
            for (int i = 0; i < 50; ++i) {
                for (const int first : {0, 20}) {
                    const Answer answer = station.Respond(Request(12, first));
                    ASSERT_EQ(answer.kinds, QStringList{"ok"});
                    ASSERT_EQ(answer.bytes.size(), 21);
                    EXPECT_EQ(answer.bytes, answer.reply);
                    EXPECT_EQ(answer.reply.left(3), QByteArray::fromHex("0C0310"));
                    EXPECT_EQ(Crc16Modbus(answer.reply), 0);
                    EXPECT_EQ(answer.reply[3], 0) << "register 0 high byte";
                    const auto& allowed = first == 0 ? row.block0 : row.block20;
                    EXPECT_TRUE(allowed.count(Status(answer.reply)))
                        << "status " << Status(answer.reply);
                    distinct.insert(answer.reply.mid(9, 2));
                    MeasurementResults m;
                    DecodeRedox(answer.reply, m);
                    if (row.family != Family::DualResistivity) {
                        EXPECT_GT(m.TemperatureValue, -10);
                        EXPECT_LT(m.TemperatureValue, 50);
                    }
                }
            }
            EXPECT_GT(distinct.size(), 5u) << "the main value drifts";
        }
    }
}

TEST(SimStationTest, ValuesStayInTheirPhysicalRange) {
    Station ph(StationOf(1, Family::Ph), 9);
    Station chlorine(StationOf(2, Family::Chlorine), 9);
    Station oxygen(StationOf(3, Family::Oxygen), 9);
    for (int i = 0; i < 300; ++i) {
        MeasurementResults m;
        DecodePh(ph.Respond(Request(1, i % 2 ? 20 : 0)).reply, m);
        EXPECT_GE(m.PhValue, 0);
        EXPECT_LE(m.PhValue, 14);
        DecodeChlorine(chlorine.Respond(Request(2, 0)).reply, m);
        EXPECT_GE(m.ChlorineValue, 0);
        DecodeOxygen(oxygen.Respond(Request(3, 0)).reply, m);
        EXPECT_GT(m.OxygenValue, 0);
    }
}

TEST(SimStationTest, FlowVolumesCountUpAsDecimalDigits) {
    Station flow(StationOf(4, Family::Flow), 21);
    MeasurementResults previous;
    DecodeFlowMeter(flow.Respond(Request(4, 0)).reply, previous);
    for (int i = 0; i < 100; ++i) {
        const QByteArray reply = flow.Respond(Request(4, 0)).reply;
        for (const int position : {6, 7, 8, 9, 16, 17, 18, 19}) {
            const int byte = static_cast<quint8>(reply[position - 1]);
            EXPECT_LE(byte >> 4, 9);
            EXPECT_LE(byte & 0xF, 9);
        }
        MeasurementResults m;
        DecodeFlowMeter(reply, m);
        EXPECT_GE(m.CumulatedVolume, previous.CumulatedVolume);
        EXPECT_GE(m.DailyVolume, previous.DailyVolume);
        previous = m;
    }
}

TEST(SimStationTest, SameSeedSameRepliesAndFaultsNeverShiftValues) {
    Station a(StationOf(1, Family::Conductivity), 77);
    Station b(StationOf(1, Family::Conductivity), 77);
    Station c(StationOf(1, Family::Conductivity), 78);
    Station faulty(StationOf(1, Family::Conductivity, {{Fault::BadCrc, 0.5}, {Fault::Echo, 0.5}}),
                   77);
    int differences = 0;
    for (int i = 0; i < 40; ++i) {
        const QByteArray request = Request(1, i % 3 ? 0 : 20);
        const QByteArray reply = a.Respond(request).reply;
        EXPECT_EQ(b.Respond(request).reply, reply);
        differences += c.Respond(request).reply != reply;
        const QByteArray shaped = faulty.Respond(request).reply;
        EXPECT_EQ(shaped.left(19), reply.left(19));
    }
    EXPECT_GT(differences, 30);
}

TEST(SimStationTest, FaultsShapeTheAnswer) {
    const QByteArray request = Request(6, 20);
    struct Row {
        Fault fault;
        std::function<void(const Answer&)> check;
    };
    const std::vector<Row> rows = {
        {Fault::Silent, [](const Answer& a) { EXPECT_TRUE(a.bytes.isEmpty()); }},
        {Fault::Exception,
         [](const Answer& a) {
             EXPECT_EQ(a.reply.left(3), QByteArray::fromHex("068304"));
             EXPECT_EQ(a.reply.size(), 5);
             EXPECT_EQ(Crc16Modbus(a.reply), 0);
         }},
        {Fault::Babble,
         [](const Answer& a) {
             EXPECT_GE(a.reply.size(), 1500);
             EXPECT_LE(a.reply.size(), 6000);
         }},
        {Fault::Short,
         [](const Answer& a) {
             EXPECT_GE(a.reply.size(), 3);
             EXPECT_LT(a.reply.size(), 21);
         }},
        {Fault::BadCrc,
         [](const Answer& a) {
             EXPECT_EQ(a.reply.size(), 21);
             EXPECT_NE(Crc16Modbus(a.reply), 0);
         }},
        {Fault::Noise,
         [](const Answer& a) {
             EXPECT_EQ(a.reply.size(), 21);
             EXPECT_NE(Crc16Modbus(a.reply), 0);
         }},
        {Fault::Long,
         [](const Answer& a) {
             EXPECT_GT(a.reply.size(), 21);
             EXPECT_LE(a.reply.size(), 27);
             EXPECT_EQ(Crc16Modbus(a.reply.left(21)), 0);
         }},
        {Fault::Late,
         [](const Answer& a) {
             EXPECT_EQ(a.delayMs, kLateMs);
             EXPECT_EQ(a.reply.size(), 21);
         }},
        {Fault::Echo,
         [&request](const Answer& a) {
             EXPECT_EQ(a.bytes, request + a.reply);
             EXPECT_EQ(a.reply.size(), 21);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(FaultName(row.fault).toStdString());
        Station station(StationOf(6, Family::Turbidity, {{row.fault, 1.0}}), 5);
        for (int i = 0; i < 20; ++i) {
            const Answer answer = station.Respond(request);
            EXPECT_EQ(answer.kinds, QStringList{FaultName(row.fault)});
            row.check(answer);
        }
    }
}

TEST(SimStationTest, RatesAreProbabilities) {
    struct Row {
        double rate;
        int low, high;  // silent answers out of 1000
    };
    const Row rows[] = {{0.0, 0, 0}, {0.3, 240, 360}, {1.0, 1000, 1000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rate);
        Station station(StationOf(2, Family::Redox, {{Fault::Silent, row.rate}}), 8);
        int silent = 0;
        for (int i = 0; i < 1000; ++i) {
            silent += station.Respond(Request(2, 0)).bytes.isEmpty();
        }
        EXPECT_GE(silent, row.low);
        EXPECT_LE(silent, row.high);
    }
}

TEST(SimStationTest, RequestsOutsideTheTwoBlocksGetExceptions) {
    Station station(StationOf(3, Family::Ph), 1);
    struct Row {
        QByteArray request;
        const char* reply;
    };
    const Row rows[] = {
        {Request(3, 0, 4), "038401"},
        {Request(3, 10), "038302"},
        {Request(3, 0, 3, 9), "038302"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reply);
        const Answer answer = station.Respond(row.request);
        EXPECT_EQ(answer.reply.left(3).toHex().toUpper(), QByteArray(row.reply).toUpper());
        EXPECT_EQ(Crc16Modbus(answer.reply), 0);
    }
}

TEST(SimStationTest, BcdOfFourDigits) {
    EXPECT_EQ(ToBcd(0), 0x0000);
    EXPECT_EQ(ToBcd(1234), 0x1234);
    EXPECT_EQ(ToBcd(9999), 0x9999);
    EXPECT_EQ(ToBcd(12345), 0x2345);
}

TEST(SimOptionsTest, Arguments) {
    const ParsedArguments full = ParseArguments(
        {"--link", "COM3", "--baud", "2400", "--parity", "e", "--stop", "2", "--pace", "--seed",
         "42", "1:resistivity", "14:562:badcrc=0.3:echo", "7:DUAL-RESISTIVITY:silent"});
    ASSERT_TRUE(full.error.isEmpty()) << full.error.toStdString();
    const SimConfig& c = full.config;
    EXPECT_EQ(c.link, "COM3");
    EXPECT_EQ(c.baud, 2400);
    EXPECT_EQ(c.parity, 'e');
    EXPECT_EQ(c.stopBits, 2);
    EXPECT_TRUE(c.pace);
    EXPECT_EQ(c.seed, 42u);
    ASSERT_EQ(c.stations.size(), 3u);
    EXPECT_EQ(c.stations[1].address, 14);
    EXPECT_EQ(c.stations[1].family, Family::Model562);
    EXPECT_EQ(c.stations[1].faults.at(Fault::BadCrc), 0.3);
    EXPECT_EQ(c.stations[1].faults.at(Fault::Echo), 1.0);
    EXPECT_EQ(c.stations[2].family, Family::DualResistivity);
    // 1 start + 8 data + parity + 2 stop bits at 2400 baud.
    EXPECT_DOUBLE_EQ(CharacterSeconds(c), 12.0 / 2400);
    EXPECT_EQ(c.tcpPort, -1);

    const SimConfig tcp = ParseArguments({"--tcp", "0.0.0.0:1502", "--mbap", "1:ph"}).config;
    EXPECT_EQ(tcp.tcpHost, "0.0.0.0");
    EXPECT_EQ(tcp.tcpPort, 1502);
    EXPECT_TRUE(tcp.mbap);
    EXPECT_EQ(ParseArguments({"--tcp", "0", "1:ph"}).config.tcpHost, "127.0.0.1");

    const QStringList refused[] = {
        {},
        {"0:ph"},
        {"256:ph"},
        {"1:ph", "1:redox"},
        {"1:soup"},
        {"1:ph:loud"},
        {"1:ph:silent=1.5"},
        {"1:ph:silent=x"},
        {"--baud", "19200", "1:ph"},
        {"--mbap", "1:ph"},
        {"--tcp", "70000", "1:ph"},
        {"--tcp", ":502", "1:ph"},
        {"--parity", "m", "1:ph"},
        {"--stop", "3", "1:ph"},
        {"--link", "../COM1", "1:ph"},
        {"--seed"},
        {"--colour", "red", "1:ph"},
    };
    for (const QStringList& arguments : refused) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_FALSE(ParseArguments(arguments).error.isEmpty());
    }
}

}  // namespace
}  // namespace merival::sim

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "instruments/Frame.h"
#include "instruments/Polling.h"

namespace merival {
namespace {

using Registers = std::array<quint16, 8>;

// A well-formed 21-byte reply carrying the registers.
QByteArray Reply(const Registers& registers, quint8 address = 1) {
    QByteArray reply;
    reply.append(static_cast<char>(address));
    reply.append(char(3));
    reply.append(char(16));
    for (const quint16 r : registers) {
        reply.append(SplitWord(r));
    }
    reply.append(FrameCrc(reply));
    return reply;
}

// Every field set to a value no decoder writes, so untouched fields can be seen.
MeasurementResults Sentinel() {
    MeasurementResults m;
    m.FlowRate = m.DailyVolume = m.CumulatedVolume = m.PhValue = m.RedoxValue = -999;
    m.ConductivityValue = m.ResistivityValue = m.TemperatureValue = -999;
    m.SecondResistivityValue = m.OxygenValue = m.ChlorineValue = m.TurbidityValue = -999;
    m.Model562Value = m.Model738Value = -999;
    m.FlowRange = m.ConductivityRange = m.ResistivityRange = m.OxygenUnitFlag = -9;
    m.TurbidityRange = m.Model562Range = m.Model738Range = -9;
    m.TurbidityUnit = m.Model562Unit = m.Model738Unit = QStringLiteral("keep");
    return m;
}

using Decoder = void (*)(const QByteArray&, MeasurementResults&);

TEST(DecodeTest, EachFamilyWritesExactlyItsFields) {
    // status 0x13, reg1 0x5678, reg2 0x0012, value 0x04D2 (1234), reg4 0x00FA (25.0 °C),
    // reg6 0x0009, reg7 0x0001.
    const QByteArray reply =
        Reply({0x0013, 0x5678, 0x0012, 0x04D2, 0x00FA, 0x7777, 0x0009, 0x0001});
    struct Row {
        const char* name;
        Decoder decode;
        std::function<void(MeasurementResults&)> expect;
    };
    const std::vector<Row> rows = {
        {"resistivity", DecodeResistivity,
         [](MeasurementResults& m) {
             m.ResistivityRange = 0x13;
             m.ResistivityValue = 1234;
             m.TemperatureValue = 25.0;
         }},
        {"conductivity", DecodeConductivity,
         [](MeasurementResults& m) {
             m.ConductivityRange = 0x13;
             m.ConductivityValue = 1234;
             m.TemperatureValue = 25.0;
         }},
        {"ph", DecodePh,
         [](MeasurementResults& m) {
             m.PhValue = 12.34;
             m.TemperatureValue = 25.0;
         }},
        {"redox", DecodeRedox,
         [](MeasurementResults& m) {
             m.RedoxValue = 1234;
             m.TemperatureValue = 25.0;
         }},
        {"oxygen", DecodeOxygen,
         [](MeasurementResults& m) {
             m.OxygenUnitFlag = 0x13;
             m.OxygenValue = 1234;
             m.TemperatureValue = 25.0;
         }},
        {"flow", DecodeFlowMeter,
         [](MeasurementResults& m) {
             m.FlowRange = 0x13;
             m.FlowRate = 1234;
             m.TemperatureValue = 25.0;
             m.CumulatedVolume = 125678;
             m.DailyVolume = 10009;
         }},
        {"chlorine", DecodeChlorine,
         [](MeasurementResults& m) {
             m.ChlorineValue = 1.234;
             m.TemperatureValue = 25.0;
         }},
        {"turbidity", DecodeTurbidity,
         [](MeasurementResults& m) {
             m.TurbidityRange = 3;
             m.TurbidityUnit = QStringLiteral("FAU");
             m.TurbidityValue = 1234;
             m.TemperatureValue = 25.0;
         }},
        {"dual resistivity", DecodeDualResistivity,
         [](MeasurementResults& m) {
             m.ResistivityRange = 0x13;
             m.ResistivityValue = 1234;
             m.SecondResistivityValue = 250;
         }},
        {"738", Decode738,
         [](MeasurementResults& m) {
             m.Model738Range = 3;
             m.Model738Unit = QStringLiteral("cm");
             m.Model738Value = 1234;
             m.TemperatureValue = 25.0;
         }},
        {"562", Decode562,
         [](MeasurementResults& m) {
             m.Model562Range = 3;
             m.Model562Unit = QStringLiteral("g/l");
             m.Model562Value = 1234;
             m.TemperatureValue = 25.0;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MeasurementResults actual = Sentinel();
        row.decode(reply, actual);
        MeasurementResults expected = Sentinel();
        row.expect(expected);
        EXPECT_EQ(actual, expected);
    }
}

TEST(DecodeTest, MainValueAllOnesIsMinusOneCountExceptOxygen) {
    const QByteArray reply = Reply({0, 0, 0, 0xFFFF, 0, 0, 0, 0});
    MeasurementResults m;
    DecodeResistivity(reply, m);
    EXPECT_EQ(m.ResistivityValue, -1);
    DecodeChlorine(reply, m);
    EXPECT_DOUBLE_EQ(m.ChlorineValue, -0.001);
    DecodePh(reply, m);
    EXPECT_DOUBLE_EQ(m.PhValue, -0.01);
    m.OxygenValue = 5;
    DecodeOxygen(reply, m);
    EXPECT_EQ(m.OxygenValue, 0);
}

TEST(DecodeTest, SignedAndUnsignedReadingsOfRegisterThree) {
    struct Row {
        quint16 raw;
        double resistivity;  // signed
        double oxygen;       // 0 when the sign bit is set
        double flow;         // unsigned
    };
    const Row rows[] = {
        {0x0000, 0, 0, 0},          {0x7FFF, 32767, 32767, 32767}, {0x8000, -32768, 0, 32768},
        {0x80FF, -32513, 0, 33023}, {0xFF38, -200, 0, 65336},      {0xFFFF, -1, 0, 65535},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.raw);
        const QByteArray reply = Reply({0, 0, 0, row.raw, 0, 0, 0, 0});
        MeasurementResults m;
        DecodeResistivity(reply, m);
        DecodeOxygen(reply, m);
        DecodeFlowMeter(reply, m);
        EXPECT_EQ(m.ResistivityValue, row.resistivity);
        EXPECT_EQ(m.OxygenValue, row.oxygen);
        EXPECT_EQ(m.FlowRate, row.flow);
    }
}

TEST(DecodeTest, TemperatureIsSignedTenths) {
    struct Row {
        quint16 raw;
        double celsius;
    };
    const Row rows[] = {{0xFF38, -20.0}, {0x00FA, 25.0}, {0xFFFB, -0.5}, {0x8000, -3276.8}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.raw);
        MeasurementResults m;
        DecodeRedox(Reply({0, 0, 0, 0, row.raw, 0, 0, 0}), m);
        EXPECT_DOUBLE_EQ(m.TemperatureValue, row.celsius);
    }
}

TEST(DecodeTest, DualResistivityLeavesTemperatureAlone) {
    MeasurementResults m;
    DecodeRedox(Reply({0, 0, 0, 0, 0x00FA, 0, 0, 0}), m);
    DecodeDualResistivity(Reply({0x0005, 0, 0, 0x0102, 0xFF38, 0, 0, 0}), m);
    EXPECT_DOUBLE_EQ(m.TemperatureValue, 25.0);
    EXPECT_EQ(m.SecondResistivityValue, -200);
    EXPECT_EQ(m.ResistivityValue, 0x0102);
    EXPECT_EQ(m.ResistivityRange, 5);
}

TEST(DecodeTest, UnitNibbleSetsTextOnlyWhenListed) {
    struct Row {
        const char* family;
        Decoder decode;
        QString MeasurementResults::*unit;
        qint16 MeasurementResults::*range;
        quint8 status;
        int range_expected;
        const char* unit_expected;  // "keep": unchanged
    };
    const Row rows[] = {
        {"turbidity", DecodeTurbidity, &MeasurementResults::TurbidityUnit,
         &MeasurementResults::TurbidityRange, 0x23, 3, "mg/l"},
        {"turbidity", DecodeTurbidity, &MeasurementResults::TurbidityUnit,
         &MeasurementResults::TurbidityRange, 0x93, 3, "keep"},
        {"turbidity", DecodeTurbidity, &MeasurementResults::TurbidityUnit,
         &MeasurementResults::TurbidityRange, 0x80, 0, ""},
        {"turbidity", DecodeTurbidity, &MeasurementResults::TurbidityUnit,
         &MeasurementResults::TurbidityRange, 0x4F, 15, "FNU"},
        {"738", Decode738, &MeasurementResults::Model738Unit, &MeasurementResults::Model738Range,
         0x72, 2, "\u00B0C"},
        {"738", Decode738, &MeasurementResults::Model738Unit, &MeasurementResults::Model738Range,
         0x61, 1, ""},
        {"738", Decode738, &MeasurementResults::Model738Unit, &MeasurementResults::Model738Range,
         0x80, 0, "keep"},
        {"562", Decode562, &MeasurementResults::Model562Unit, &MeasurementResults::Model562Range,
         0x11, 1, "g/l"},
        {"562", Decode562, &MeasurementResults::Model562Unit, &MeasurementResults::Model562Range,
         0x04, 4, "ppm"},
        {"562", Decode562, &MeasurementResults::Model562Unit, &MeasurementResults::Model562Range,
         0x21, 1, "keep"},
        {"562", Decode562, &MeasurementResults::Model562Unit, &MeasurementResults::Model562Range,
         0xF3, 3, "keep"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(
            QStringLiteral("%1 status %2").arg(row.family).arg(row.status, 2, 16).toStdString());
        MeasurementResults m = Sentinel();
        row.decode(Reply({row.status, 0, 0, 0, 0, 0, 0, 0}), m);
        EXPECT_EQ(m.*row.range, row.range_expected);
        EXPECT_EQ(m.*row.unit, QString::fromUtf8(row.unit_expected));
    }
}

TEST(DecodeTest, FlowVolumesReadTheRegistersAsDecimalDigits) {
    struct Row {
        quint16 reg1, reg2;
        double cumulated;
    };
    const Row rows[] = {
        {0x5678, 0x0012, 125678},  // positions 6..9 = 56 78 00 12
        {0x3456, 0x0012, 123456}, {0x9999, 0x9999, 99999999}, {0x0000, 0x0000, 0},
        {0x0001, 0x0000, 1},      {0xE345, 0x0012, 12},  // "0012E345": no exponent
        {0x0000, 0xA000, 0},                             // letter first
        {0x12F4, 0x9876, 987612},                        // "987612F4"
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cumulated);
        MeasurementResults m;
        // Daily volume: registers 7 (high digits) and 6 carry the same pattern.
        DecodeFlowMeter(Reply({30, row.reg1, row.reg2, 0, 0, 0, row.reg1, row.reg2}), m);
        EXPECT_EQ(m.CumulatedVolume, row.cumulated);
        EXPECT_EQ(m.DailyVolume, row.cumulated);
    }
}

TEST(DecodeTest, RepliesAreDecodedAsReceived) {
    const Registers registers = {0x0002, 0, 0, 0x0457, 0x00C8, 0, 0, 0};
    MeasurementResults reference;
    DecodeResistivity(Reply(registers), reference);

    QByteArray wrongCrc = Reply(registers);
    wrongCrc[19] = static_cast<char>(wrongCrc[19] ^ 0x5A);
    QByteArray longer = Reply(registers) + QByteArray::fromHex("DEADBEEF");
    const QByteArray foreign = Reply(registers, 9);
    for (const QByteArray& reply : {wrongCrc, longer, foreign}) {
        SCOPED_TRACE(reply.toHex().toStdString());
        MeasurementResults m;
        DecodeResistivity(reply, m);
        EXPECT_EQ(m, reference);
    }

    // Missing positions read as 0 rather than past the end.
    MeasurementResults m = Sentinel();
    DecodeFlowMeter(Reply(registers).left(10), m);
    EXPECT_EQ(m.FlowRate, 0x0400);
    EXPECT_EQ(m.TemperatureValue, 0);
    EXPECT_EQ(m.DailyVolume, 0);
    DecodeFlowMeter({}, m);
    EXPECT_EQ(m.FlowRange, 0);
}

// Scripted exchange: records the calls and answers with a fixed result.
class ScriptedReader : public RegisterReader {
public:
    ExchangeResult ExchangeReadRegisters(double address, quint16 firstRegister) override {
        calls.push_back({address, firstRegister});
        return answer;
    }
    struct Call {
        double address;
        quint16 first;
    };
    std::vector<Call> calls;
    ExchangeResult answer;
};

TEST(PollTest, FailedExchangeWritesNothingAndSuccessDecodes) {
    for (int type = 0; type < 16; ++type) {
        SCOPED_TRACE(type);
        const PollRoutine poll = PollRoutineForType(type);
        ASSERT_NE(poll, nullptr);

        ScriptedReader reader;
        MeasurementResults m = Sentinel();
        EXPECT_FALSE(poll(reader, m, 7.0, 20));
        EXPECT_EQ(m, Sentinel());
        ASSERT_EQ(reader.calls.size(), 1u);
        EXPECT_EQ(reader.calls[0].address, 7.0);
        EXPECT_EQ(reader.calls[0].first, 20);

        reader.answer = {true, Reply({0x0011, 0, 0, 0x0064, 0x00FA, 0, 0, 0})};
        EXPECT_TRUE(poll(reader, m, 3.5, 0));
        EXPECT_NE(m, Sentinel());
        EXPECT_EQ(reader.calls[1].address, 3.5);
        EXPECT_EQ(reader.calls[1].first, 0);
    }
}

TEST(PollTest, RoutinesByTypeIndex) {
    const PollRoutine expected[16] = {
        PollResistivity,  PollConductivity,    PollPh,           PollRedox,
        PollOxygen,       PollFlowMeter,       PollChlorine,     PollConductivity,
        PollConductivity, PollConductivity,    PollConductivity, PollConductivity,
        PollTurbidity,    PollDualResistivity, Poll738,          Poll562};
    for (int type = 0; type < 16; ++type) {
        SCOPED_TRACE(type);
        EXPECT_EQ(PollRoutineForType(type), expected[type]);
    }
    EXPECT_EQ(PollRoutineForType(-1), nullptr);
    EXPECT_EQ(PollRoutineForType(16), nullptr);
}

}  // namespace
}  // namespace merival

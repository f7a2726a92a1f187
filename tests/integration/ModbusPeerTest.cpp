#include <gtest/gtest.h>

#include <QFile>
#include <array>

#include "ModbusSlave.h"
#include "PtyBridge.h"
#include "common/TempDir.h"
#include "instruments/Frame.h"
#include "instruments/Polling.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

namespace merival {
namespace {

using Registers = std::array<quint16, test::ModbusSlave::kRegisters>;

// Our transport and real port on one end of a null-modem pair, libmodbus on the other.
class ModbusPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bridge.Start());
        ASSERT_TRUE(QFile::link(bridge.deviceA(), dir.filePath("COM1")));
    }

    test::CurrentTempDir dir;
    test::PtyBridge bridge;
    SerialSettings settings;  // COM1, 9600, n, 1
    QtSerialPort port;
    Transport transport{port, settings};
    TransportRegisterReader reader{transport};
};

Registers Pattern(int address) {
    Registers r{};
    for (size_t i = 0; i < r.size(); ++i) {
        r[i] = static_cast<quint16>((address * 7919 + static_cast<int>(i) * 104729) & 0xFFFF);
    }
    // Values the decoders give meaning to, differing between the two blocks.
    r[0] = 0x0003;
    r[3] = 0xFF9C;  // -100
    r[4] = 0x00FA;  // 25.0
    r[20] = 0x0042;
    r[23] = 0x1234;
    r[24] = 0xFF38;  // -20.0
    r[21] = 0x5678;
    r[22] = 0x0012;  // BCD 00125678 in registers 22 (high) and 21 (low)
    return r;
}

TEST_F(ModbusPeerTest, IndependentStationAcceptsOurRequestsAndWeReadItsRegisters) {
    for (const int address : {1, 7, 14, 247}) {
        SCOPED_TRACE(address);
        const Registers registers = Pattern(address);
        test::ModbusSlave slave(bridge.deviceB(), address, registers);
        ASSERT_TRUE(slave.Start()) << slave.error().toStdString();
        ASSERT_TRUE(transport.OpenPort().ok());

        for (const quint16 first : {quint16(0), quint16(20)}) {
            SCOPED_TRACE(first);
            const ExchangeResult result = reader.ExchangeReadRegisters(address, first);
            ASSERT_TRUE(result.ok);
            ASSERT_EQ(result.reply.size(), 21);
            EXPECT_EQ(static_cast<quint8>(result.reply[0]), address);
            EXPECT_EQ(Crc16Modbus(result.reply), 0) << "libmodbus's CRC checks with ours";
            for (int k = 0; k < 8; ++k) {
                const int at = 3 + 2 * k;
                const quint16 word =
                    static_cast<quint16>((static_cast<quint8>(result.reply[at]) << 8) |
                                         static_cast<quint8>(result.reply[at + 1]));
                EXPECT_EQ(word, registers[first + k]) << "register " << first + k;
            }
        }

        MeasurementResults m;
        ASSERT_TRUE(PollResistivity(reader, m, address, 0));
        EXPECT_EQ(m.ResistivityRange, 3);
        EXPECT_EQ(m.ResistivityValue, -100);
        EXPECT_DOUBLE_EQ(m.TemperatureValue, 25.0);
        ASSERT_TRUE(PollFlowMeter(reader, m, address, 20));
        EXPECT_EQ(m.FlowRange, 0x42);
        EXPECT_EQ(m.FlowRate, 0x1234);
        EXPECT_DOUBLE_EQ(m.TemperatureValue, -20.0);
        EXPECT_EQ(m.CumulatedVolume, 125678);

        transport.ClosePort();
        slave.Stop();
        EXPECT_EQ(slave.answered(), 4);
        EXPECT_EQ(slave.rejected(), 0);
    }
}

TEST_F(ModbusPeerTest, OtherAddressesGetNoReply) {
    test::ModbusSlave slave(bridge.deviceB(), 5, Pattern(5));
    ASSERT_TRUE(slave.Start()) << slave.error().toStdString();
    ASSERT_TRUE(transport.OpenPort().ok());
    transport.setTimeOuts(300, 300);
    EXPECT_FALSE(reader.ExchangeReadRegisters(6, 0).ok);
    slave.Stop();
    EXPECT_EQ(slave.answered(), 0);
}

}  // namespace
}  // namespace merival

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "instruments/Frame.h"

namespace merival {
namespace {

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(text);
}

TEST(FrameTest, ReadRequestsMatchTheWorkedExamples) {
    struct Row {
        quint8 address;
        quint16 first;
        const char* frame;
    };
    const Row rows[] = {
        {1, 0, "010300000008440C"},
        {1, 20, "0103001400080408"},
        {5, 0, "0503000000084588"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.frame);
        const ReadRequest request = BuildReadRequest(row.address, 3, row.first, 8);
        EXPECT_EQ(request.frame.toHex().toUpper(), QByteArray(row.frame));
        EXPECT_EQ(request.expectedLength, 21);
    }
}

TEST(FrameTest, ExpectedLengthFollowsTheRegisterCount) {
    EXPECT_EQ(BuildReadRequest(1, 3, 0, 1).expectedLength, 7);
    EXPECT_EQ(BuildReadRequest(1, 3, 0, 125).expectedLength, 255);
}

TEST(FrameTest, CrcIsLowByteFirstAndKeepsLeadingZeroBytes) {
    // 0x0C44: the high byte below 0x10 must still be a whole byte.
    EXPECT_EQ(Crc16Modbus(Hex("010300000008")), 0x0C44);
    EXPECT_EQ(FrameCrc(Hex("010300000008")), Hex("440C"));
    // Published check value of CRC-16/MODBUS.
    EXPECT_EQ(Crc16Modbus("123456789"), 0x4B37);
    EXPECT_EQ(FrameCrc("123456789"), Hex("374B"));
    // Nothing processed: the initial value.
    EXPECT_EQ(Crc16Modbus({}), 0xFFFF);
    // A whole frame with its CRC appended checks to zero.
    const QByteArray frame = BuildReadRequest(14, 3, 20, 8).frame;
    EXPECT_EQ(Crc16Modbus(frame), 0);
}

TEST(FrameTest, SplitWordIsHighByteFirst) {
    EXPECT_EQ(SplitWord(0), Hex("0000"));
    EXPECT_EQ(SplitWord(20), Hex("0014"));
    EXPECT_EQ(SplitWord(0x1234), Hex("1234"));
    EXPECT_EQ(SplitWord(0xFFFF), Hex("FFFF"));
}

TEST(FrameTest, StationAddressRoundsHalfToEvenAndMustFitOneByte) {
    struct Row {
        double address;
        int expected;  // -1: not sendable
    };
    const Row rows[] = {
        {1, 1},
        {14, 14},
        {2.5, 2},
        {3.5, 4},
        {0.5, 0},
        {1.4999, 1},
        {1.5001, 2},
        {0, 0},
        {-0.4, 0},
        {-0.5, 0},
        {-0.6, -1},
        {-1, -1},
        {255, 255},
        {255.4, 255},
        {255.5, -1},
        {254.5, 254},
        {256, -1},
        {1e300, -1},
        {std::numeric_limits<double>::quiet_NaN(), -1},
        {std::numeric_limits<double>::infinity(), -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        const auto byte = StationAddressByte(row.address);
        if (row.expected < 0) {
            EXPECT_FALSE(byte.has_value());
        } else {
            ASSERT_TRUE(byte.has_value());
            EXPECT_EQ(*byte, row.expected);
        }
    }
}

}  // namespace
}  // namespace merival

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>

#include "PtyBridge.h"
#include "SimProcess.h"
#include "common/TempDir.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

namespace merival {
namespace {

// The real port on one end of a null-modem pair; the test writes the other end directly.
class RealPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bridge.Start());
        ASSERT_TRUE(QFile::link(bridge.deviceA(), dir.filePath("COM1")));
        peer = ::open(bridge.deviceB().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        ASSERT_GE(peer, 0);
    }
    void TearDown() override {
        if (peer >= 0) {
            ::close(peer);
        }
    }

    test::CurrentTempDir dir;
    test::PtyBridge bridge;
    int peer = -1;
    SerialSettings settings;
    QtSerialPort port;
    Transport transport{port, settings};
};

TEST_F(RealPortTest, EveryLineSettingOpensOnATerminal) {
    for (qint16 speed = 0; speed < 3; ++speed) {
        for (qint16 parity = 0; parity < 3; ++parity) {
            for (qint16 stop = 0; stop < 2; ++stop) {
                settings = {1, speed, parity, stop};
                SCOPED_TRACE(SettingsString(settings).toStdString());
                const Status status = transport.OpenPort();
                EXPECT_TRUE(status.ok()) << status.message.toStdString();
                EXPECT_TRUE(transport.IsOpen());
            }
        }
    }
    transport.ClosePort();
    EXPECT_FALSE(transport.IsOpen());
}

TEST_F(RealPortTest, ReceiveBufferIsBoundedAndDiscardable) {
    ASSERT_TRUE(transport.OpenPort().ok());
    const QByteArray flood(10000, '\x5A');
    ASSERT_EQ(::write(peer, flood.constData(), static_cast<size_t>(flood.size())), flood.size());
    ASSERT_TRUE(
        test::PumpUntil([this] { return port.inBufferCount() >= QtSerialPort::kMaxInput; }));
    // Let the rest of the flood arrive; it must be dropped, not kept.
    test::PumpUntil([] { return false; }, 200);
    EXPECT_EQ(port.inBufferCount(), QtSerialPort::kMaxInput);
    EXPECT_EQ(port.readAll(), flood.left(QtSerialPort::kMaxInput));

    ASSERT_EQ(::write(peer, "abc", 3), 3);
    ASSERT_TRUE(test::PumpUntil([this] { return port.inBufferCount() == 3; }));
    port.discardInput();
    EXPECT_EQ(port.inBufferCount(), 0);
}

TEST_F(RealPortTest, SecondOpeningOfTheSameDeviceIsRefused) {
    ASSERT_TRUE(transport.OpenPort().ok());
    QtSerialPort other;
    QString error;
    EXPECT_FALSE(other.open(&error));
    EXPECT_TRUE(error.contains("COM1")) << error.toStdString();
    EXPECT_TRUE(transport.IsOpen());
}

TEST_F(RealPortTest, LostPortOpensAgainBeforeItsQueuedCloseHasRun) {
    ASSERT_TRUE(transport.OpenPort().ok());
    ::close(peer);
    peer = -1;
    bridge.Stop();
    ASSERT_TRUE(test::PumpUntil([this] { return !port.isOpen(); }));

    // A new line under the same name, with no event run since the loss was seen.
    test::PtyBridge next;
    ASSERT_TRUE(next.Start());
    ASSERT_TRUE(QFile::remove(dir.filePath("COM1")));
    ASSERT_TRUE(QFile::link(next.deviceA(), dir.filePath("COM1")));
    EXPECT_TRUE(transport.EnsureOpen());
    EXPECT_EQ(port.device(), next.deviceA());
    transport.ClosePort();
}

}  // namespace
}  // namespace merival

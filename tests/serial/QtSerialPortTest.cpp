#include <gtest/gtest.h>

#include <QFile>

#include "common/TempDir.h"
#include "serial/QtSerialPort.h"

namespace merival {
namespace {

TEST(QtSerialPortTest, PortNumberNamesTheDevice) {
    test::CurrentTempDir dir;
    ASSERT_TRUE(dir.write("target", "x"));
    ASSERT_TRUE(QFile::link(dir.filePath("target"), dir.filePath("COM2")));
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), dir.filePath("COM3")));
    ASSERT_TRUE(dir.write("COM4", ""));
    struct Row {
        int port;
        QString device;
    };
    const Row rows[] = {
        {1, "/dev/ttyS0"},            // no entry: the first serial port
        {2, dir.filePath("target")},  // link, resolved
        {3, dir.filePath("gone")},    // dangling link: still the operator's device
        {4, dir.filePath("COM4")},    // a plain entry (a device node, normally)
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        EXPECT_EQ(QtSerialPort::DeviceForPort(row.port), row.device);
    }
}

TEST(QtSerialPortTest, FailedOpenNamesPortDeviceAndReason) {
    test::CurrentTempDir dir;
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), dir.filePath("COM3")));
    QtSerialPort port;
    ASSERT_TRUE(port.setPortNumber(3));
    ASSERT_TRUE(port.setSettings("9600,n,8,1"));
    port.setOption2();
    QString error;
    EXPECT_FALSE(port.open(&error));
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(error.startsWith("Impossible d'ouvrir le port COM3")) << error.toStdString();
    EXPECT_TRUE(error.contains(dir.filePath("gone"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromUtf8("introuvable"))) << error.toStdString();
    // Closed port: nothing waiting, nothing to send, writes go nowhere.
    port.write("abc");
    EXPECT_EQ(port.inBufferCount(), 0);
    EXPECT_EQ(port.outBufferCount(), 0);
    EXPECT_TRUE(port.readAll().isEmpty());
}

TEST(QtSerialPortTest, SettingsTexts) {
    QtSerialPort port;
    for (const char* good : {"9600,n,8,1", "4800,e,8,2", "2400,o,8,1", "9600,N,7,1.5"}) {
        SCOPED_TRACE(good);
        EXPECT_TRUE(port.setSettings(good));
    }
    for (const char* bad : {"", "9600", "9600,n,8", "x,n,8,1", "9600,q,8,1", "9600,n,9,1",
                            "9600,n,8,3", "0,n,8,1", "9600,n,8,1,1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(port.setSettings(bad));
    }
    EXPECT_FALSE(port.setPortNumber(0));
    EXPECT_TRUE(port.setPortNumber(4));
    EXPECT_EQ(port.portNumber(), 4);
}

}  // namespace
}  // namespace merival

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "common/TempDir.h"
#include "serial/QtSerialPort.h"
#include "serial/TcpPort.h"

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

// Bytes read stand in a buffer of their own size: the exchange log keeps thousands of replies,
// and each one holding the device's read buffer (tens of kB) grew the program by megabytes a
// minute until the log wrapped.
TEST(QtSerialPortTest, BytesReadDoNotHoldTheReadBuffer) {
    const QByteArray frame(21, 'r');
    const auto readFrame = [&](SerialPortInterface& port, const std::function<void()>& send) {
        QString error;
        EXPECT_TRUE(port.open(&error)) << error.toStdString();
        send();
        QElapsedTimer guard;
        guard.start();
        while (port.inBufferCount() < frame.size() && guard.elapsed() < 5000) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
        }
        const QByteArray got = port.readAll();
        EXPECT_EQ(got, frame);
        EXPECT_LT(got.capacity(), 1024);
        port.close();
    };

    test::CurrentTempDir dir;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_TRUE(::grantpt(master) == 0 && ::unlockpt(master) == 0);
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(::ptsname(master)), dir.filePath("COM1")));
    QtSerialPort serial;
    ASSERT_TRUE(serial.setPortNumber(1));
    ASSERT_TRUE(serial.setSettings("9600,n,8,1"));
    readFrame(serial, [&] { EXPECT_EQ(::write(master, frame.constData(), 21), 21); });
    ::close(master);

    QTcpServer converter;
    ASSERT_TRUE(converter.listen(QHostAddress::LocalHost));
    LinkSettings link;
    link.mode = LinkMode::RtuTcp;
    link.host = QStringLiteral("127.0.0.1");
    link.port = converter.serverPort();
    TcpPort tcp(link);
    readFrame(tcp, [&] {
        ASSERT_TRUE(converter.hasPendingConnections() || converter.waitForNewConnection(5000));
        QTcpSocket* peer = converter.nextPendingConnection();
        peer->write(frame);
        peer->flush();
    });
}

}  // namespace
}  // namespace merival

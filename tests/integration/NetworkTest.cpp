#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <atomic>
#include <thread>

#include "common/TempDir.h"
#include "diagnostics/Exchange.h"
#include "instruments/Frame.h"
#include "instruments/Polling.h"
#include "serial/TcpPort.h"
#include "serial/Transport.h"

namespace merival {
namespace {

const QString kPoll = QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll");
const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");
const QStringList kStations = {QStringLiteral("1:flow"), QStringLiteral("2:ph:silent"),
                               QStringLiteral("3:resistivity"), QStringLiteral("4:562")};
// Voie 0: flow meter at 1; Voie 1: silent pH station at 2; Voie 2: resistivity at 3 on the
// Ext. block; Voie 3: 562 analyser at 4.
const QByteArray kConfig =
    "1,5\r\n\"1\",\"Debit\"\r\n1,2\r\n\"2\",\"Bassin\"\r\n1,0\r\n\"3\",\"Sortie\"\r\n"
    "1,15\r\n\"4\",\"Ozone\"\r\n#TRUE#,#TRUE#,#TRUE#,#TRUE#\r\n#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n";
const QByteArray kPortCom = " 1              0 \r\n 0 \r\n 0 \r\n";

template <typename Condition>
bool WaitFor(Condition condition, int boundMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > boundMs) {
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

int FreePort() {
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

bool Listening(int port) {
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
    return probe.waitForConnected(200);
}

// A directory with the two files, a [Liaison] section and whatever serves the line there.
struct Site {
    explicit Site(const QByteArray& liaison) {
        Write(QStringLiteral("config.txt"), kConfig);
        Write(QStringLiteral("PortCom.dat"), kPortCom);
        Write(QStringLiteral("merival.ini"), "[Liaison]\nTempsReponse=300\n" + liaison);
    }
    ~Site() {
        for (QProcess* p : {&poll, &bridge, &sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                p->waitForFinished(5000);
            }
        }
    }
    void Write(const QString& name, const QByteArray& bytes) const {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // The simulator with these arguments; a TCP one is waited for until it listens.
    bool StartSim(const QStringList& arguments, int tcpPort = 0) {
        sim.setWorkingDirectory(dir.path());
        sim.start(kSim, QStringList{QStringLiteral("--seed"), QStringLiteral("5")} + arguments +
                            kStations);
        if (tcpPort > 0) {
            return WaitFor([&] { return Listening(tcpPort); }, 5000);
        }
        return WaitFor([&] { return QFileInfo(dir.filePath(QStringLiteral("COM1"))).exists(); },
                       5000);
    }
    QStringList Poll(int passes) {
        poll.setWorkingDirectory(dir.path());
        poll.start(kPoll, {QStringLiteral("--count"), QString::number(passes),
                           QStringLiteral("--interval"), QStringLiteral("100")});
        poll.waitForFinished(60000);
        return QString::fromUtf8(poll.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    QProcess sim;
    QProcess bridge;
    QProcess poll;
};

TEST(NetworkLine, EveryKindOfLineGivesTheSerialLinesValuesAndTexts) {
    ASSERT_TRUE(QFileInfo(kPoll).isExecutable());
    Site serial("");
    ASSERT_TRUE(serial.StartSim({}));

    // A transparent converter: socat between TCP and the simulator's terminal.
    const int bridgePort = FreePort();
    Site converter(
        QStringLiteral("Mode=rtu-tcp\nHote=127.0.0.1\nPort=%1\n").arg(bridgePort).toLatin1());
    ASSERT_TRUE(converter.StartSim({}));
    converter.bridge.start(
        QStringLiteral("socat"),
        {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork,nodelay").arg(bridgePort),
         QStringLiteral("FILE:%1,raw,echo=0").arg(converter.dir.filePath(QStringLiteral("COM1")))});
    ASSERT_TRUE(WaitFor([&] { return Listening(bridgePort); }, 5000));

    const int gatewayPort = FreePort();
    Site gateway(
        QStringLiteral("Mode=modbus-tcp\nHote=127.0.0.1\nPort=%1\n").arg(gatewayPort).toLatin1());
    ASSERT_TRUE(gateway.StartSim({QStringLiteral("--tcp"), QString::number(gatewayPort), "--mbap"},
                                 gatewayPort));

    const QStringList expected = serial.Poll(3);
    ASSERT_EQ(expected.size(), 12);
    EXPECT_EQ(expected[1], QStringLiteral("Voie 1\tHS"));
    EXPECT_NE(expected[0], QStringLiteral("Voie 0\tHS"));
    EXPECT_EQ(converter.Poll(3), expected);
    EXPECT_EQ(gateway.Poll(3), expected);
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;  // several times slower, with a busy thread of its own
#else
constexpr bool kThreadSanitizer = false;
#endif

// The poll tool against a gateway that goes away while measuring and comes back.
TEST(NetworkLine, PeerKilledReadsHsWithoutSpinningAndValuesComeBack) {
    const int slow = kThreadSanitizer ? 4 : 1;
    const int port = FreePort();
    Site site(QStringLiteral("Mode=modbus-tcp\nHote=127.0.0.1\nPort=%1\n").arg(port).toLatin1());
    const QStringList tcp = {QStringLiteral("--tcp"), QString::number(port), "--mbap"};
    ASSERT_TRUE(site.StartSim(tcp, port));
    site.poll.setWorkingDirectory(site.dir.path());
    site.poll.start(
        kPoll, {QStringLiteral("--interval"), QStringLiteral("1000"), QStringLiteral("--trace")});
    QStringList voie0;  // the text of channel 0, pass by pass
    QByteArray pending;
    auto read = [&] {
        pending += site.poll.readAllStandardOutput();
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            if (pending.startsWith("Voie 0\t")) {
                voie0 << QString::fromUtf8(pending.mid(7, end - 7));
            }
        }
        return voie0.size();
    };
    ASSERT_TRUE(WaitFor([&] { return read() >= 1 && voie0.last() != u"HS"; }, 10000 * slow));

    site.sim.kill();
    site.sim.waitForFinished(5000);
    ASSERT_TRUE(WaitFor([&] { return read() > 0 && voie0.last() == u"HS"; }, 5000 * slow));
    auto cpuTicks = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(site.poll.processId()));
        stat.open(QIODevice::ReadOnly);
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        return fields.value(12).toLongLong() + fields.value(13).toLongLong();  // utime, stime
    };
    const long long before = cpuTicks();
    QThread::msleep(2000);
    const long long used = cpuTicks() - before;
    if (!kThreadSanitizer) {
        EXPECT_LE(used, 2) << "clock ticks of 10 ms in 2 s with the gateway gone";
    }

    ASSERT_TRUE(site.StartSim(tcp, port));
    const qsizetype returned = read();
    // Reconnection waits double every second failure, up to 30 s: how many passes read HS after
    // the return depends on how long the outage lasted, so only the return itself is awaited.
    EXPECT_TRUE(WaitFor([&] { return read() > returned && voie0.last() != u"HS"; }, 40000 * slow))
        << voie0.join(u'|').toStdString();

    site.poll.terminate();
    site.poll.waitForFinished(5000);
    const QString trace = QString::fromUtf8(site.poll.readAllStandardError());
    EXPECT_TRUE(trace.contains(QStringLiteral("Connexion perdue"))) << trace.toStdString();
    EXPECT_TRUE(trace.contains(QStringLiteral("Connexion refusée")));
}

// mbpoll, an independent Modbus TCP client, against the simulator as a gateway.
TEST(NetworkLine, MbpollReadsTheSimulatorsRegisters) {
    const int port = FreePort();
    Site site("");
    ASSERT_TRUE(site.StartSim({QStringLiteral("--tcp"), QString::number(port), "--mbap"}, port));
    for (const int first : {0, 20}) {
        QProcess mbpoll;
        mbpoll.start(QStringLiteral("mbpoll"),
                     {"-m", "tcp", "-p", QString::number(port), "-a", "3", "-0", "-r",
                      QString::number(first), "-c", "8", "-t", "4:hex", "-1", "127.0.0.1"});
        ASSERT_TRUE(mbpoll.waitForFinished(10000));
        ASSERT_EQ(mbpoll.exitCode(), 0) << mbpoll.readAllStandardError().toStdString();
        static const QRegularExpression word(QStringLiteral(R"(\[(\d+)\]:\s+0x([0-9A-F]{4}))"));
        QByteArray words;
        for (auto m = word.globalMatch(QString::fromLatin1(mbpoll.readAllStandardOutput()));
             m.hasNext();) {
            words += QByteArray::fromHex(m.next().captured(2).toLatin1());
        }
        ASSERT_TRUE(WaitFor([&] { return site.sim.canReadLine(); }, 5000));
        const QByteArray log = site.sim.readLine();
        const qsizetype at = log.indexOf("reply=") + 6;
        const QByteArray reply = QByteArray::fromHex(log.mid(at, log.indexOf(' ', at) - at));
        EXPECT_TRUE(log.contains(QStringLiteral("block=%1 answer=ok").arg(first).toLatin1()));
        EXPECT_EQ(words, reply.mid(3, 16)) << log.toStdString();
    }
}

// libmodbus as the gateway, in a thread: one connection, holding registers 0..27.
class LibmodbusServer {
public:
    explicit LibmodbusServer(int port) : context_(modbus_new_tcp("127.0.0.1", port)) {
        mapping_ = modbus_mapping_new(0, 0, 28, 0);
        for (int i = 0; i < 28; ++i) {
            mapping_->tab_registers[i] = static_cast<quint16>(0x1111 * (i % 8) + i);
        }
        mapping_->tab_registers[0] = 3;       // range
        mapping_->tab_registers[3] = 0xFF9C;  // -100
        mapping_->tab_registers[4] = 0x00FA;  // 25.0 °C
        listener_ = modbus_tcp_listen(context_, 1);
        thread_ = std::thread([this] {
            if (modbus_tcp_accept(context_, &listener_) < 0) {
                return;
            }
            uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
            for (int rc; (rc = modbus_receive(context_, query)) > 0;) {
                modbus_reply(context_, query, rc, mapping_);
                ++answered_;
            }
        });
    }
    ~LibmodbusServer() {
        thread_.join();
        ::close(listener_);
        modbus_close(context_);
        modbus_free(context_);
        modbus_mapping_free(mapping_);
    }
    [[nodiscard]] quint16 reg(int i) const { return mapping_->tab_registers[i]; }
    std::atomic<int> answered_{0};

private:
    modbus_t* context_;
    modbus_mapping_t* mapping_;
    int listener_ = -1;
    std::thread thread_;
};

LinkSettings Gateway(int port) {
    LinkSettings s;
    s.mode = LinkMode::ModbusTcp;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    return s;
}

TEST(NetworkLine, WeReadALibmodbusTcpServer) {
    const int port = FreePort();
    LibmodbusServer server(port);
    SerialSettings serial;
    {
        TcpPort tcp(Gateway(port));
        Transport transport(tcp, serial);
        TransportRegisterReader reader(transport);
        ASSERT_TRUE(transport.OpenPort().ok());
        for (const int unit : {1, 9, 247}) {
            for (const quint16 first : {quint16(0), quint16(20)}) {
                const ExchangeResult r = reader.ExchangeReadRegisters(unit, first);
                ASSERT_TRUE(r.ok);
                ASSERT_EQ(r.reply.size(), 21);
                EXPECT_EQ(static_cast<quint8>(r.reply[0]), unit);
                EXPECT_EQ(Crc16Modbus(r.reply), 0);
                for (int k = 0; k < 8; ++k) {
                    EXPECT_EQ(static_cast<quint8>(r.reply[3 + 2 * k]) << 8 |
                                  static_cast<quint8>(r.reply[4 + 2 * k]),
                              server.reg(first + k));
                }
            }
        }
        MeasurementResults m;
        ASSERT_TRUE(PollResistivity(reader, m, 5, 0));
        EXPECT_EQ(m.ResistivityRange, 3);
        EXPECT_EQ(m.ResistivityValue, -100);
        EXPECT_DOUBLE_EQ(m.TemperatureValue, 25.0);
        EXPECT_EQ(tcp.strayCount(), 0);
        transport.ClosePort();
    }
    EXPECT_EQ(server.answered_, 7);
}

// A gateway that first answers a stale transaction: that reply is dropped and counted, and
// an exchange that only got such a reply says so.
TEST(NetworkLine, ReplyOfAnotherTransactionIsDropped) {
    QTcpServer gateway;
    ASSERT_TRUE(gateway.listen(QHostAddress::LocalHost));
    int requests = 0;
    QObject::connect(&gateway, &QTcpServer::newConnection, &gateway, [&] {
        QTcpSocket* peer = gateway.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [&, peer] {
            const QByteArray request = peer->readAll();
            const QByteArray pdu = QByteArray::fromHex("0310") + QByteArray(16, '\x07');
            QByteArray reply =
                request.left(4) + QByteArray::fromHex("0013") + request.mid(6, 1) + pdu;
            QByteArray stale = reply;
            stale[1] = static_cast<char>(stale[1] - 1);
            peer->write(++requests == 1 ? stale + reply : stale);
        });
    });
    struct Last : ExchangeObserver {
        void exchanged(const ExchangeRecord& r) override { event = MakeEvent(r, 0); }
        void trailing(const QByteArray&) override {}
        ExchangeEvent event;
    } last;
    SerialSettings serial;
    TcpPort tcp(Gateway(gateway.serverPort()));
    Transport transport(tcp, serial);
    transport.setObserver(&last);
    TransportRegisterReader reader(transport);
    ASSERT_TRUE(transport.OpenPort().ok());
    transport.setTimeOuts(2000, 300);

    const ExchangeResult first = reader.ExchangeReadRegisters(2, 0);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.reply.mid(3, 16), QByteArray(16, '\x07'));
    EXPECT_EQ(OutcomeText(last.event), QStringLiteral("OK"));
    EXPECT_EQ(RequestHex(last.event), QStringLiteral("[00 01 00 00 00 06 02] 03 00 00 00 08"));

    EXPECT_FALSE(reader.ExchangeReadRegisters(2, 0).ok);
    EXPECT_EQ(OutcomeText(last.event), QStringLiteral("Mauvaise transaction"));
    EXPECT_TRUE(ReplyHex(last.event).startsWith(QStringLiteral("[00 01 00 00 00 13 02] 03 10")));
    EXPECT_EQ(tcp.strayCount(), 2);
}

TEST(NetworkLine, RefusedConnectionWaitsLongerEachTime) {
    const int port = FreePort();
    TcpPort tcp(Gateway(port));
    QString error;
    EXPECT_FALSE(tcp.open(&error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Connexion refusée par 127.0.0.1:%1").arg(port)));
    EXPECT_GT(tcp.retryDelayMs(), 900);
    // Within the delay nothing is tried: the answer is immediate.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 1000; ++i) {
        EXPECT_FALSE(tcp.reopen(&error));
    }
    EXPECT_LT(clock.elapsed(), 500);
    QThread::msleep(static_cast<unsigned long>(tcp.retryDelayMs()));
    EXPECT_FALSE(tcp.reopen(&error));
    EXPECT_GT(tcp.retryDelayMs(), 900);
    std::vector<int> delays;
    for (int failures = 1; failures <= 12; ++failures) {
        delays.push_back(TcpPort::DelayAfter(failures) / 1000);
    }
    EXPECT_EQ(delays, (std::vector<int>{1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 30, 30}));
    EXPECT_EQ(tcp.networkFacts().fault, LinkFault::Refused);
}

}  // namespace
}  // namespace merival

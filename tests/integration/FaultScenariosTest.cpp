// A bad line must never crash, hang or lose the measurement: every fault the simulator can make,
// a station that falls silent, the line closed under an exchange and a reply that trickles in,
// all over a real pseudo-terminal with the real 2000 ms time-outs, through the measurement
// cycle as the measurement window drives it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "SimProcess.h"
#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "instruments/Frame.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "measure/ValueFormat.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

namespace merival {
namespace {

const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");

// Two waits of 2000 ms at most, plus room for a loaded machine: a correctness bound, not a
// speed target.
constexpr qint64 kExchangeBoundMs = 4500;

// Type indices of the families used below.
constexpr int kResistivity = 0;
constexpr int kConductivity = 1;
constexpr int kPh = 2;
constexpr int kRedox = 3;
constexpr int kOxygen = 4;
constexpr int kFlow = 5;
constexpr int kChlorine = 6;
constexpr int kTurbidity = 12;
constexpr int kDualResistivity = 13;
constexpr int k738 = 14;

// The real port, watched: the largest receive count the transport ever saw and the largest
// read it ever got.
class WatchedPort : public SerialPortInterface {
public:
    bool setPortNumber(int number) override { return real_.setPortNumber(number); }
    [[nodiscard]] int portNumber() const override { return real_.portNumber(); }
    bool setSettings(const QString& settings) override { return real_.setSettings(settings); }
    void setOption2() override { real_.setOption2(); }
    bool open(QString* error) override { return real_.open(error); }
    void close() override { real_.close(); }
    [[nodiscard]] bool isOpen() const override { return real_.isOpen(); }
    [[nodiscard]] qint64 inBufferCount() const override {
        const qint64 count = real_.inBufferCount();
        maxInBuffer = std::max(maxInBuffer, count);
        return count;
    }
    void discardInput() override { real_.discardInput(); }
    [[nodiscard]] qint64 outBufferCount() const override { return real_.outBufferCount(); }
    void discardOutput() override { real_.discardOutput(); }
    void write(const QByteArray& bytes) override { real_.write(bytes); }
    [[nodiscard]] QByteArray readAll() override {
        QByteArray bytes = real_.readAll();
        maxRead = std::max<qint64>(maxRead, bytes.size());
        return bytes;
    }

    mutable qint64 maxInBuffer = 0;
    qint64 maxRead = 0;

private:
    QtSerialPort real_;
};

// The exchange the cycle made, kept for the checks.
class WatchedReader : public RegisterReader {
public:
    explicit WatchedReader(Transport& transport) : inner_(transport) {}
    ExchangeResult ExchangeReadRegisters(double address, quint16 firstRegister) override {
        last = inner_.ExchangeReadRegisters(address, firstRegister);
        ++count;
        return last;
    }
    ExchangeResult last;
    int count = 0;

private:
    TransportRegisterReader inner_;
};

class FixedReply : public RegisterReader {
public:
    explicit FixedReply(QByteArray reply) : reply_(std::move(reply)) {}
    ExchangeResult ExchangeReadRegisters(double, quint16) override { return {true, reply_}; }

private:
    QByteArray reply_;
};

// A valid reply of eight registers, built here rather than by the simulator.
QByteArray RegisterReply(quint8 address, const std::array<quint16, 8>& registers) {
    QByteArray frame;
    frame.append(static_cast<char>(address));
    frame.append(char(3));
    frame.append(char(16));
    for (const quint16 r : registers) {
        frame.append(SplitWord(r));
    }
    return frame + FrameCrc(frame);
}

struct Pass {
    QString text;  // what the channel's value label received
    qint64 ms = 0;
    ExchangeResult exchange;
};

class FaultScenariosTest : public ::testing::Test {
protected:
    FaultScenariosTest() {
        state.EscapeKey = QString(QChar(27));
        store.setSelected(0, 1);
        store.setBaseBlock(0, true);
        QObject::connect(&cycle, &MeasurementCycle::valueText, &cycle,
                         [this](int channel, const QString& text) {
                             EXPECT_EQ(channel, 0);
                             shown = text;
                         });
    }

    // One pass of the cycle with channel 0 on this station and type.
    Pass Measure(int address, int typeIndex) {
        store.setAddress(0, QString::number(address));
        store.setTypeIndex(0, static_cast<qint16>(typeIndex));
        shown = QStringLiteral("(nothing)");
        before = results;
        const int exchanges = reader.count;
        QElapsedTimer clock;
        clock.start();
        cycle.RunMeasurementCycle();
        Pass pass{shown, clock.elapsed(), reader.last};
        EXPECT_EQ(reader.count, exchanges + 1);
        EXPECT_LT(pass.ms, kExchangeBoundMs);
        EXPECT_LE(pass.exchange.reply.size(), Transport::kMaxPending);
        EXPECT_LE(port.maxInBuffer, QtSerialPort::kMaxInput);
        EXPECT_LE(port.maxRead, QtSerialPort::kMaxInput);
        return pass;
    }

    // The value text the last pass should have shown for these reply bytes, decoded from the
    // results as they were before it.
    QString TextFor(int typeIndex, const QByteArray& reply) const {
        MeasurementResults expected = before;
        FixedReply fixed(reply);
        EXPECT_TRUE(PollRoutineForType(typeIndex)(fixed, expected, 1, 0));
        return FormatChannelValue(typeIndex, expected, u',');
    }

    // The simulator's account of request number n (1-based).
    test::SimRecord Record(size_t n) {
        EXPECT_TRUE(sim.WaitForRecords(n)) << "no record of request " << n;
        const auto& records = sim.records();
        return records.size() >= n ? records[n - 1] : test::SimRecord{};
    }

    // Lets whatever is still on its way arrive and drops it, until the line has been quiet a
    // moment: a babbling or late station's bytes must not be taken for the next reply.
    void WaitForQuietLine() {
        for (int turns = 0; turns < 30; ++turns) {
            test::PumpUntil([] { return false; }, 150);
            if (port.readAll().isEmpty()) {
                return;
            }
        }
        ADD_FAILURE() << "the line never went quiet";
    }

    test::CurrentTempDir dir;
    test::SimProcess sim{kSim, dir.path()};
    SerialSettings settings;
    WatchedPort port;
    Transport transport{port, settings};
    WatchedReader reader{transport};
    ChannelStore store;
    MeasurementResults results;
    MeasurementResults before;
    MeasureState state;
    MeasurementCycle cycle{store, reader, results, state, u','};
    QString shown;
};

TEST_F(FaultScenariosTest, EveryFaultOfTheSimulatorThenAHealthyExchange) {
    struct Row {
        const char* fault;
        int typeIndex;
        bool decoded;  // false: the channel reads "HS"
    };
    const Row rows[] = {
        {"noise", kResistivity, true},     // decoded as received, flipped bits and all
        {"badcrc", kFlow, true},           // the CRC is not checked
        {"long", kTurbidity, true},        // bytes beyond 21 are ignored
        {"echo", kOxygen, true},           // the request heard back is dropped
        {"babble", k738, true},            // the first 21 bytes of the noise are decoded
        {"short", kConductivity, false},   // never reaches 21 bytes
        {"exception", kPh, false},         // 5 bytes: a time-out
        {"late", kDualResistivity, false}  // after the 2000 ms wait
    };
    const std::map<int, QString> families = {{kResistivity, "resistivity"},
                                             {kConductivity, "conductivity"},
                                             {kPh, "ph"},
                                             {kOxygen, "oxygen"},
                                             {kFlow, "flow"},
                                             {kTurbidity, "turbidity"},
                                             {kDualResistivity, "dual-resistivity"},
                                             {k738, "738"}};
    QStringList arguments = {"--seed", "17"};
    constexpr int kHealthyBase = 100;  // station kHealthyBase + i: same family, no fault
    for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
        const QString family = families.at(rows[i].typeIndex);
        arguments << QStringLiteral("%1:%2:%3").arg(i + 1).arg(family, rows[i].fault)
                  << QStringLiteral("%1:%2").arg(kHealthyBase + i + 1).arg(family);
    }
    ASSERT_TRUE(sim.Start(arguments)) << sim.errorOutput().toStdString();
    ASSERT_TRUE(transport.OpenPort().ok());

    size_t requests = 0;
    for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.fault);

        const Pass faulty = Measure(i + 1, row.typeIndex);
        const test::SimRecord record = Record(++requests);
        EXPECT_EQ(record.answer, row.fault);
        if (row.decoded) {
            EXPECT_TRUE(faulty.exchange.ok);
            EXPECT_EQ(faulty.text, TextFor(row.typeIndex, record.reply));
        } else {
            EXPECT_FALSE(faulty.exchange.ok);
            EXPECT_EQ(faulty.text, "HS");
        }
        WaitForQuietLine();

        const Pass healthy = Measure(kHealthyBase + i + 1, row.typeIndex);
        const test::SimRecord next = Record(++requests);
        EXPECT_EQ(next.answer, "ok");
        ASSERT_TRUE(healthy.exchange.ok);
        EXPECT_EQ(healthy.exchange.reply.toHex(), next.reply.toHex());
        EXPECT_EQ(healthy.text, TextFor(row.typeIndex, next.reply));
    }
    EXPECT_TRUE(sim.running());
}

TEST_F(FaultScenariosTest, StationFallsSilentAndComesBack) {
    // With this seed the station answers, falls silent twice in a row, and answers again.
    ASSERT_TRUE(sim.Start({"--seed", "4", "1:redox:silent=0.5"}))
        << sim.errorOutput().toStdString();
    ASSERT_TRUE(transport.OpenPort().ok());

    QStringList answers;
    for (size_t n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        const Pass pass = Measure(1, kRedox);
        const test::SimRecord record = Record(n);
        answers << record.answer;
        if (record.answer == "silent") {
            EXPECT_EQ(pass.text, "HS");
        } else {
            ASSERT_EQ(record.answer, "ok");
            EXPECT_EQ(pass.text, TextFor(kRedox, record.reply));
        }
    }
    EXPECT_TRUE(answers.join(u' ').contains(QStringLiteral("ok silent silent ok")))
        << answers.join(u' ').toStdString();
}

TEST_F(FaultScenariosTest, LineClosedUnderAnExchange) {
    struct Row {
        const char* how;
        bool kill;  // SIGKILL leaves the link dangling; SIGTERM removes it
    };
    for (const Row& row : {Row{"terminated", false}, Row{"killed", true}}) {
        SCOPED_TRACE(row.how);
        test::SimProcess first(kSim, dir.path());
        ASSERT_TRUE(first.Start({"1:chlorine:silent"})) << first.errorOutput().toStdString();
        ASSERT_TRUE(transport.OpenPort().ok());

        // The simulator goes away while the exchange waits for the reply.
        QTimer::singleShot(300, &cycle, [&first, &row] {
            if (row.kill) {
                first.Kill();
            } else {
                first.Terminate();
            }
        });
        const Pass lost = Measure(1, kChlorine);
        EXPECT_FALSE(first.running());
        EXPECT_EQ(lost.text, "HS");
        EXPECT_FALSE(transport.IsOpen());

        // The station is back on a new line: the next exchange opens it and reads the value.
        test::SimProcess second(kSim, dir.path());
        ASSERT_TRUE(second.Start({"1:chlorine"})) << second.errorOutput().toStdString();
        const Pass back = Measure(1, kChlorine);
        ASSERT_TRUE(second.WaitForRecords(1));
        EXPECT_EQ(back.text, TextFor(kChlorine, second.records().front().reply));
        EXPECT_TRUE(transport.IsOpen());
        transport.ClosePort();
    }
}

// A station of our own on a pseudo-terminal linked as COM1: it answers the first request with
// its bytes written one at a time, evenly spread so that the last one leaves `span` after the
// request arrived.
class OwnStation {
public:
    OwnStation(QByteArray reply, std::chrono::milliseconds span)
        : reply_(std::move(reply)), span_(span) {}
    ~OwnStation() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        QFile::remove(QDir::current().filePath(QStringLiteral("COM1")));
        for (const int fd : {slave_, master_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    bool Start() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return false;
        }
        const char* name = ::ptsname(master_);
        // Held open so that the port closing never leaves the master hung up.
        slave_ = name == nullptr ? -1 : ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (slave_ < 0) {
            return false;
        }
        termios tio{};
        ::tcgetattr(slave_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        const QString link = QDir::current().filePath(QStringLiteral("COM1"));
        if (!QFile::link(QString::fromLocal8Bit(name), link)) {
            return false;
        }
        thread_ = std::thread([this] { Run(); });
        return true;
    }

    [[nodiscard]] QByteArray request() const { return request_; }

private:
    void Run() {
        using Clock = std::chrono::steady_clock;
        while (!stop_ && request_.size() < 8) {
            pollfd fd{master_, POLLIN, 0};
            if (::poll(&fd, 1, 50) > 0) {
                char buffer[64];
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    request_.append(buffer, n);
                }
            }
        }
        const Clock::time_point start = Clock::now();
        const auto count = static_cast<int>(reply_.size());
        for (int i = 0; i < count && !stop_; ++i) {
            std::this_thread::sleep_until(start + span_ * (i + 1) / count);
            // The master does not block: a full line must not keep the destructor waiting.
            while (::write(master_, reply_.constData() + i, 1) != 1 && !stop_) {
                pollfd fd{master_, POLLOUT, 0};
                ::poll(&fd, 1, 20);
            }
        }
    }

    QByteArray reply_;
    std::chrono::milliseconds span_;
    QByteArray request_;
    int master_ = -1;
    int slave_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(FaultScenariosTest, RepliesOfAStationOfOurOwn) {
    const QByteArray reply = RegisterReply(7, {0x0000, 0, 0, 0x02C8, 0x00D7, 0, 0, 0});
    QByteArray flood = reply;
    for (int i = 0; flood.size() < 20000; ++i) {
        flood.append(static_cast<char>((i * 37 + 11) & 0xFF));
    }
    struct Row {
        const char* name;
        QByteArray bytes;
        int spanMs;  // from the request to the last byte
        bool decoded;
    };
    const Row rows[] = {
        // Most of the 2000 ms reply time-out goes by, yet the last byte is in time.
        {"dribbled, inside the time-out", reply, 1650, true},
        {"dribbled, past the time-out", reply, 2400, false},
        // A valid reply, then babble far beyond what the buffers keep.
        {"reply then 20000 bytes", flood, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OwnStation station(row.bytes, std::chrono::milliseconds(row.spanMs));
        ASSERT_TRUE(station.Start());
        ASSERT_TRUE(transport.OpenPort().ok());

        const Pass pass = Measure(7, kPh);
        EXPECT_EQ(pass.exchange.ok, row.decoded);
        EXPECT_EQ(pass.text, row.decoded ? TextFor(kPh, reply) : QStringLiteral("HS"));
        EXPECT_EQ(station.request(), BuildReadRequest(7, 3, 0, 8).frame);
        EXPECT_TRUE(pass.exchange.reply.startsWith(row.decoded ? reply : QByteArray()));
        // Whatever keeps coming is held within the bound, never all of it.
        WaitForQuietLine();
        EXPECT_LE(port.maxRead, QtSerialPort::kMaxInput);
        EXPECT_LE(port.maxInBuffer, QtSerialPort::kMaxInput);
        transport.ClosePort();
    }
}

}  // namespace
}  // namespace merival

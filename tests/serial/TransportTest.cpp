#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

#include "FakePort.h"
#include "instruments/Frame.h"
#include "instruments/Polling.h"
#include "serial/Transport.h"

namespace merival {
namespace {

using test::FakePort;

// Short waits for tests only; the program keeps 2000 ms.
constexpr int kSendMs = 300;
constexpr int kReplyMs = 400;

QByteArray Request() {
    return BuildReadRequest(1, 3, 0, 8).frame;
}

QByteArray Reply21() {
    QByteArray reply = QByteArray::fromHex(
        "0103100002000000000457"
        "00FA000000000000");
    reply.append(FrameCrc(reply));
    return reply;
}

// Runs the event loop until the condition holds; a guard stops a broken test from hanging.
bool PumpUntil(const std::function<bool()>& done) {
    bool expired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &guard, [&expired] { expired = true; });
    guard.start(10000);
    while (!done() && !expired) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
}

class TransportTest : public ::testing::Test {
protected:
    TransportTest() : transport(port, settings) { transport.setTimeOuts(kSendMs, kReplyMs); }

    ReplyResult Exchange(int n = 21) {
        transport.ClearInput();
        transport.SendFrame(Request());
        return transport.ReadReply(n);
    }

    FakePort port;
    SerialSettings settings;
    Transport transport;

    void SetUp() override { ASSERT_TRUE(transport.OpenPort().ok()); }
};

TEST_F(TransportTest, CompleteRepliesAreReturned) {
    const QByteArray reply = Reply21();
    const QByteArray extra = QByteArray::fromHex("A1A2A3A4");
    struct Row {
        const char* name;
        std::vector<FakePort::Chunk> chunks;
        QByteArray expected;
    };
    const std::vector<Row> rows = {
        {"exactly n", {{5, reply}}, reply},
        {"already more than n", {{5, reply + extra}}, reply + extra},
        {"fragments", {{5, reply.left(3)}, {20, reply.mid(3, 9)}, {40, reply.mid(12)}}, reply},
        {"in the same turn as the send", {{0, reply}}, reply},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        port.replyChunks = row.chunks;
        const ReplyResult result = Exchange();
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.reply.toHex(), row.expected.toHex());
        EXPECT_FALSE(transport.TimedOut(1));
    }
    EXPECT_EQ(port.written.size(), rows.size());
    EXPECT_EQ(port.written.back(), Request());
}

TEST_F(TransportTest, MissingOrLateRepliesFailEmpty) {
    const QByteArray reply = Reply21();
    struct Row {
        const char* name;
        std::vector<FakePort::Chunk> chunks;
    };
    const std::vector<Row> rows = {
        {"never", {}},
        {"20 bytes then silence", {{5, reply.left(20)}}},
        {"exception reply", {{5, QByteArray::fromHex("0183028F")}}},
        {"after the reply time-out", {{kReplyMs + 300, reply}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        port.replyChunks = row.chunks;
        const ReplyResult result = Exchange();
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.reply.isEmpty());
        EXPECT_TRUE(transport.TimedOut(1));
    }
}

TEST_F(TransportTest, LaterBytesWaitForTheNextClearInput) {
    port.replyChunks = {{5, Reply21()}, {60, QByteArray("late")}};
    const ReplyResult result = Exchange();
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.reply, Reply21());
    ASSERT_TRUE(PumpUntil([this] { return port.inBufferCount() == 4; }));
    transport.ClearInput();
    EXPECT_EQ(port.inBufferCount(), 0);
}

TEST(TransportGapTest, InterFrameSilenceIsThreeAndAHalfCharacters) {
    struct Row {
        SerialSettings settings;
        int gapMs;
    } rows[] = {
        {{1, 0, 0, 0}, 4},   // 9600 8N1: 3.65 ms
        {{1, 1, 0, 0}, 8},   // 4800 8N1: 7.3 ms
        {{1, 2, 1, 1}, 18},  // 2400 8E2: 17.5 ms
        {{1, 2, 2, 0}, 17},  // 2400 8O1: 16.04 ms
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(SettingsString(row.settings).toStdString());
        EXPECT_EQ(Transport::InterFrameGapMs(row.settings), row.gapMs);
    }
}

TEST_F(TransportTest, NextRequestWaitsForTheLineToFallSilent) {
    settings = {1, 2, 1, 1};  // 2400 baud, 18 ms of silence between frames
    port.replyChunks = {{5, Reply21()}};
    ASSERT_TRUE(Exchange().ok);
    QElapsedTimer sinceReply;
    sinceReply.start();
    // The tail of the previous frame, heard after the next exchange has cleared its input.
    QTimer::singleShot(3, [this] { port.input.append("tail"); });
    qint64 writtenAfter = -1;
    port.onWrite = [&] { writtenAfter = sinceReply.elapsed(); };
    const ReplyResult second = Exchange();
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.reply, Reply21());
    EXPECT_GE(writtenAfter, 17);
}

TEST_F(TransportTest, UnsentRestIsDroppedAndTheReplyStillAwaited) {
    port.leaveAfterMs = -1;
    port.replyChunks = {{kSendMs + 100, Reply21()}};
    const ReplyResult result = Exchange();
    EXPECT_EQ(port.outputDiscards, 1);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.reply, Reply21());

    // A request that leaves in time keeps its bytes.
    port.leaveAfterMs = 20;
    port.replyChunks = {{30, Reply21()}};
    EXPECT_TRUE(Exchange().ok);
    EXPECT_EQ(port.outputDiscards, 1);
}

TEST_F(TransportTest, LocalEchoOfTheRequestIsDropped) {
    const QByteArray request = Request();
    const QByteArray reply = Reply21();
    struct Row {
        const char* name;
        bool echo;
        std::vector<FakePort::Chunk> chunks;
        QByteArray expected;
    };
    const std::vector<Row> rows = {
        {"echo, then the reply", true, {{10, reply}}, reply},
        {"echo and reply in one piece", false, {{5, request + reply}}, reply},
        {"echo split, reply in fragments",
         false,
         {{5, request.left(3)}, {15, request.mid(3) + reply.left(2)}, {30, reply.mid(2)}},
         reply},
        // Without echo a reply may begin like the request (same address and function).
        {"no echo, reply starting like the request",
         false,
         {{5, reply.left(2)}, {20, reply.mid(2)}},
         reply},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        port.echo = row.echo;
        port.replyChunks = row.chunks;
        const ReplyResult result = Exchange();
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.reply.toHex(), row.expected.toHex());
    }
}

TEST_F(TransportTest, EchoAloneIsNotAReply) {
    port.echo = true;
    const ReplyResult result = Exchange(8);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(transport.TimedOut(1));
}

TEST_F(TransportTest, BabbleIsBounded) {
    port.replyChunks = {{5, QByteArray(3 * Transport::kMaxPending, '\x55')}};
    const ReplyResult result = Exchange();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.reply.size(), Transport::kMaxPending);
}

TEST_F(TransportTest, PortLostDuringTheWaitEndsIt) {
    transport.setTimeOuts(60000, 60000);
    port.loseAfter(20);
    const ReplyResult result = Exchange();
    EXPECT_FALSE(result.ok);
    // Ended by the loss, not by waiting out the time-out.
    EXPECT_FALSE(transport.TimedOut(1));
}

TEST_F(TransportTest, ClosedPortSendsNothingAndFailsAtOnce) {
    transport.ClosePort();
    transport.setTimeOuts(60000, 60000);
    port.replyChunks = {{5, Reply21()}};
    const ReplyResult result = Exchange();
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(transport.TimedOut(1));
    EXPECT_TRUE(port.written.empty());
}

TEST_F(TransportTest, TimeOutSlotsFireOncePerArming) {
    transport.StartTimeOut(2, 10);
    EXPECT_FALSE(transport.TimedOut(2));
    ASSERT_TRUE(PumpUntil([this] { return transport.TimedOut(2); }));
    EXPECT_FALSE(transport.TimedOut(1));
    EXPECT_FALSE(transport.TimedOut(3));
    transport.StartTimeOut(2, 10000);
    EXPECT_FALSE(transport.TimedOut(2));
    // Slots outside 1..3 are ignored.
    transport.StartTimeOut(0, 1);
    transport.StartTimeOut(4, 1);
    EXPECT_FALSE(transport.TimedOut(0));
    EXPECT_FALSE(transport.TimedOut(4));
}

TEST(TransportOpenTest, OpenSetsPortSettingsOptionThenOpens) {
    FakePort port;
    SerialSettings settings;
    settings.Port = 3;
    settings.SpeedIndex = 1;
    settings.ParityIndex = 1;
    settings.StopBitsIndex = 1;
    Transport transport(port, settings);
    ASSERT_TRUE(transport.OpenPort().ok());
    EXPECT_EQ(port.calls,
              QStringList({"port 3", "settings " + SettingsString(settings), "option2", "open"}));
    EXPECT_TRUE(transport.IsOpen());

    // Opening again closes first, so new settings apply.
    port.calls.clear();
    ASSERT_TRUE(transport.OpenPort().ok());
    EXPECT_EQ(port.calls.first(), "close");
    EXPECT_EQ(port.calls.last(), "open");
}

TEST(TransportOpenTest, FailuresNameThePort) {
    FakePort port;
    SerialSettings settings;
    settings.Port = 2;
    Transport transport(port, settings);

    port.openError = QStringLiteral("Impossible d'ouvrir le port COM2 : périphérique introuvable.");
    Status status = transport.OpenPort();
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(status.message, port.openError);
    EXPECT_FALSE(transport.IsOpen());

    port.openError.clear();
    port.acceptSettings = false;
    status = transport.OpenPort();
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message.contains("COM2")) << status.message.toStdString();
    EXPECT_FALSE(port.calls.contains("open") && port.isOpen());
}

TEST(TransportOpenTest, LostPortIsReopenedUntilClosedOnPurpose) {
    FakePort port;
    SerialSettings settings;
    Transport transport(port, settings);
    EXPECT_FALSE(transport.EnsureOpen()) << "never opened";
    EXPECT_FALSE(port.calls.contains("open"));

    ASSERT_TRUE(transport.OpenPort().ok());
    port.close();  // lost under us
    port.calls.clear();
    EXPECT_TRUE(transport.EnsureOpen());
    EXPECT_TRUE(port.calls.contains("open"));

    port.close();
    port.openError = QStringLiteral("absent");
    EXPECT_FALSE(transport.EnsureOpen());

    transport.ClosePort();
    port.openError.clear();
    port.calls.clear();
    EXPECT_FALSE(transport.EnsureOpen());
    EXPECT_TRUE(port.calls.isEmpty());
}

class ExchangeTest : public TransportTest {
protected:
    TransportRegisterReader reader{transport};
};

TEST_F(ExchangeTest, SendsTheRequestAndReturnsTheReply) {
    port.input = "stale bytes";
    port.replyChunks = {{5, Reply21()}};
    const ExchangeResult result = reader.ExchangeReadRegisters(2.5, 20);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.reply, Reply21());
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(port.written[0], BuildReadRequest(2, 3, 20, 8).frame);
}

TEST_F(ExchangeTest, AddressThatDoesNotFitOneByteIsNotSent) {
    port.replyChunks = {{5, Reply21()}};
    for (const double address : {256.0, 255.5, -1.0, 70000.0}) {
        SCOPED_TRACE(address);
        EXPECT_FALSE(reader.ExchangeReadRegisters(address, 0).ok);
    }
    EXPECT_TRUE(port.written.empty());
}

TEST_F(ExchangeTest, LostPortIsReopenedBeforeSending) {
    port.close();
    port.replyChunks = {{5, Reply21()}};
    EXPECT_TRUE(reader.ExchangeReadRegisters(1, 0).ok);

    // Cannot be reopened: fails without sending and without waiting out a time-out.
    port.close();
    port.openError = QStringLiteral("absent");
    transport.setTimeOuts(60000, 60000);
    EXPECT_FALSE(reader.ExchangeReadRegisters(1, 0).ok);
    EXPECT_EQ(port.written.size(), 1u);
    EXPECT_FALSE(transport.TimedOut(1));
}

}  // namespace
}  // namespace merival

namespace merival {
namespace {

TEST_F(ExchangeTest, LineTimingRetriesWithinThePassAndPauses) {
    LinkTiming timing;
    timing.retries = 2;
    timing.replyMs = 100;
    timing.pauseBetweenMs = 150;
    transport.setTiming(timing);
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> writes;
    port.onWrite = [&] {
        writes.push_back(clock.elapsed());
        // Late for the reply time at the first try, silent at the second, in time at the third.
        port.replyChunks.clear();
        if (writes.size() != 2) {
            port.replyChunks = {{writes.size() == 1 ? 150 : 5, Reply21()}};
        }
    };
    EXPECT_TRUE(reader.ExchangeReadRegisters(1, 0).ok);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_GE(writes[2] - writes[1], 100 + 150) << "reply time, then the added silence";

    writes = {0};  // the next try is the silent kind
    timing.retries = 0;
    transport.setTiming(timing);
    EXPECT_FALSE(reader.ExchangeReadRegisters(1, 0).ok);
    EXPECT_EQ(writes.size(), 2u);

    // After the opening: the pause, and what the line said meanwhile is dropped.
    timing.pauseAfterOpenMs = 200;
    transport.setTiming(timing);
    port.input = "noise";
    clock.restart();
    ASSERT_TRUE(transport.OpenPort().ok());
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_TRUE(port.input.isEmpty());
}

}  // namespace
}  // namespace merival

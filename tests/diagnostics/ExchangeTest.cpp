#include <gtest/gtest.h>

#include "diagnostics/Exchange.h"
#include "diagnostics/ExchangeLog.h"
#include "instruments/Frame.h"

namespace merival {
namespace {

const QByteArray kRequest = BuildReadRequest(1, 3, 0, 8).frame;

QByteArray WithCrc(QByteArray frame) {
    return frame + FrameCrc(frame);
}

// A reply of eight registers from `address`, as a station sends it.
QByteArray Reply(quint8 address) {
    return WithCrc(QByteArray(1, char(address)) + QByteArray::fromHex("0310") +
                   QByteArray::fromHex("0001000200030004000500060007000A"));
}

ExchangeRecord Record(QByteArray reply, bool timedOut = false) {
    ExchangeRecord r;
    r.time = 1700000000000;
    r.port = 1;
    r.request = kRequest;
    r.reply = std::move(reply);
    r.expectedLength = 21;
    r.timedOut = timedOut;
    r.firstByteMs = r.reply.isEmpty() ? -1 : 20;
    r.lastByteMs = r.reply.isEmpty() ? -1 : 42;
    return r;
}

TEST(ExchangeTest, EachWayAnExchangeEndsGetsItsOutcome) {
    QByteArray badCrc = Reply(1);
    badCrc[19] = char(badCrc[19] ^ 0xA5);
    QByteArray noisyAddress = Reply(1);
    noisyAddress[0] = char(0x05);  // the CRC no longer holds: the address cannot be trusted
    ExchangeRecord echo = Record(Reply(1));
    echo.echoDropped = true;
    ExchangeRecord echoThenCut = Record(Reply(1).left(9), true);
    echoThenCut.echoDropped = true;
    ExchangeRecord closed = Record({});
    closed.portClosed = true;
    ExchangeRecord cutByClose = Record(Reply(1).left(4));
    cutByClose.portClosed = true;
    ExchangeRecord refused = closed;
    refused.network.fault = LinkFault::Refused;
    ExchangeRecord lost = closed;
    lost.network.fault = LinkFault::Lost;
    ExchangeRecord lostMidReply = cutByClose;
    lostMidReply.network.fault = LinkFault::Lost;
    ExchangeRecord stray = Record({}, true);
    stray.network.stray = QByteArray::fromHex("0007000000130103");
    ExchangeRecord strayThenReply = Record(Reply(1));
    strayThenReply.network.stray = stray.network.stray;
    const struct {
        const char* name;
        ExchangeRecord record;
        const char* outcome;
    } rows[] = {
        {"valid reply", Record(Reply(1)), "OK"},
        {"echo, then a valid reply", echo, "Écho retiré"},
        {"echo, then a cut reply: the fault wins", echoThenCut, "Réponse incomplète"},
        {"CRC low byte inverted", Record(badCrc), "CRC faux"},
        {"bit error in the address", Record(noisyAddress), "CRC faux"},
        {"another station, valid frame", Record(Reply(2)), "Mauvaise adresse"},
        {"exception 4", Record(WithCrc(QByteArray::fromHex("018304")), true), "Exception 4"},
        {"exception from another station", Record(WithCrc(QByteArray::fromHex("028302")), true),
         "Mauvaise adresse"},
        {"exception frame with a bad CRC", Record(QByteArray::fromHex("0183040000"), true),
         "Réponse incomplète"},
        {"cut at 12 bytes", Record(Reply(1).left(12), true), "Réponse incomplète"},
        {"three bytes too many", Record(Reply(1) + "\x11\x22\x33"), "Réponse trop longue"},
        {"nothing", Record({}, true), "Silence"},
        {"port closed before", closed, "Port fermé"},
        {"port closed during the reply", cutByClose, "Réponse incomplète"},
        {"connection refused", refused, "Connexion refusée"},
        {"connection lost", lost, "Connexion perdue"},
        {"connection lost during the reply", lostMidReply, "Réponse incomplète"},
        {"only a reply to another transaction", stray, "Mauvaise transaction"},
        {"another transaction's reply, then ours", strayThenReply, "OK"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(OutcomeText(MakeEvent(row.record, 0)), QString::fromUtf8(row.outcome));
    }
}

TEST(ExchangeTest, BytesShowTheirCrcApartAndTheCellsSayWhatHappened) {
    const ExchangeEvent ok = MakeEvent(Record(Reply(1)), 2);
    EXPECT_EQ(RequestHex(ok), "01 03 00 00 00 08 | 44 0C");
    EXPECT_TRUE(ReplyHex(ok).startsWith("01 03 10 00 01"));
    EXPECT_EQ(ReplyHex(ok).right(8), " | " + Reply(1).right(2).toHex(' ').toUpper());
    EXPECT_EQ(ExchangeCells(ok).mid(1, 5), QStringList({"Voie 2", "1", "Base", "OK", "42 ms"}));

    const ExchangeEvent exception =
        MakeEvent(Record(WithCrc(QByteArray::fromHex("018302")), true), 0);
    EXPECT_EQ(ReplyHex(exception), "01 83 02 | " + FrameCrc("\x01\x83\x02").toHex(' ').toUpper());
    EXPECT_EQ(ReplyHex(MakeEvent(Record(Reply(1).left(4), true), 0)), "01 03 10 00");
    EXPECT_TRUE(ReplyHex(MakeEvent(Record(Reply(1) + "\xAB"), 0)).endsWith(" + AB"));

    // A babbling station: a bounded part of its bytes is kept, and the rest is counted.
    const ExchangeEvent babble = MakeEvent(Record(QByteArray(3000, '\x55')), 1);
    EXPECT_EQ(babble.reply.size(), kKeptReplyBytes);
    EXPECT_TRUE(ReplyHex(babble).endsWith("… (+2744 octets)"));
    EXPECT_EQ(OutcomeText(babble), "Réponse trop longue");
    // The ring keeps thousands of events: a reply read into a large buffer is not kept with it.
    QByteArray roomy = Reply(1);
    roomy.reserve(65536);
    EXPECT_LT(MakeEvent(Record(roomy), 0).reply.capacity(), 1024);

    // Modbus TCP: the header apart, no CRC on the wire.
    ExchangeRecord tcp = Record(Reply(1));
    tcp.network.requestHeader = QByteArray::fromHex("00 2A 00 00 00 06 01");
    tcp.network.replyHeader = QByteArray::fromHex("00 2A 00 00 00 13 01");
    const ExchangeEvent overTcp = MakeEvent(tcp, 0);
    EXPECT_EQ(RequestHex(overTcp), "[00 2A 00 00 00 06 01] 03 00 00 00 08");
    EXPECT_EQ(ReplyHex(overTcp),
              "[00 2A 00 00 00 13 01] 03 10 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 0A");

    ExchangeEvent silent = MakeEvent(Record({}, true), -1);
    EXPECT_EQ(ExchangeCells(silent).mid(1, 5), QStringList({"—", "1", "Base", "Silence", "—"}));
    EXPECT_EQ(TraceLine(silent).count(u'\t'), ExchangeHeadings().size() - 1);
}

TEST(ExchangeTest, RingKeepsTheLastExchangesAndStatisticsCountPerChannel) {
    ExchangeLog log(3);
    const ExchangeRecord ok = Record(Reply(1));
    ExchangeRecord fast = ok;
    fast.lastByteMs = 30;
    QByteArray badCrc = Reply(1);
    badCrc[20] = char(badCrc[20] ^ 1);
    log.setChannel(1);
    for (const ExchangeRecord& r :
         {ok, fast, Record({}, true), Record(badCrc), Record(Reply(1).left(5), true)}) {
        log.exchanged(r);
    }
    log.setChannel(-1);
    log.exchanged(ok);  // outside any pass: kept, not counted

    EXPECT_EQ(log.size(), 3);
    std::vector<quint64> seqs;
    for (const ExchangeEvent& e : log.Since(0)) {
        seqs.push_back(e.seq);
    }
    EXPECT_EQ(seqs, (std::vector<quint64>{4, 5, 6}));
    ASSERT_EQ(log.Since(5).size(), 1u);
    EXPECT_EQ(log.Since(5).front().channel, -1);
    EXPECT_TRUE(log.Since(6).empty());

    const ChannelStats s = log.stats()[1];
    EXPECT_EQ(StatsCells(1, s), QStringList({"Voie 1", "5", "4", "1", "1", "1", "42 ms", "30 ms",
                                             "39 ms", "42 ms", TimeText(ok.time)}));
    EXPECT_EQ(log.stats()[0].requests, 0);

    // Bytes after a reply that was taken: that reply was too long. After a silence: nothing.
    log.setChannel(1);
    log.exchanged(Record({}, true));
    log.trailing("\x01");
    EXPECT_EQ(log.amendments(), 0u);
    ExchangeRecord later = ok;
    later.time += 1000;
    log.exchanged(later);
    log.trailing("\x01\x02");
    ASSERT_EQ(log.AmendedSince(0).size(), 1u);
    EXPECT_EQ(OutcomeText(log.AmendedSince(0).front()), "Réponse trop longue");
    EXPECT_EQ(log.Since(7).front().replyLength, 23);
    EXPECT_EQ(StatsCells(1, log.stats()[1]).mid(1, 5), QStringList({"7", "5", "2", "1", "2"}));
    EXPECT_EQ(log.stats()[1].lastSuccess, ok.time);
    log.setChannel(-1);

    log.Clear();
    EXPECT_TRUE(log.Since(0).empty());
    EXPECT_EQ(log.stats()[1].requests, 7);
    log.exchanged(ok);
    EXPECT_EQ(log.Since(0).size(), 1u);
    EXPECT_EQ(log.Since(0).front().seq, 9u);
    log.ResetStats();
    EXPECT_EQ(StatsCells(1, log.stats()[1]).mid(1),
              QStringList({"0", "0", "0", "0", "0", "—", "—", "—", "—", "—"}));
}

}  // namespace
}  // namespace merival

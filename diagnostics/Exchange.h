#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "serial/ExchangeObserver.h"

namespace merival {

enum class Outcome : quint8 {
    Ok,
    BadCrc,
    Incomplete,
    TooLong,
    WrongAddress,
    Exception,
    Silence,
    EchoDropped,
    PortClosed,
    ConnectionRefused,
    ConnectionLost,
    WrongTransaction,
};

// One exchange as the diagnostics keep it.
struct ExchangeEvent {
    quint64 seq = 0;
    int channel = -1;  // -1: no measurement channel was being polled
    qint64 time = 0;   // ms since the epoch (UTC)
    int port = 0;
    int address = -1;  // from the request; -1 without one
    int block = -1;
    QByteArray request;
    QByteArray reply;  // the first kKeptReplyBytes bytes received
    qsizetype replyLength = 0;
    qsizetype expectedLength = 0;
    int firstByteMs = -1;
    int lastByteMs = -1;
    Outcome outcome = Outcome::Silence;
    int exceptionCode = 0;
    bool echoDropped = false;
    // Network lines only: the MBAP headers, and the dropped frame of another transaction.
    QByteArray requestHeader;
    QByteArray replyHeader;
    QByteArray stray;
};

// A babbling station's bytes are not all kept: the ring stays small.
inline constexpr qsizetype kKeptReplyBytes = 256;

struct Verdict {
    Outcome outcome = Outcome::Silence;
    int exceptionCode = 0;
};

// The outcome of an exchange from what the transport saw. The value is decoded whatever this
// says: it only explains.
[[nodiscard]] Verdict Classify(const ExchangeRecord& record);
[[nodiscard]] ExchangeEvent MakeEvent(const ExchangeRecord& record, int channel);

[[nodiscard]] bool IsFault(Outcome outcome);
// "OK", "CRC faux", ..., "Exception 4".
[[nodiscard]] QString OutcomeText(const ExchangeEvent& event);
[[nodiscard]] QString ChannelText(int channel);
[[nodiscard]] QString BlockText(int block);
[[nodiscard]] QString TimeText(qint64 msSinceEpoch);
[[nodiscard]] QString MsText(int ms);
// Hexadecimal bytes with the CRC set apart: "01 03 00 00 00 08 | 44 0C"; on a modbus-tcp line,
// the MBAP header apart and no CRC: "[00 01 00 00 00 06 01] 03 00 00 00 08".
[[nodiscard]] QString RequestHex(const ExchangeEvent& event);
[[nodiscard]] QString ReplyHex(const ExchangeEvent& event);

// The columns of an exchange, as the window shows them and the console prints them.
[[nodiscard]] QStringList ExchangeHeadings();
[[nodiscard]] QStringList ExchangeCells(const ExchangeEvent& event);
// The cells joined by tabs, the time with its date.
[[nodiscard]] QString TraceLine(const ExchangeEvent& event);

struct ChannelStats {
    qint64 requests = 0;
    qint64 answers = 0;
    qint64 silences = 0;
    qint64 crcErrors = 0;
    qint64 otherFaults = 0;
    int lastMs = -1;
    int minMs = -1;
    int maxMs = -1;
    qint64 sumMs = 0;
    qint64 timed = 0;
    qint64 lastSuccess = 0;  // ms since the epoch; 0: never
    qint64 previousSuccess = 0;
};

void Count(ChannelStats& stats, const ExchangeEvent& event);
// An exchange counted as `before` turned out to be `after` (bytes trailed its reply).
void Recount(ChannelStats& stats, const ExchangeEvent& before, const ExchangeEvent& after);
// The exchange with these bytes heard after its reply was taken.
[[nodiscard]] ExchangeEvent WithTrailing(ExchangeEvent event, const QByteArray& bytes);

[[nodiscard]] QStringList StatsHeadings();
[[nodiscard]] QStringList StatsCells(int channel, const ChannelStats& stats);
// Rows of cells padded to their column's width, one line each.
[[nodiscard]] QString AlignedTable(const QList<QStringList>& rows);

}  // namespace merival

#pragma once

#include <QByteArray>

namespace merival {

enum class LinkFault : quint8 { None, Refused, Lost };

// What a network line adds to an exchange.
struct NetworkFacts {
    LinkFault fault = LinkFault::None;  // why the connection is down, while it is
    QByteArray requestHeader;           // MBAP header sent (unit identifier included)
    QByteArray replyHeader;             // MBAP header of the reply taken
    QByteArray stray;                   // the last frame of another transaction, dropped
};

// What the transport saw of one exchange, as raw facts; the diagnostics judge them.
struct ExchangeRecord {
    qint64 time = 0;  // request sent, ms since the epoch (UTC)
    int port = 0;
    QByteArray request;
    QByteArray reply;  // everything received, kept or not
    qsizetype expectedLength = 0;
    int firstByteMs = -1;  // from the request leaving; -1 when nothing came
    int lastByteMs = -1;
    bool echoDropped = false;
    bool timedOut = false;
    bool portClosed = false;  // the port was closed before or during the exchange
    NetworkFacts network;
};

// Told of every exchange while set on the transport; must return at once.
class ExchangeObserver {
public:
    virtual ~ExchangeObserver() = default;
    virtual void exchanged(const ExchangeRecord& record) = 0;
    // Bytes heard after the last reply was taken and before the next request: that reply
    // was longer than asked for.
    virtual void trailing(const QByteArray& bytes) = 0;
};

}  // namespace merival

#pragma once

#include <QByteArray>

#include "serial/ExchangeObserver.h"

namespace merival {

// What a network line receives, turned into the RTU bytes the transport reads, whatever the
// pieces TCP delivers it in. rtu-tcp: the bytes as they come. modbus-tcp: each MBAP frame of the
// awaited transaction becomes the RTU frame it stands for (CRC computed); a frame of another
// transaction is dropped; bytes that are not MBAP leave nothing telling where a frame would start
// again, so everything is dropped until the next discard().
class GatewayInput {
public:
    static constexpr qsizetype kMaxInput = 4096;
    static constexpr qsizetype kMbapHeader = 7;  // transaction, protocol, length, unit
    static constexpr int kMaxMbapLength = 254;   // unit + the longest PDU

    explicit GatewayInput(bool mbap) : mbap_(mbap) {}

    // The transaction of the request just sent.
    void expect(quint16 transaction) { transaction_ = transaction; }
    // `facts` learns of the reply's header and of frames dropped.
    void feed(const QByteArray& bytes, NetworkFacts& facts);
    [[nodiscard]] QByteArray take();
    [[nodiscard]] qsizetype size() const { return input_.size(); }
    void discard();
    // Frames of another transaction dropped so far.
    [[nodiscard]] qint64 strays() const { return strays_; }

private:
    void Deliver(const QByteArray& rtu);

    bool mbap_;
    quint16 transaction_ = 0;
    QByteArray raw_;    // MBAP bytes not yet a whole frame
    QByteArray input_;  // RTU bytes for the transport, at most kMaxInput
    bool lost_ = false;
    qint64 strays_ = 0;
};

}  // namespace merival

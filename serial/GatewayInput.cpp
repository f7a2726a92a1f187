#include "serial/GatewayInput.h"

#include <algorithm>

#include "instruments/Frame.h"
#include "serial/FrameLog.h"

namespace merival {
namespace {

quint16 Word(const QByteArray& bytes, qsizetype at) {
    return static_cast<quint16>((static_cast<quint8>(bytes.at(at)) << 8) |
                                static_cast<quint8>(bytes.at(at + 1)));
}

}  // namespace

// Appends copy through a view: a chunk read from the socket shares a buffer far larger than
// the few bytes it holds, and the exchange log keeps replies.
void GatewayInput::Deliver(const QByteArray& rtu) {
    const qsizetype room = std::max<qsizetype>(kMaxInput - input_.size(), 0);
    input_.append(QByteArrayView(rtu).first(std::min(room, rtu.size())));
}

void GatewayInput::feed(const QByteArray& bytes, NetworkFacts& facts) {
    if (!mbap_) {
        Deliver(bytes);
        return;
    }
    if (lost_) {
        return;
    }
    // Whole frames leave raw_ at once, so it never holds more than one partial frame.
    raw_.append(QByteArrayView(bytes));
    qsizetype at = 0;
    while (raw_.size() - at >= kMbapHeader) {
        const int length = Word(raw_, at + 4);
        if (Word(raw_, at + 2) != 0 || length < 2 || length > kMaxMbapLength) {
            qCDebug(lcFrames) << "not an MBAP frame," << raw_.size() - at << "byte(s) dropped";
            facts.stray = raw_.mid(at, kMbapHeader);
            raw_.clear();
            lost_ = true;
            return;
        }
        if (raw_.size() - at < 6 + length) {
            break;
        }
        const QByteArray frame = raw_.mid(at, 6 + length);
        at += frame.size();
        if (Word(frame, 0) != transaction_) {
            ++strays_;
            facts.stray = frame;
            qCDebug(lcFrames) << "reply to transaction" << Word(frame, 0) << "dropped";
            continue;
        }
        facts.replyHeader = frame.left(kMbapHeader);
        QByteArray rtu = frame.mid(6);
        rtu.append(FrameCrc(rtu));
        Deliver(rtu);
    }
    raw_.remove(0, at);
}

QByteArray GatewayInput::take() {
    QByteArray bytes;
    bytes.swap(input_);
    return bytes;
}

void GatewayInput::discard() {
    raw_.clear();
    input_.clear();
    lost_ = false;
}

}  // namespace merival

// What a gateway sends on a network line, cut into RTU frames. modbus-tcp: a frame is taken
// only when its MBAP header holds together (protocol 0, a length that fits) and it answers the
// transaction awaited; rtu-tcp: the bytes pass as they are. Either way, the pieces TCP delivers
// the bytes in change nothing.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "instruments/Frame.h"
#include "serial/GatewayInput.h"

using namespace merival;

namespace {

quint16 Word(const QByteArray& b, qsizetype at) {
    return static_cast<quint16>((static_cast<quint8>(b.at(at)) << 8) |
                                static_cast<quint8>(b.at(at + 1)));
}

// The RTU bytes the stream should give, frame by frame, straight from the MBAP layout.
QByteArray Expected(const QByteArray& stream, quint16 transaction, qint64* strays) {
    QByteArray out;
    for (qsizetype at = 0; stream.size() - at >= GatewayInput::kMbapHeader;) {
        const int length = Word(stream, at + 4);
        if (Word(stream, at + 2) != 0 || length < 2 || length > GatewayInput::kMaxMbapLength ||
            stream.size() - at < 6 + length) {
            break;
        }
        if (Word(stream, at) == transaction) {
            QByteArray rtu = stream.mid(at + 6, length);
            rtu.append(FrameCrc(rtu));
            FUZZ_CHECK(Crc16Modbus(rtu) == 0, "an RTU frame whose CRC does not close it");
            out.append(rtu);
        } else {
            ++*strays;
        }
        at += 6 + length;
    }
    return out.left(GatewayInput::kMaxInput);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // First byte: the mode and the awaited transaction's low byte; second: how the pieces fall.
    const bool mbap = (data[0] & 1) != 0;
    const quint16 transaction = static_cast<quint16>(data[0] >> 1);
    quint32 cuts = data[1] * 2654435761u + 1;
    const QByteArray stream(reinterpret_cast<const char*>(data + 2),
                            static_cast<qsizetype>(size - 2));

    GatewayInput whole(mbap);
    whole.expect(transaction);
    NetworkFacts wholeFacts;
    whole.feed(stream, wholeFacts);
    FUZZ_CHECK(whole.size() <= GatewayInput::kMaxInput, "more input kept than the bound");

    GatewayInput pieces(mbap);
    pieces.expect(transaction);
    NetworkFacts pieceFacts;
    for (qsizetype at = 0; at < stream.size();) {
        cuts = cuts * 1103515245u + 12345u;
        const qsizetype n = 1 + static_cast<qsizetype>((cuts >> 16) % 300);
        pieces.feed(stream.mid(at, n), pieceFacts);
        at += n;
    }
    const QByteArray got = whole.take();
    FUZZ_CHECK(pieces.take() == got, "the pieces change the frames");
    FUZZ_CHECK(pieces.strays() == whole.strays(), "the pieces change the frames dropped");
    FUZZ_CHECK(
        pieceFacts.replyHeader == wholeFacts.replyHeader && pieceFacts.stray == wholeFacts.stray,
        "the pieces change what the diagnostics see");

    if (!mbap) {
        FUZZ_CHECK(got == stream.left(GatewayInput::kMaxInput), "rtu-tcp bytes changed");
        return 0;
    }
    qint64 strays = 0;
    FUZZ_CHECK(got == Expected(stream, transaction, &strays),
               "a frame taken that the MBAP layout does not hold, or one lost");
    FUZZ_CHECK(strays == whole.strays(), "frames of another transaction miscounted");
    FUZZ_CHECK(wholeFacts.replyHeader.isEmpty() || Word(wholeFacts.replyHeader, 0) == transaction,
               "the reply header of another transaction");

    // After a discard the stream starts again at a frame boundary.
    whole.discard();
    whole.feed(stream, wholeFacts);
    FUZZ_CHECK(whole.take() == got, "a discard does not start the stream again");
    return 0;
}

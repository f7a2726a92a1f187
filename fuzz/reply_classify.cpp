// Classifying the bytes a station sent: every outcome is explained by the bytes, and the
// texts made of them stay on one line.
#include <cstddef>
#include <cstdint>

#include "diagnostics/Exchange.h"
#include "fuzz/FuzzCheck.h"
#include "instruments/Frame.h"

using namespace merival;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // First byte: flags; second: how many of the rest form the request (a real one is 8).
    const quint8 flags = data[0];
    const std::size_t requestLength = std::min<std::size_t>(data[1] % 12, size - 2);
    ExchangeRecord r;
    r.request =
        QByteArray(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(requestLength));
    r.reply = QByteArray(reinterpret_cast<const char*>(data + 2 + requestLength),
                         static_cast<qsizetype>(size - 2 - requestLength));
    r.expectedLength = (flags & 1) != 0 ? 21 : 5 + (flags >> 4);
    r.echoDropped = (flags & 2) != 0;
    r.portClosed = (flags & 4) != 0;
    r.timedOut = (flags & 8) != 0;

    const ExchangeEvent e = MakeEvent(r, flags % 5 - 1);
    switch (e.outcome) {
        case Outcome::Ok:
        case Outcome::EchoDropped:
            FUZZ_CHECK(r.reply.size() == r.expectedLength, "OK with the wrong length");
            FUZZ_CHECK(FrameCrc(r.reply.left(r.expectedLength - 2)) == r.reply.right(2),
                       "OK with a wrong CRC");
            FUZZ_CHECK(!r.request.isEmpty() && r.reply.at(0) == r.request.at(0),
                       "OK from another address");
            break;
        case Outcome::Silence:
        case Outcome::PortClosed:
            FUZZ_CHECK(r.reply.isEmpty(), "silence with bytes received");
            break;
        case Outcome::Incomplete:
            FUZZ_CHECK(r.reply.size() < r.expectedLength, "incomplete but long enough");
            break;
        case Outcome::TooLong:
            FUZZ_CHECK(r.reply.size() > r.expectedLength, "too long but not longer");
            break;
        case Outcome::Exception:
            FUZZ_CHECK(e.exceptionCode >= 0 && e.exceptionCode <= 255, "exception code");
            break;
        case Outcome::BadCrc:
        case Outcome::WrongAddress:
        case Outcome::ConnectionRefused:
        case Outcome::ConnectionLost:
        case Outcome::WrongTransaction:
            break;
    }
    FUZZ_CHECK(e.reply.size() <= kKeptReplyBytes, "more reply bytes kept than the bound");
    FUZZ_CHECK(e.replyLength == r.reply.size(), "reply length lost");

    const QString line = TraceLine(WithTrailing(e, r.reply.left(3)));
    FUZZ_CHECK(!line.contains(u'\n') && !line.contains(u'\r'), "trace line split");
    for (const QString& hex : {RequestHex(e), ReplyHex(e)}) {
        for (const QChar c : hex) {
            FUZZ_CHECK(!c.isLetter() || (c >= u'A' && c <= u'F') || c == u'o' || c == u'c' ||
                           c == u't' || c == u'e' || c == u's',
                       "hex text holds a stray letter");
        }
    }
    return 0;
}

// A station's reply decoded by the routine of a type index, then written as the channel's
// value text; two polls in a row share the results, as channels do in one pass.
//   byte 0: low nibble the first type index, high nibble the second;
//   byte 1: length of the first reply; then the first reply; the rest is the second reply.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "instruments/Polling.h"
#include "measure/ValueFormat.h"

using namespace merival;

namespace {

class FixedReply : public RegisterReader {
public:
    explicit FixedReply(QByteArray reply) : reply_(std::move(reply)) {}
    ExchangeResult ExchangeReadRegisters(double, quint16) override { return {true, reply_}; }

private:
    QByteArray reply_;
};

void PollAndFormat(int typeIndex, const QByteArray& reply, MeasurementResults& results,
                   QChar separator) {
    const PollRoutine poll = PollRoutineForType(typeIndex);
    FUZZ_CHECK(poll != nullptr, "no routine for a listed type");
    FixedReply reader(reply);
    FUZZ_CHECK(poll(reader, results, 1, 0), "a delivered reply reported as failed");

    const QString text = FormatChannelValue(typeIndex, results, separator);
    FUZZ_CHECK(!text.isEmpty(), "empty value text");
    // Flow shows three lines (rate, daily, cumulated), dual resistivity two, the others one.
    const qsizetype breaks = text.count(QStringLiteral("\r\n"));
    const qsizetype expected = typeIndex == 5 ? 2 : typeIndex == 13 ? 1 : 0;
    FUZZ_CHECK(breaks == expected, "wrong number of lines");
    FUZZ_CHECK(!text.contains(QStringLiteral("nan"), Qt::CaseInsensitive) &&
                   !text.contains(QStringLiteral("inf"), Qt::CaseInsensitive),
               "a non-finite number reached the text");
    // The oxygen flag is replaced by its bit 0 while formatting.
    FUZZ_CHECK(results.OxygenUnitFlag == 0 || results.OxygenUnitFlag == 1 || typeIndex != 4,
               "oxygen unit flag not reduced");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const char*>(data);
    const qsizetype rest = static_cast<qsizetype>(size) - 2;
    const qsizetype firstLength = std::min<qsizetype>(data[1], rest);
    const QByteArray first(bytes + 2, firstLength);
    const QByteArray second(bytes + 2 + firstLength, rest - firstLength);

    MeasurementResults results;
    PollAndFormat(data[0] & 0x0F, first, results, u',');
    PollAndFormat(data[0] >> 4, second, results, u'.');
    return 0;
}

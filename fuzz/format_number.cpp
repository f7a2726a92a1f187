// The number-format language with any format text and any value.
//   bytes 0..7: the value (a double, as stored in memory); byte 8: bit 0 picks the decimal
//   separator; the rest: the format text in UTF-8.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <QRegularExpression>

#include "fuzz/FuzzCheck.h"
#include "measure/ValueFormat.h"

using namespace merival;

namespace {

bool HasLetter(const QString& text) {
    for (const QChar c : text) {
        if (c.isLetter()) {
            return true;
        }
    }
    return false;
}

// For formats made only of placeholders, one point and a percent sign, the text must read back
// as the value rounded to the fraction places, whatever the placeholders.
void CheckReadsBack(double value, const QString& format, QChar separator, const QString& out) {
    // At least one place or the point: a format without either shows no number at all.
    static const QRegularExpression plain(
        QRegularExpression::anchoredPattern(QStringLiteral("%?([#0]+|[#0]*\\.[#0]*)%?")));
    if (!plain.match(format).hasMatch() || !std::isfinite(value)) {
        return;
    }
    const bool percent = format.contains(u'%');
    const qsizetype point = format.indexOf(u'.');
    const int places =
        point < 0 ? 0
                  : static_cast<int>(format.size() - point - 1 - (format.endsWith(u'%') ? 1 : 0));
    const double scaled = percent ? value * 100 : value;
    if (places > 10 || std::fabs(scaled) >= 1e12) {
        return;
    }
    QString number = out;
    number.remove(u'%');
    number.replace(separator, u'.');
    if (number.endsWith(u'.')) {
        number.chop(1);
    }
    if (number.isEmpty()) {
        number = QStringLiteral("0");
    }
    bool ok = false;
    const double read = number.toDouble(&ok);
    FUZZ_CHECK(ok, "the text of a plain format is not a number");
    const double step = std::pow(10.0, -places);
    FUZZ_CHECK(std::fabs(read - scaled) <= step / 2 * (1 + 1e-9) + std::fabs(scaled) * 1e-14,
               "the text is not the value rounded to the fraction places");

    // '0' places always write a digit.
    const qsizetype integerEnd = point < 0 ? format.size() : point;
    const qsizetype zeros = format.left(integerEnd).count(u'0');
    const qsizetype sep = out.indexOf(separator);
    qsizetype digits = 0;
    for (const QChar c : out.left(sep < 0 ? out.size() : sep)) {
        digits += c.isDigit() ? 1 : 0;
    }
    FUZZ_CHECK(digits >= zeros, "a '0' place wrote no digit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) {
        return 0;
    }
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    const QChar separator = (data[8] & 1) ? u'.' : u',';
    const QString format = QString::fromUtf8(reinterpret_cast<const char*>(data) + 9,
                                             static_cast<qsizetype>(size) - 9);

    const QString out = FormatNumber(value, format, separator);
    // Numbers are written with digits, a sign and the separator only: no "nan", "inf" or "e+".
    if (!HasLetter(format)) {
        FUZZ_CHECK(!HasLetter(out), "a letter in the text of a format without letters");
    }
    CheckReadsBack(value, format, separator, out);
    return 0;
}

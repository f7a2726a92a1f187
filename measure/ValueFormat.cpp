#include "measure/ValueFormat.h"

#include <charconv>
#include <cmath>
#include <span>
#include <string>
#include <string_view>

namespace merival {
namespace {

// A magnitude as decimal digits: value = 0.d1 d2 d3 ... x 10^point, digits without leading
// zeros; no digits means zero.
struct DecimalDigits {
    std::string digits;
    long long point = 0;
};

// The shortest decimal text that reads back as the same double: the decimal number the
// decoders meant (1005 / 1000 is 1.005 here, not 1.00499999...).
DecimalDigits ShortestDecimal(double magnitude) {
    DecimalDigits d;
    if (!(magnitude > 0) || !std::isfinite(magnitude)) {
        return d;
    }
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
    if (ec != std::errc()) {
        return d;
    }
    const std::string_view text(buffer, static_cast<size_t>(end - buffer));
    const size_t e = text.find('e');
    for (const char c : text.substr(0, e)) {
        if (c != '.') {
            d.digits.push_back(c);
        }
    }
    std::string_view exponent = text.substr(e + 1);
    if (!exponent.empty() && exponent.front() == '+') {
        exponent.remove_prefix(1);
    }
    int exp = 0;
    std::from_chars(exponent.data(), exponent.data() + exponent.size(), exp);
    d.point = exp + 1;
    return d;
}

// round(magnitude x 10^places), halves away from zero, as digits without leading zeros
// (empty for zero).
std::string RoundedUnits(const DecimalDigits& d, int places) {
    const long long keep = d.point + places;
    if (d.digits.empty() || keep < 0) {
        return {};
    }
    const auto length = static_cast<long long>(d.digits.size());
    if (keep >= length) {
        return d.digits + std::string(static_cast<size_t>(keep - length), '0');
    }
    std::string kept = d.digits.substr(0, static_cast<size_t>(keep));
    if (d.digits[static_cast<size_t>(keep)] >= '5') {
        auto i = static_cast<long long>(kept.size()) - 1;
        while (i >= 0 && kept[static_cast<size_t>(i)] == '9') {
            kept[static_cast<size_t>(i)] = '0';
            --i;
        }
        if (i < 0) {
            kept.insert(kept.begin(), '1');
        } else {
            ++kept[static_cast<size_t>(i)];
        }
    }
    return kept;
}

bool IsPlaceholder(QChar c) {
    return c == u'0' || c == u'#';
}

}  // namespace

QString FormatNumber(double value, const QString& format, QChar decimalSeparator) {
    const qsizetype pointAt = format.indexOf(u'.');
    const qsizetype integerEnd = pointAt < 0 ? format.size() : pointAt;

    int integerPlaces = 0;
    int fractionPlaces = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (IsPlaceholder(format[i])) {
            ++(i < integerEnd ? integerPlaces : fractionPlaces);
        }
    }

    DecimalDigits magnitude = ShortestDecimal(std::isfinite(value) ? std::fabs(value) : 0.0);
    if (format.contains(u'%') && !magnitude.digits.empty()) {
        magnitude.point += 2;
    }
    const std::string units = RoundedUnits(magnitude, fractionPlaces);
    const bool negative = std::isfinite(value) && std::signbit(value) && !units.empty();

    const auto unitCount = static_cast<qsizetype>(units.size());
    const QString integerDigits =
        unitCount > fractionPlaces ? QString::fromLatin1(units.data(), unitCount - fractionPlaces)
                                   : QString();
    const QString fractionDigits =
        QString::fromLatin1(units.data() + std::max<qsizetype>(0, unitCount - fractionPlaces),
                            std::min<qsizetype>(unitCount, fractionPlaces))
            .rightJustified(fractionPlaces, u'0');

    QString out;
    bool signPending = negative;
    auto writeNumberPart = [&](const QString& part) {
        if (part.isEmpty()) {
            return;
        }
        if (signPending) {
            out += u'-';
            signPending = false;
        }
        out += part;
    };

    int integerSeen = 0;
    int fractionSeen = 0;
    const qsizetype digitCount = integerDigits.size();
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (i < integerEnd && IsPlaceholder(c)) {
            const int fromLeft = integerSeen++;
            const int fromRight = integerPlaces - 1 - fromLeft;
            QString part;
            if (fromLeft == 0 && digitCount > integerPlaces) {
                part += integerDigits.left(digitCount - integerPlaces);
            }
            if (fromRight < digitCount) {
                part += integerDigits[digitCount - 1 - fromRight];
            } else if (c == u'0') {
                part += u'0';
            }
            writeNumberPart(part);
        } else if (i == pointAt) {
            if (integerPlaces == 0) {
                writeNumberPart(integerDigits);
            }
            writeNumberPart(QString(decimalSeparator));
        } else if (i > pointAt && pointAt >= 0 && IsPlaceholder(c)) {
            // A '#' drops trailing zeros of the fraction; a '0' always writes its digit.
            const int index = fractionSeen++;
            const bool trailingZero =
                fractionDigits.mid(index).count(u'0') == fractionDigits.size() - index;
            if (c == u'0' || !trailingZero) {
                writeNumberPart(QString(fractionDigits[index]));
            }
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

struct RangeLine {
    int range;
    int divisor;
    const char16_t* format;
};

const QString kPlaceholderFormat = QStringLiteral(" ##### __  ");

constexpr RangeLine kResistivity[] = {
    {1, 10, u"##0.0 Ohm"},  {2, 1000, u"0.000 kOhm"}, {3, 100, u"#0.00 kOhm"},
    {4, 10, u"##0.0 kOhm"}, {5, 1000, u"0.000 MOhm"}, {6, 100, u"#0.00 MOhm"},
    {7, 10, u"##0.0 MOhm"},
};
constexpr RangeLine kConductivity[] = {
    {1, 1000, u" 0.000  µS"}, {2, 100, u" #0.00  µS"}, {3, 10, u" ##0.0  µS"},
    {4, 1000, u" 0.000  mS"}, {5, 100, u" #0.00  mS"},
};
constexpr RangeLine kTorConductivity[] = {
    {1, 1000, u" 0.000  mS"},
    {2, 100, u" #0.00  mS"},
    {3, 10, u" ##0.0  mS"},
    {4, 1, u" 0  mS"},
};
constexpr RangeLine kOxygen[] = {
    {0, 1000, u"    000.0  %   "},
    {1, 100, u"    #0.00  mg/l"},
};
constexpr RangeLine kFlow[] = {
    {0, 1000, u"  0.000  m3/h"}, {10, 100, u"  #0.00  m3/h"}, {20, 10, u"  ##0.0  m3/h"},
    {30, 1, u"   ###0  m3/h"},   {31, 1, u"   ###0  m3/h"},   {40, 1000, u"  0.000  m3/s"},
    {50, 100, u"  #0.00  m3/s"},
};
const QString kFlowPlaceholderFormat = QStringLiteral("  ##### __  ");
// Table U: the unit text follows the format directly.
constexpr RangeLine kUnitRanges[] = {
    {1, 1000, u" 0.000  "},
    {2, 100, u" #0.00  "},
    {3, 10, u" ##0.0  "},
    {4, 1, u" ####0  "},
};

const QString kTemperatureFormat = QStringLiteral("###0.0  °C");
const QString kResistivityTemperatureFormat = QStringLiteral("###0.0 °C");
const QString kVolumeFormat = QStringLiteral(" #######0   m3  ");
const QString kLineBreak = QStringLiteral("\r\n");

// Scales the value field by the range's line and writes it; a range without a line writes
// the place-holder and leaves 0 in the field.
QString ScaledValue(std::span<const RangeLine> table, int range, double& value, QChar separator,
                    const QString& unit = {}, const QString& placeholder = kPlaceholderFormat) {
    for (const RangeLine& line : table) {
        if (line.range == range) {
            value /= line.divisor;
            return FormatNumber(value, QString::fromUtf16(line.format) + unit, separator);
        }
    }
    value = 0;
    return FormatNumber(value, placeholder, separator);
}

}  // namespace

QString FormatChannelValue(int typeIndex, MeasurementResults& results, QChar decimalSeparator) {
    const QChar sep = decimalSeparator;
    const QString temperature = FormatNumber(results.TemperatureValue, kTemperatureFormat, sep);
    const QString fiveSpaces = QStringLiteral("     ");
    const QString twoSpaces = QStringLiteral("  ");

    switch (typeIndex) {
        case 0:
            return ScaledValue(kResistivity, results.ResistivityRange, results.ResistivityValue,
                               sep) +
                   u' ' +
                   FormatNumber(results.TemperatureValue, kResistivityTemperatureFormat, sep);
        case 13: {
            const QString first =
                ScaledValue(kResistivity, results.ResistivityRange, results.ResistivityValue, sep);
            const double second = results.SecondResistivityValue / 100;
            return first + kLineBreak + FormatNumber(second, QStringLiteral("#0.00 MOhm"), sep);
        }
        case 1:
            return ScaledValue(kConductivity, results.ConductivityRange, results.ConductivityValue,
                               sep) +
                   fiveSpaces + temperature;
        case 7:
            return ScaledValue(kTorConductivity, results.ConductivityRange,
                               results.ConductivityValue, sep) +
                   fiveSpaces + temperature;
        case 8:
        case 9:
        case 10:
        case 11:
            results.ConductivityValue /= 1000;
            return FormatNumber(results.ConductivityValue, QStringLiteral(" ##0.0  %"), sep) +
                   fiveSpaces + temperature;
        case 2:
            return FormatNumber(results.PhValue, QStringLiteral("###0.00 pH   "), sep) + twoSpaces +
                   temperature;
        case 3:
            return FormatNumber(results.RedoxValue, QStringLiteral("###0 mV   "), sep) + twoSpaces +
                   temperature;
        case 6:
            return FormatNumber(results.ChlorineValue, QStringLiteral("###0.000 mg/l "), sep) +
                   twoSpaces + temperature;
        case 4:
            results.OxygenUnitFlag = static_cast<qint16>(results.OxygenUnitFlag & 1);
            return ScaledValue(kOxygen, results.OxygenUnitFlag, results.OxygenValue, sep) +
                   QStringLiteral("   ") + temperature;
        case 5:
            return ScaledValue(kFlow, results.FlowRange, results.FlowRate, sep, {},
                               kFlowPlaceholderFormat) +
                   QStringLiteral("    ") + temperature + kLineBreak +
                   FormatNumber(results.DailyVolume, kVolumeFormat, sep) + kLineBreak +
                   FormatNumber(results.CumulatedVolume, kVolumeFormat, sep);
        case 12:
            return ScaledValue(kUnitRanges, results.TurbidityRange, results.TurbidityValue, sep,
                               results.TurbidityUnit) +
                   fiveSpaces + temperature;
        case 14:
            return ScaledValue(kUnitRanges, results.Model738Range, results.Model738Value, sep,
                               results.Model738Unit) +
                   fiveSpaces + temperature;
        case 15:
            return ScaledValue(kUnitRanges, results.Model562Range, results.Model562Value, sep,
                               results.Model562Unit) +
                   fiveSpaces + temperature;
        default:
            return {};
    }
}

}  // namespace merival

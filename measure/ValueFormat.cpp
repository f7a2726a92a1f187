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

// What a format writes for a value before laying it out: round(|value| x 10^places), the '%'
// applied, as digits without leading zeros.
struct Rounded {
    qsizetype pointAt = -1;
    qsizetype integerEnd = 0;
    int integerPlaces = 0;
    int fractionPlaces = 0;
    std::string units;
    bool negative = false;
};

Rounded RoundFor(double value, const QString& format) {
    Rounded r;
    r.pointAt = format.indexOf(u'.');
    r.integerEnd = r.pointAt < 0 ? format.size() : r.pointAt;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (IsPlaceholder(format[i])) {
            ++(i < r.integerEnd ? r.integerPlaces : r.fractionPlaces);
        }
    }
    DecimalDigits magnitude = ShortestDecimal(std::isfinite(value) ? std::fabs(value) : 0.0);
    if (format.contains(u'%') && !magnitude.digits.empty()) {
        magnitude.point += 2;
    }
    r.units = RoundedUnits(magnitude, r.fractionPlaces);
    r.negative = std::isfinite(value) && std::signbit(value) && !r.units.empty();
    return r;
}

}  // namespace

double ShownDecimal::Scaled(long long multiplier, int shift) const {
    if (digits.empty()) {
        return 0;
    }
    // Small enough to multiply exactly as an integer: every decoded value is.
    const bool exact = digits.size() <= 15 && multiplier > 0 && multiplier <= 1000000;
    std::string text = exact ? std::to_string(std::stoll(digits) * multiplier) : digits;
    text += 'e' + std::to_string(exponent + shift);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (!exact) {
        value *= static_cast<double>(multiplier);
    }
    return negative ? -value : value;
}

ShownNumber ShownByFormat(double value, const QString& format) {
    const Rounded r = RoundFor(value, format);
    ShownNumber shown;
    // Only '#' places and a value that rounds to zero: the text has no digit at all.
    if (r.units.empty() && !format.contains(u'0')) {
        return shown;
    }
    shown.number = ShownDecimal{r.units, -r.fractionPlaces, r.negative};
    qsizetype last = format.size() - 1;
    while (last >= 0 && !IsPlaceholder(format[last])) {
        --last;
    }
    shown.unit = format.mid(last + 1).trimmed();
    return shown;
}

QString FormatNumber(double value, const QString& format, QChar decimalSeparator) {
    const Rounded r = RoundFor(value, format);
    const qsizetype pointAt = r.pointAt;
    const qsizetype integerEnd = r.integerEnd;
    const int integerPlaces = r.integerPlaces;
    const int fractionPlaces = r.fractionPlaces;
    const std::string& units = r.units;
    const bool negative = r.negative;

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

// Scales the value field by the range's line and gives its format; a range without a line
// gives the place-holder and leaves 0 in the field.
QString ScaledFormat(std::span<const RangeLine> table, int range, double& value,
                     const QString& unit = {}, const QString& placeholder = kPlaceholderFormat) {
    for (const RangeLine& line : table) {
        if (line.range == range) {
            value /= line.divisor;
            return QString::fromUtf16(line.format) + unit;
        }
    }
    value = 0;
    return placeholder;
}

// Writes the parts of a value text and keeps the numbers they show.
class ValueTextBuilder {
public:
    explicit ValueTextBuilder(QChar separator) : separator_(separator) {}

    ValueTextBuilder& Value(double value, const QString& format) {
        out_.text += FormatNumber(value, format, separator_);
        out_.values.append(ShownByFormat(value, format));
        return *this;
    }
    ValueTextBuilder& Temperature(double value, const QString& format = kTemperatureFormat) {
        out_.text += FormatNumber(value, format, separator_);
        out_.temperature = ShownByFormat(value, format).number;
        return *this;
    }
    ValueTextBuilder& Literal(const QString& text) {
        out_.text += text;
        return *this;
    }
    ChannelValueText Take() { return std::move(out_); }

private:
    QChar separator_;
    ChannelValueText out_;
};

}  // namespace

QString FormatChannelValue(int typeIndex, MeasurementResults& results, QChar decimalSeparator) {
    return FormatChannelValueText(typeIndex, results, decimalSeparator).text;
}

ChannelValueText FormatChannelValueText(int typeIndex, MeasurementResults& results,
                                        QChar decimalSeparator) {
    ValueTextBuilder b(decimalSeparator);
    const double t = results.TemperatureValue;
    const QString fiveSpaces = QStringLiteral("     ");
    const QString twoSpaces = QStringLiteral("  ");
    MeasurementResults& r = results;

    switch (typeIndex) {
        case 0: {
            const QString f = ScaledFormat(kResistivity, r.ResistivityRange, r.ResistivityValue);
            b.Value(r.ResistivityValue, f).Literal(QStringLiteral(" "));
            b.Temperature(t, kResistivityTemperatureFormat);
            break;
        }
        case 13: {
            const QString f = ScaledFormat(kResistivity, r.ResistivityRange, r.ResistivityValue);
            b.Value(r.ResistivityValue, f).Literal(kLineBreak);
            b.Value(r.SecondResistivityValue / 100, QStringLiteral("#0.00 MOhm"));
            break;
        }
        case 1:
        case 7: {
            const auto table = typeIndex == 1 ? std::span<const RangeLine>(kConductivity)
                                              : std::span<const RangeLine>(kTorConductivity);
            const QString f = ScaledFormat(table, r.ConductivityRange, r.ConductivityValue);
            b.Value(r.ConductivityValue, f).Literal(fiveSpaces).Temperature(t);
            break;
        }
        case 8:
        case 9:
        case 10:
        case 11:
            r.ConductivityValue /= 1000;
            b.Value(r.ConductivityValue, QStringLiteral(" ##0.0  %"));
            b.Literal(fiveSpaces).Temperature(t);
            break;
        case 2:
            b.Value(r.PhValue, QStringLiteral("###0.00 pH   ")).Literal(twoSpaces).Temperature(t);
            break;
        case 3:
            b.Value(r.RedoxValue, QStringLiteral("###0 mV   ")).Literal(twoSpaces).Temperature(t);
            break;
        case 6:
            b.Value(r.ChlorineValue, QStringLiteral("###0.000 mg/l "));
            b.Literal(twoSpaces).Temperature(t);
            break;
        case 4: {
            r.OxygenUnitFlag = static_cast<qint16>(r.OxygenUnitFlag & 1);
            const QString f = ScaledFormat(kOxygen, r.OxygenUnitFlag, r.OxygenValue);
            b.Value(r.OxygenValue, f).Literal(QStringLiteral("   ")).Temperature(t);
            break;
        }
        case 5: {
            const QString f =
                ScaledFormat(kFlow, r.FlowRange, r.FlowRate, {}, kFlowPlaceholderFormat);
            b.Value(r.FlowRate, f).Literal(QStringLiteral("    ")).Temperature(t);
            b.Literal(kLineBreak).Value(r.DailyVolume, kVolumeFormat);
            b.Literal(kLineBreak).Value(r.CumulatedVolume, kVolumeFormat);
            break;
        }
        case 12:
        case 14:
        case 15: {
            double& value = typeIndex == 12   ? r.TurbidityValue
                            : typeIndex == 14 ? r.Model738Value
                                              : r.Model562Value;
            const int range = typeIndex == 12   ? r.TurbidityRange
                              : typeIndex == 14 ? r.Model738Range
                                                : r.Model562Range;
            const QString& unit = typeIndex == 12   ? r.TurbidityUnit
                                  : typeIndex == 14 ? r.Model738Unit
                                                    : r.Model562Unit;
            const QString f = ScaledFormat(kUnitRanges, range, value, unit);
            b.Value(value, f).Literal(fiveSpaces).Temperature(t);
            break;
        }
        default:
            break;
    }
    return b.Take();
}

}  // namespace merival

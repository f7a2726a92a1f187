#include <cfloat>
#include <charconv>
#include <cmath>

#include "config/AppInfo.h"

namespace merival {
namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool IsDecimalDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

int DigitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    int d = -1;
    if (u >= u'0' && u <= u'9') {
        d = u - u'0';
    } else if (u >= u'a' && u <= u'f') {
        d = u - u'a' + 10;
    } else if (u >= u'A' && u <= u'F') {
        d = u - u'A' + 10;
    }
    return d < base ? d : -1;
}

// Callers turn the value into station addresses and integers; an infinity would make
// those conversions undefined, so overflow stops at the largest finite value.
double Finite(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    if (std::isinf(v)) {
        return v > 0 ? DBL_MAX : -DBL_MAX;
    }
    return v + 0.0;  // no negative zero
}

// "&H" and "&O" literals take the sign of the smallest integer they fit, as the classic
// BASIC reading does: &HFFFF is -1 (16 bits), &HFFFFFFFF is -1 (32 bits), &H10000 is 65536.
double BasedLiteral(const QString& s, int start, int base) {
    double v = 0;
    for (int i = start; i < s.size(); ++i) {
        const int d = DigitValue(s.at(i), base);
        if (d < 0) {
            break;
        }
        v = v * base + d;
    }
    if (v <= 0xFFFF) {
        return v >= 0x8000 ? v - 65536.0 : v;
    }
    if (v <= 4294967295.0) {
        return v >= 2147483648.0 ? v - 4294967296.0 : v;
    }
    return v;
}

// Locale-independent (the point of this rule is always '.'). A value out of range is an
// overflow or an underflow to 0, as the decimal magnitude says.
double ToDouble(const QByteArray& number) {
    const char* first = number.constData();
    const char* last = first + number.size();
    const bool negative = first != last && *first == '-';
    if (first != last && (*first == '-' || *first == '+')) {
        ++first;
    }
    double v = 0;
    if (std::from_chars(first, last, v).ec != std::errc::result_out_of_range) {
        return negative ? -v : v;
    }
    const QByteArray digits(first, last - first);
    const qsizetype e = digits.indexOf('e');
    const QByteArray mantissa = e < 0 ? digits : digits.left(e);
    const qsizetype point = mantissa.contains('.') ? mantissa.indexOf('.') : mantissa.size();
    qsizetype significant = 0;
    while (significant < mantissa.size() &&
           (mantissa.at(significant) == '0' || mantissa.at(significant) == '.')) {
        ++significant;
    }
    long long magnitude = significant < point ? point - significant - 1 : point - significant;
    long long exponent = 0;
    if (e >= 0) {
        qsizetype i = e + 1;
        const bool down = i < digits.size() && digits.at(i) == '-';
        if (i < digits.size() && (digits.at(i) == '-' || digits.at(i) == '+')) {
            ++i;
        }
        for (; i < digits.size() && exponent < 1000000000; ++i) {
            exponent = exponent * 10 + (digits.at(i) - '0');
        }
        exponent = down ? -exponent : exponent;
    }
    v = magnitude + exponent > 0 ? HUGE_VAL : 0.0;
    return negative ? -v : v;
}

}  // namespace

NumericPrefixRead ReadNumericPrefix(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (QChar c : text) {
        if (!IsBlank(c)) {
            s.append(c);
        }
    }
    const int n = static_cast<int>(s.size());

    if (n >= 2 && s.at(0) == u'&') {
        const QChar kind = s.at(1).toUpper();
        const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base == 0 || n < 3 || DigitValue(s.at(2), base) < 0) {
            return {};
        }
        return {Finite(BasedLiteral(s, 2, base)), true};
    }

    QByteArray number;
    int i = 0;
    if (i < n && (s.at(i) == u'+' || s.at(i) == u'-')) {
        number.append(static_cast<char>(s.at(i).unicode()));
        ++i;
    }
    bool digits = false;
    while (i < n && IsDecimalDigit(s.at(i))) {
        number.append(static_cast<char>(s.at(i++).unicode()));
        digits = true;
    }
    if (i < n && s.at(i) == u'.') {
        number.append('.');
        ++i;
        while (i < n && IsDecimalDigit(s.at(i))) {
            number.append(static_cast<char>(s.at(i++).unicode()));
            digits = true;
        }
    }
    if (!digits) {
        return {};
    }
    if (i < n) {
        const QChar e = s.at(i).toUpper();
        if (e == u'E' || e == u'D') {
            int j = i + 1;
            QByteArray exponent = "e";
            if (j < n && (s.at(j) == u'+' || s.at(j) == u'-')) {
                exponent.append(static_cast<char>(s.at(j++).unicode()));
            }
            // An exponent letter without digits is an unfit character: the mantissa stands.
            if (j < n && IsDecimalDigit(s.at(j))) {
                while (j < n && IsDecimalDigit(s.at(j))) {
                    exponent.append(static_cast<char>(s.at(j++).unicode()));
                }
                number.append(exponent);
            }
        }
    }
    return {Finite(ToDouble(number)), true};
}

double NumericPrefix(const QString& text) {
    return ReadNumericPrefix(text).value;
}

std::optional<qint16> NumericToInt16(const QString& item) {
    const NumericPrefixRead read = ReadNumericPrefix(item);
    if (!read.digits) {
        return std::nullopt;
    }
    // Half-way values go to the even neighbour, as the classic integer conversion does.
    const double rounded = std::nearbyint(read.value);
    if (rounded < -32768.0 || rounded > 32767.0) {
        return std::nullopt;
    }
    return static_cast<qint16>(rounded);
}

}  // namespace merival

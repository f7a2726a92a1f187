#pragma once

#include <QChar>
#include <QList>
#include <QString>
#include <optional>
#include <string>

#include "instruments/MeasurementResults.h"

namespace merival {

// Writes a number with a display format:
//  - '0' and '#' are digit placeholders; the first '.' splits integer and fraction places;
//  - '%' multiplies the value by 100 and is copied where it stands;
//  - every other character is copied where it stands;
//  - the value is rounded half away from zero to the fraction places, in decimal (the
//    shortest decimal text of the double is rounded, so 25.25 at one place gives 25.3);
//  - integer digits are right-aligned to the integer places; digits beyond them are written
//    with the leftmost place; '#' writes nothing where there is no digit, and an integer part
//    of 0 has no digits at all;
//  - a minus sign stands directly before the first written character of the number (digit or
//    decimal separator), and only when the rounded value is not zero: -0.04 at one place
//    gives 0.0, not -0.0;
//  - the decimal point is written as decimalSeparator.
// A value that is not finite is written as 0.
[[nodiscard]] QString FormatNumber(double value, const QString& format, QChar decimalSeparator);

// A number exactly as a text writes it: digits x 10^exponent.
struct ShownDecimal {
    std::string digits;  // without leading zeros; empty for zero
    int exponent = 0;
    bool negative = false;

    // The number times multiplier x 10^shift, as the nearest double: 967.9 shifted by -3 is
    // the double nearest 0.9679, not 967.9 * 0.001.
    [[nodiscard]] double Scaled(long long multiplier = 1, int shift = 0) const;
};

// One number written by FormatNumber and the unit text that follows its digits (trimmed).
// No number when the format writes no digit (the place-holder formats).
struct ShownNumber {
    std::optional<ShownDecimal> number;
    QString unit;
};

[[nodiscard]] ShownNumber ShownByFormat(double value, const QString& format);

// A channel's value text with the numbers it writes: the family's values in the order of the
// text, then apart the temperature when the text shows one.
struct ChannelValueText {
    QString text;
    QList<ShownNumber> values;
    std::optional<ShownDecimal> temperature;
};

// The value text of a channel right after its successful poll. Scales the family's value
// field in place (or sets it to 0 for a range code without a line), replaces the oxygen unit
// flag by its bit 0, and returns the text; lines are separated by CR LF. An empty text for a
// type index outside 0..15.
[[nodiscard]] QString FormatChannelValue(int typeIndex, MeasurementResults& results,
                                         QChar decimalSeparator);
// The same, with the numbers the text writes.
[[nodiscard]] ChannelValueText FormatChannelValueText(int typeIndex, MeasurementResults& results,
                                                      QChar decimalSeparator);

}  // namespace merival

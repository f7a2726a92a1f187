#pragma once

#include <QChar>
#include <QString>

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

// The value text of a channel right after its successful poll. Scales the family's value
// field in place (or sets it to 0 for a range code without a line), replaces the oxygen unit
// flag by its bit 0, and returns the text; lines are separated by CR LF. An empty text for a
// type index outside 0..15.
[[nodiscard]] QString FormatChannelValue(int typeIndex, MeasurementResults& results,
                                         QChar decimalSeparator);

}  // namespace merival

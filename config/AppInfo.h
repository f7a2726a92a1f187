#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace merival {

inline constexpr int kChannelCount = 4;
inline constexpr int kInstrumentTypeCount = 16;
inline constexpr int kFlowMeterType = 5;
inline constexpr int kDualResistivityType = 13;

// "MERIVAL  " followed by " V 2.19".
[[nodiscard]] QString AppTitle();
// The numeric value of the version suffix: 2.19.
[[nodiscard]] double VersionNumber();
// True when the Base/Ext. block choice is offered (version above 1.01).
[[nodiscard]] bool BlockChoiceEnabled();
// The sixteen entries of every channel's instrument type list, in TypeIndex order.
[[nodiscard]] const QStringList& InstrumentTypeList();

// How an address text becomes a number: blanks ignored anywhere, optional sign, digits,
// decimal point, exponent (E or D), &H and &O prefixes; stops at the first unfit character;
// nothing read gives 0. A based literal takes the sign of the smallest integer it fits
// (&HFFFF is -1, &H10000 is 65536); overflow gives the largest finite value.
[[nodiscard]] double NumericPrefix(const QString& text);

// The same reading, telling also whether any digit was read ("abc" and "" read none).
struct NumericPrefixRead {
    double value = 0;
    bool digits = false;
};
[[nodiscard]] NumericPrefixRead ReadNumericPrefix(const QString& text);
// A file item as a 16-bit integer: halves go to the even neighbour; nullopt when the item
// holds no number or the number does not fit.
[[nodiscard]] std::optional<qint16> NumericToInt16(const QString& item);

}  // namespace merival

#pragma once

#include <QChar>
#include <QList>
#include <QString>

namespace merival {

// A mark on an axis of the trend window and its label.
struct AxisTick {
    double at = 0;
    QString label;
};

// Values 1, 2 or 5 times a power of ten inside [low, high], at most `maxTicks` of them, in
// plain notation with `decimal` as the separator and the decimals the step needs.
[[nodiscard]] QList<AxisTick> ValueTicks(double low, double high, int maxTicks, QChar decimal);

// Round local times inside [fromMs, toMs] (UTC ms): seconds, minutes, hours or days, at most
// `maxTicks` of them, no two labels alike.
[[nodiscard]] QList<AxisTick> TimeTicks(qint64 fromMs, qint64 toMs, int maxTicks);

// A value with `significant` digits in plain notation (never an exponent), without trailing
// zeros, with `decimal` as the separator.
[[nodiscard]] QString PlainNumber(double value, QChar decimal, int significant = 6);

}  // namespace merival

#pragma once

#include <QChar>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "instruments/MeasurementResults.h"

namespace merival {

// One quantity of a reading in its family's fixed unit, or in the station's own unit for the
// families whose unit is a setting of the station. No value when the text shows no number for
// it (a range code without a line).
struct ReadingNumber {
    QString name;
    std::optional<double> value;
    QString unit;

    bool operator==(const ReadingNumber&) const = default;
};

// What one channel gave in one pass: the seam between the measurement cycle and whatever
// records, watches or publishes the values. The text is exactly the one shown.
struct ChannelReading {
    QDateTime time;       // UTC, end of the exchange
    qint64 steadyMs = 0;  // the same moment on a clock that never jumps, for durations
    int line = 0;         // with the channel, the key of a reading; one line for now
    int channel = 0;
    QString tag;
    int typeIndex = -1;
    QString typeName;                   // the type list's entry, without trailing blanks
    bool ok = false;                    // false: the station read "HS"
    QString text;                       // "HS", or the value text with CR LF between its lines
    QList<ReadingNumber> numbers;       // the family's quantities, main first; empty for HS
    std::optional<double> temperature;  // for the families that show one

    bool operator==(const ChannelReading&) const = default;
};

// The text, numbers and temperature of a successful poll of reading.typeIndex. Scales the
// results in place as FormatChannelValue does. Each number is the one its text shows,
// converted to the family's fixed unit.
void DescribeReading(ChannelReading& reading, MeasurementResults& results, QChar decimalSeparator);
// The value text on one line: CR LF becomes " / ".
[[nodiscard]] QString SingleLineText(const QString& text);
// A monotonic clock in milliseconds, for ChannelReading::steadyMs.
[[nodiscard]] qint64 SteadyMs();

}  // namespace merival

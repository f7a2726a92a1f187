#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "instruments/MeasurementResults.h"

namespace merival {

// One decoded number of a reading, with the unit the value text shows for it.
struct ReadingNumber {
    QString name;
    double value = 0;
    QString unit;

    bool operator==(const ReadingNumber&) const = default;
};

// What one channel gave in one pass: the seam between the measurement cycle and whatever
// records, watches or publishes the values. The text is exactly the one shown.
struct ChannelReading {
    QDateTime time;  // UTC, end of the exchange
    int line = 0;    // with the channel, the key of a reading; one line for now
    int channel = 0;
    QString tag;
    int typeIndex = -1;
    QString typeName;                   // the type list's entry, without trailing blanks
    bool ok = false;                    // false: the station read "HS"
    QString text;                       // "HS", or the value text with CR LF between its lines
    QList<ReadingNumber> numbers;       // empty for HS
    std::optional<double> temperature;  // for the families that show one

    bool operator==(const ChannelReading&) const = default;
};

// The numbers of a successful poll, read from results already scaled by
// FormatChannelValue. A range code the display has no line for gives no number.
[[nodiscard]] QList<ReadingNumber> ReadingNumbers(int typeIndex, const MeasurementResults& scaled);
// The temperature the value text shows, for the families that show one.
[[nodiscard]] std::optional<double> ReadingTemperature(int typeIndex,
                                                       const MeasurementResults& results);
// The value text on one line: CR LF becomes " / ".
[[nodiscard]] QString SingleLineText(const QString& text);

}  // namespace merival

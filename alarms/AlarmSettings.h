#pragma once

#include <QSettings>
#include <QString>
#include <array>
#include <optional>

#include "base/Status.h"
#include "config/AppInfo.h"

namespace merival {

// Limits on a channel's main value; a missing limit is no alarm.
struct ChannelAlarmSettings {
    std::optional<double> low;
    std::optional<double> high;
    double deadband = 0;      // in the value's unit
    double delaySeconds = 0;  // on-delay before a limit alarm is raised
    QString unit;  // the unit the limits hold in; empty: that of the first value compared

    bool operator==(const ChannelAlarmSettings&) const = default;
};

// The [Alarmes] section of merival.ini.
struct AlarmSettings {
    int lossPasses = 3;  // consecutive HS passes before a loss of communication; 0 = off
    double silentIntervalSeconds = 10;  // how often a lost station is asked again
    QString command;                    // program run on each event; empty = none
    QString arguments;                  // split like a command line, never by a shell
    std::array<ChannelAlarmSettings, kChannelCount> channels{};

    bool operator==(const AlarmSettings&) const = default;
};

// Missing keys take the defaults; a value that does not read as a number is left out and
// named in the warning.
[[nodiscard]] AlarmSettings LoadAlarmSettings(QSettings& ini, Status* warning = nullptr);
// Numbers are written with a "." whatever the locale; a missing limit removes its key.
void SaveAlarmSettings(QSettings& ini, const AlarmSettings& settings);

// A number typed by the operator with the locale's decimal separator (no group separators):
// nullopt when the text is not one. The caller decides what an empty text means.
[[nodiscard]] std::optional<double> ParseTypedNumber(const QString& text, QChar decimalSeparator);
// The number as the operator types it.
[[nodiscard]] QString TypedNumber(double value, QChar decimalSeparator);

}  // namespace merival

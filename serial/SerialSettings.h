#pragma once

#include <QByteArray>
#include <QString>

#include "base/Status.h"

namespace merival {

struct SerialSettings {
    qint16 Port = 1;           // 1..4
    qint16 SpeedIndex = 0;     // 0 = 9600, 1 = 4800, 2 = 2400
    qint16 ParityIndex = 0;    // 0 = n, 1 = e, 2 = o
    qint16 StopBitsIndex = 0;  // 0 = 1 stop bit, 1 = 2

    bool operator==(const SerialSettings&) const = default;
};

// "9600,n,8,1" and the like.
[[nodiscard]] QString SettingsString(const SerialSettings& settings);
[[nodiscard]] int BaudRate(const SerialSettings& settings);
[[nodiscard]] QString SpeedText(int speedIndex);      // "9600", "4800", "2400"; "" outside
[[nodiscard]] QString ParityLetter(int parityIndex);  // "n", "e", "o"; "" outside

// The bytes of "PortCom.dat".
[[nodiscard]] QByteArray WriteSerialSettingsText(const SerialSettings& settings);

struct SerialSettingsRead {
    SerialSettings settings;
    QString problem;  // empty when four valid numbers were read
};
// Fields read keep their values; the rest, and indices outside the tables, fall back to
// COM1, 9600, no parity, 1 stop bit.
[[nodiscard]] SerialSettingsRead ReadSerialSettingsText(const QByteArray& bytes);

// "PortCom.dat" in the current directory unless a path is given. Load always leaves a usable
// record; its status says what was wrong with the file.
[[nodiscard]] Status LoadSerialSettings(SerialSettings& settings, const QString& path = {});
[[nodiscard]] Status SaveSerialSettings(const SerialSettings& settings, const QString& path = {});

}  // namespace merival

// Reading "PortCom.dat": any bytes give settings inside the tables, and they survive a save.
#include <cstddef>
#include <cstdint>

#include <QStringList>

#include "fuzz/FuzzCheck.h"
#include "serial/SerialSettings.h"

using namespace merival;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const SerialSettingsRead read = ReadSerialSettingsText(bytes);
    const SerialSettings& s = read.settings;

    FUZZ_CHECK(s.Port >= 1 && s.Port <= 4, "port outside 1..4");
    FUZZ_CHECK(s.SpeedIndex >= 0 && s.SpeedIndex <= 2, "speed index outside the table");
    FUZZ_CHECK(s.ParityIndex >= 0 && s.ParityIndex <= 2, "parity index outside the table");
    FUZZ_CHECK(s.StopBitsIndex >= 0 && s.StopBitsIndex <= 1, "stop bits index outside 0..1");
    // The port is opened with this text: it must always name a speed and a parity.
    const QStringList parts = SettingsString(s).split(u',');
    FUZZ_CHECK(parts.size() == 4 && !parts[0].isEmpty() && !parts[1].isEmpty(),
               "settings string incomplete");

    const SerialSettingsRead again = ReadSerialSettingsText(WriteSerialSettingsText(s));
    FUZZ_CHECK(again.settings == s, "save and load changed the settings");
    FUZZ_CHECK(again.problem.isEmpty(), "a saved file reads with a problem");
    return 0;
}

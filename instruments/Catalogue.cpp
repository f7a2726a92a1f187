#include "instruments/Catalogue.h"

#include <array>

namespace merival {
namespace {

struct CodeName {
    const char* code;
    const char* name;  // UTF-8
};

constexpr std::array<CodeName, 21> kCodes = {{
    {"01", "Resistivimètre"},
    {"02", "Conductivimètre"},
    {"03", "pH-mètre"},
    {"04", "Rh-mètre"},
    {"05", "Oxygenemètre"},
    {"06", "Debitmètre"},
    {"07", "Chloremètre"},
    {"08", "Conductivimètre TOR"},
    {"09", "Conductivimètre NaCl"},
    {"0:", "Conductivimètre NaOH"},
    {"0;", "Conductivimètre HCl"},
    {"0<", "Conductivimètre H2SO4"},
    {"0=", "Turbidimètre"},
    {"0>", "R_847"},
    {"0?", "738"},
    {"10", "562 CHLORE LIBRE"},
    {"11", "562 CHLORE TOTAL"},
    {"12", "562 DIOXYDE CHLORE"},
    {"13", "562 OZONE"},
    {"14", "562 PEROX. HYDROGENE"},
    {"15", "562 ACIDE  PERACETIC"},
}};

const QString kPlaceholder = QStringLiteral("____");

UnitResult Unit(const char* text, qint16 divisor) {
    return {QString::fromUtf8(text), divisor};
}

UnitResult Placeholder() {
    return {kPlaceholder, 1};
}

qint16 DivisorFromLowNibble(qint16 range) {
    switch (range & 0x0F) {
        case 1:
            return 1000;
        case 2:
            return 100;
        case 3:
            return 10;
        default:
            return 1;
    }
}

// Byte rules: the unit comes from the high nibble of the low byte, the divisor from its low
// nibble, independently; an unlisted unit does not reset the divisor.
template <std::size_t N>
UnitResult ByteRule(qint16 range, const std::array<const char*, N>& units) {
    const auto high = static_cast<std::size_t>((range & 0xF0) >> 4);
    const QString unit = high < N ? QString::fromUtf8(units[high]) : kPlaceholder;
    return {unit, DivisorFromLowNibble(range)};
}

}  // namespace

QString InstrumentName(const QString& code) {
    for (const auto& row : kCodes) {
        if (code == QLatin1String(row.code)) {
            return QString::fromUtf8(row.name);
        }
    }
    return {};
}

UnitResult UnitForResistivity(qint16 range) {
    switch (range) {
        case 0:
            return Unit("Ohm", 10);
        case 1:
            return Unit("kOhm", 1000);
        case 2:
            return Unit("kOhm", 100);
        case 3:
            return Unit("kOhm", 10);
        case 4:
            return Unit("MOhm", 1000);
        case 5:
            return Unit("MOhm", 100);
        case 6:
            return Unit("MOhm", 10);
        default:
            return Placeholder();
    }
}

UnitResult UnitForConductivity(qint16 range) {
    switch (range) {
        case 0:
            return Unit("µS", 1000);
        case 1:
            return Unit("µS", 100);
        case 2:
            return Unit("µS", 10);
        case 3:
            return Unit("mS", 1000);
        case 4:
            return Unit("mS", 100);
        default:
            return Placeholder();
    }
}

UnitResult UnitForTorConductivity(qint16 range) {
    switch (range) {
        case 0:
        case 3:
            return Unit("mS", 1000);
        case 1:
            return Unit("mS", 100);
        case 2:
            return Unit("mS", 10);
        default:
            return Placeholder();
    }
}

UnitResult UnitForFlow(qint16 range) {
    switch (range) {
        case 0:
            return Unit("m3/h", 1000);
        case 10:
            return Unit("m3/h", 100);
        case 20:
            return Unit("m3/h", 10);
        case 30:
        case 31:
            return Unit("m3/h", 1);
        case 40:
            return Unit("m3/s", 1000);
        case 50:
            return Unit("m3/s", 100);
        default:
            return Placeholder();
    }
}

UnitResult UnitForOxygen(qint16& range) {
    range = static_cast<qint16>(range & 1);
    return range == 0 ? Unit("%", 10) : Unit("mg/l", 100);
}

UnitResult UnitForPh() {
    return Unit("pH", 100);
}
UnitResult UnitForRedox() {
    return Unit("mV", 1);
}
UnitResult UnitForChlorine() {
    return Unit("mg/l", 1000);
}
UnitResult UnitForConcentration() {
    return Unit("%", 10);
}

UnitResult UnitForTurbidity(qint16 range) {
    static constexpr std::array<const char*, 9> kUnits = {"NTU", "FAU", "mg/l", "g/l", "FNU",
                                                          "m",   "cm",  "%",    ""};
    return ByteRule(range, kUnits);
}

UnitResult UnitForAnalyser(qint16 range) {
    static constexpr std::array<const char*, 8> kUnits = {"m",    "cm",  "%", "ppm",
                                                          "mg/l", "g/l", "",  "°C"};
    return ByteRule(range, kUnits);
}

UnitResult UnitForOxidant(qint16 range) {
    static constexpr std::array<const char*, 2> kUnits = {"ppm", "g/l"};
    return ByteRule(range, kUnits);
}

std::optional<UnitResult> UnitForInstrument(const QString& name, qint16 range) {
    const auto is = [&name](const char* utf8) { return name == QString::fromUtf8(utf8); };
    if (is("Resistivimètre") || is("R_847")) {
        return UnitForResistivity(range);
    }
    if (is("Conductivimètre")) {
        return UnitForConductivity(range);
    }
    if (is("pH-mètre")) {
        return UnitForPh();
    }
    if (is("Rh-mètre")) {
        return UnitForRedox();
    }
    if (is("Oxygenemètre")) {
        return UnitForOxygen(range);
    }
    if (is("Debitmètre")) {
        return UnitForFlow(range);
    }
    if (is("Chloremètre")) {
        return UnitForChlorine();
    }
    if (is("Conductivimètre TOR")) {
        return UnitForTorConductivity(range);
    }
    if (is("Conductivimètre NaCl") || is("Conductivimètre NaOH") || is("Conductivimètre HCl") ||
        is("Conductivimètre H2SO4")) {
        return UnitForConcentration();
    }
    if (is("Turbidimètre")) {
        return UnitForTurbidity(range);
    }
    if (is("738")) {
        return UnitForAnalyser(range);
    }
    // Only the six oxidant analysers of the catalogue, not any name that happens to start so.
    for (std::size_t i = 15; i < kCodes.size(); ++i) {
        if (is(kCodes[i].name)) {
            return UnitForOxidant(range);
        }
    }
    return std::nullopt;
}

QString PadTwoDigits(QString& text) {
    text = (QStringLiteral("0") + text).right(2);
    return text;
}

}  // namespace merival

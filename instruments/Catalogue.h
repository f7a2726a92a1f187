#pragma once

#include <QString>
#include <optional>

namespace merival {

struct UnitResult {
    QString unit;
    qint16 divisor = 1;

    bool operator==(const UnitResult&) const = default;
};

// "01".."0?", "10".."15" to the instrument name; "" for any other text.
[[nodiscard]] QString InstrumentName(const QString& code);

[[nodiscard]] UnitResult UnitForResistivity(qint16 range);
[[nodiscard]] UnitResult UnitForConductivity(qint16 range);
[[nodiscard]] UnitResult UnitForTorConductivity(qint16 range);
[[nodiscard]] UnitResult UnitForFlow(qint16 range);
// Also replaces the range with its bit 0.
[[nodiscard]] UnitResult UnitForOxygen(qint16& range);
[[nodiscard]] UnitResult UnitForPh();
[[nodiscard]] UnitResult UnitForRedox();
[[nodiscard]] UnitResult UnitForChlorine();
[[nodiscard]] UnitResult UnitForConcentration();
// Byte rules: the low byte of the range; low nibble the divisor, high nibble the unit.
[[nodiscard]] UnitResult UnitForTurbidity(qint16 range);
[[nodiscard]] UnitResult UnitForAnalyser(qint16 range);
[[nodiscard]] UnitResult UnitForOxidant(qint16 range);

// The unit rule that belongs to an instrument name, applied to a range code; nullopt for a
// name with no rule (the empty name among them).
[[nodiscard]] std::optional<UnitResult> UnitForInstrument(const QString& name, qint16 range);

// Last two characters of "0" + text; also replaces the argument.
QString PadTwoDigits(QString& text);

}  // namespace merival

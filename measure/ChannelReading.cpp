#include "measure/ChannelReading.h"

namespace merival {
namespace {

// Units as the value texts show them for each range code; empty: no line for that code.
QString ResistivityUnit(int range) {
    if (range == 1) {
        return QStringLiteral("Ohm");
    }
    if (range >= 2 && range <= 4) {
        return QStringLiteral("kOhm");
    }
    return range >= 5 && range <= 7 ? QStringLiteral("MOhm") : QString();
}

QString ConductivityUnit(int range) {
    if (range >= 1 && range <= 3) {
        return QStringLiteral("µS");
    }
    return range == 4 || range == 5 ? QStringLiteral("mS") : QString();
}

QString FlowUnit(int range) {
    switch (range) {
        case 0:
        case 10:
        case 20:
        case 30:
        case 31:
            return QStringLiteral("m3/h");
        case 40:
        case 50:
            return QStringLiteral("m3/s");
        default:
            return {};
    }
}

// Turbidity and the two analysers: ranges 1 to 4, the unit text decoded from the reply (it
// may be empty).
void AddAnalyser(QList<ReadingNumber>& numbers, const QString& name, double value, int range,
                 const QString& unit) {
    if (range >= 1 && range <= 4) {
        numbers.append({name, value, unit.trimmed()});
    }
}

void AddIfUnit(QList<ReadingNumber>& numbers, const QString& name, double value,
               const QString& unit) {
    if (!unit.isEmpty()) {
        numbers.append({name, value, unit});
    }
}

}  // namespace

QList<ReadingNumber> ReadingNumbers(int typeIndex, const MeasurementResults& r) {
    QList<ReadingNumber> numbers;
    const QString resistivity = QStringLiteral("Résistivité");
    switch (typeIndex) {
        case 0:
            AddIfUnit(numbers, resistivity, r.ResistivityValue,
                      ResistivityUnit(r.ResistivityRange));
            break;
        case 13:
            AddIfUnit(numbers, resistivity, r.ResistivityValue,
                      ResistivityUnit(r.ResistivityRange));
            numbers.append({QStringLiteral("Résistivité 2"), r.SecondResistivityValue / 100,
                            QStringLiteral("MOhm")});
            break;
        case 1:
            AddIfUnit(numbers, QStringLiteral("Conductivité"), r.ConductivityValue,
                      ConductivityUnit(r.ConductivityRange));
            break;
        case 7:
            AddIfUnit(numbers, QStringLiteral("Conductivité"), r.ConductivityValue,
                      r.ConductivityRange >= 1 && r.ConductivityRange <= 4 ? QStringLiteral("mS")
                                                                           : QString());
            break;
        case 8:
        case 9:
        case 10:
        case 11:
            numbers.append(
                {QStringLiteral("Concentration"), r.ConductivityValue, QStringLiteral("%")});
            break;
        case 2:
            numbers.append({QStringLiteral("pH"), r.PhValue, QStringLiteral("pH")});
            break;
        case 3:
            numbers.append({QStringLiteral("Redox"), r.RedoxValue, QStringLiteral("mV")});
            break;
        case 6:
            numbers.append({QStringLiteral("Chlore"), r.ChlorineValue, QStringLiteral("mg/l")});
            break;
        case 4:
            numbers.append(
                {QStringLiteral("Oxygène"), r.OxygenValue,
                 (r.OxygenUnitFlag & 1) != 0 ? QStringLiteral("mg/l") : QStringLiteral("%")});
            break;
        case 5:
            AddIfUnit(numbers, QStringLiteral("Débit"), r.FlowRate, FlowUnit(r.FlowRange));
            numbers.append(
                {QStringLiteral("Volume journalier"), r.DailyVolume, QStringLiteral("m3")});
            numbers.append(
                {QStringLiteral("Volume cumulé"), r.CumulatedVolume, QStringLiteral("m3")});
            break;
        case 12:
            AddAnalyser(numbers, QStringLiteral("Turbidité"), r.TurbidityValue, r.TurbidityRange,
                        r.TurbidityUnit);
            break;
        case 14:
            AddAnalyser(numbers, QStringLiteral("Mesure"), r.Model738Value, r.Model738Range,
                        r.Model738Unit);
            break;
        case 15:
            AddAnalyser(numbers, QStringLiteral("Mesure"), r.Model562Value, r.Model562Range,
                        r.Model562Unit);
            break;
        default:
            break;
    }
    return numbers;
}

std::optional<double> ReadingTemperature(int typeIndex, const MeasurementResults& results) {
    // The dual resistivity meter shows two resistivities and no temperature.
    if (typeIndex < 0 || typeIndex > 15 || typeIndex == 13) {
        return std::nullopt;
    }
    return results.TemperatureValue;
}

QString SingleLineText(const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
    return line;
}

}  // namespace merival

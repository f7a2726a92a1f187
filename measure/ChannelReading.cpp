#include "measure/ChannelReading.h"

#include <chrono>
#include <span>

#include "measure/ValueFormat.h"

namespace merival {
namespace {

// A quantity of a family; no unit: the station's own, as the text shows it.
struct Quantity {
    const char16_t* name;
    const char16_t* unit;
};

constexpr Quantity kResistivity[] = {{u"Résistivité", u"MOhm"}};
constexpr Quantity kDualResistivity[] = {{u"Résistivité", u"MOhm"}, {u"Résistivité 2", u"MOhm"}};
constexpr Quantity kConductivity[] = {{u"Conductivité", u"µS"}};
constexpr Quantity kTorConductivity[] = {{u"Conductivité", u"mS"}};
constexpr Quantity kConcentration[] = {{u"Concentration", u"%"}};
constexpr Quantity kPh[] = {{u"pH", u"pH"}};
constexpr Quantity kRedox[] = {{u"Redox", u"mV"}};
constexpr Quantity kChlorine[] = {{u"Chlore", u"mg/l"}};
constexpr Quantity kOxygen[] = {{u"Oxygène", nullptr}};
constexpr Quantity kFlow[] = {
    {u"Débit", u"m3/h"}, {u"Volume journalier", u"m3"}, {u"Volume cumulé", u"m3"}};
constexpr Quantity kTurbidity[] = {{u"Turbidité", nullptr}};
constexpr Quantity kAnalyser[] = {{u"Mesure", nullptr}};

// In the order of the value texts.
std::span<const Quantity> Quantities(int typeIndex) {
    switch (typeIndex) {
        case 0:
            return kResistivity;
        case 13:
            return kDualResistivity;
        case 1:
            return kConductivity;
        case 7:
            return kTorConductivity;
        case 8:
        case 9:
        case 10:
        case 11:
            return kConcentration;
        case 2:
            return kPh;
        case 3:
            return kRedox;
        case 6:
            return kChlorine;
        case 4:
            return kOxygen;
        case 5:
            return kFlow;
        case 12:
            return kTurbidity;
        case 14:
        case 15:
            return kAnalyser;
        default:
            return {};
    }
}

// From a unit a range shows to its family's fixed unit: x multiplier x 10^shift.
struct Conversion {
    const char16_t* from;
    const char16_t* to;
    long long multiplier;
    int shift;
};

constexpr Conversion kConversions[] = {
    {u"Ohm", u"MOhm", 1, -6},
    {u"kOhm", u"MOhm", 1, -3},
    {u"mS", u"µS", 1, 3},
    {u"m3/s", u"m3/h", 3600, 0},
};

std::optional<double> Converted(const ShownDecimal& number, const QString& from,
                                const QString& to) {
    if (from == to) {
        return number.Scaled();
    }
    for (const Conversion& c : kConversions) {
        if (from == QStringView(c.from) && to == QStringView(c.to)) {
            return number.Scaled(c.multiplier, c.shift);
        }
    }
    return std::nullopt;  // a unit the family's tables never show
}

// The unit set on the station, for a value its text does not show.
QString StationUnit(int typeIndex, const MeasurementResults& r) {
    switch (typeIndex) {
        case 4:
            return (r.OxygenUnitFlag & 1) != 0 ? QStringLiteral("mg/l") : QStringLiteral("%");
        case 12:
            return r.TurbidityUnit.trimmed();
        case 14:
            return r.Model738Unit.trimmed();
        case 15:
            return r.Model562Unit.trimmed();
        default:
            return {};
    }
}

}  // namespace

void DescribeReading(ChannelReading& reading, MeasurementResults& results, QChar decimalSeparator) {
    const ChannelValueText shown =
        FormatChannelValueText(reading.typeIndex, results, decimalSeparator);
    reading.text = shown.text;
    reading.numbers.clear();
    const std::span<const Quantity> quantities = Quantities(reading.typeIndex);
    for (size_t i = 0; i < quantities.size(); ++i) {
        const ShownNumber part =
            qsizetype(i) < shown.values.size() ? shown.values[qsizetype(i)] : ShownNumber{};
        ReadingNumber number{QString::fromUtf16(quantities[i].name), std::nullopt, {}};
        if (quantities[i].unit != nullptr) {
            number.unit = QString::fromUtf16(quantities[i].unit);
        } else {
            number.unit = part.number ? part.unit : StationUnit(reading.typeIndex, results);
        }
        if (part.number) {
            number.value = Converted(*part.number, part.unit, number.unit);
        }
        reading.numbers.append(number);
    }
    reading.temperature =
        shown.temperature ? std::optional<double>(shown.temperature->Scaled()) : std::nullopt;
}

QString SingleLineText(const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
    return line;
}

qint64 SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace merival

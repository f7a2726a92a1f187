#include <gtest/gtest.h>

#include <QRegularExpression>
#include <map>

#include "measure/ChannelReading.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace merival {
namespace {

// A number as the value text writes it, with the unit after it; "__" has no number.
struct TextNumber {
    std::optional<double> value;
    QString unit;
};

// Reads the text as an operator would: every "number unit" pair in order, the place-holder
// "__" as a number not shown.
QList<TextNumber> ParseText(const QString& text) {
    static const QRegularExpression pair(
        QStringLiteral(R"((__|-?\d+(?:[.,]\d+)?)(?:[ ]+([^\s\d_-]\S*))?)"));
    QList<TextNumber> numbers;
    for (auto it = pair.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        TextNumber n;
        if (m.captured(1) != QStringLiteral("__")) {
            n.value = QString(m.captured(1)).replace(u',', u'.').toDouble();
        }
        n.unit = m.captured(2);
        numbers.append(n);
    }
    return numbers;
}

// The unit each family records; empty: the station's own, as its text shows it.
QStringList FixedUnits(int type) {
    switch (type) {
        case 0:
            return {"MOhm"};
        case 13:
            return {"MOhm", "MOhm"};
        case 1:
            return {"µS"};
        case 7:
            return {"mS"};
        case 2:
            return {"pH"};
        case 3:
            return {"mV"};
        case 6:
            return {"mg/l"};
        case 5:
            return {"m3/h", "m3", "m3"};
        case 8:
        case 9:
        case 10:
        case 11:
            return {"%"};
        default:
            return {""};
    }
}

// How many of the recorded unit one unit of the text is.
double Factor(const QString& from, const QString& to) {
    static const std::map<std::pair<QString, QString>, double> factors = {{{"Ohm", "MOhm"}, 1e-6},
                                                                          {{"kOhm", "MOhm"}, 1e-3},
                                                                          {{"mS", "µS"}, 1e3},
                                                                          {{"m3/s", "m3/h"}, 3600}};
    if (from == to) {
        return 1;
    }
    const auto f = factors.find({from, to});
    EXPECT_NE(f, factors.end()) << from.toStdString() << " to " << to.toStdString();
    return f == factors.end() ? 0 : f->second;
}

// Every family, every range code (listed or not), every unit a station may set: each number
// of the reading is the one its text shows, in the family's unit; the temperature too.
TEST(ChannelReading, EveryNumberIsTheOneItsTextShowsInTheFamilyUnit) {
    const double raws[] = {0, 7, 1234, -1234, 32767, 123456};
    const QString stationUnits[] = {"NTU", "%", "mg/l", "", "°C", "ppm"};
    int checked = 0;
    for (int type = 0; type <= 15; ++type) {
        const bool byUnit = type == 12 || type == 14 || type == 15;
        const int lastRange = type == 5 ? 63 : type == 4 ? 3 : 9;
        for (int range = 0; range <= lastRange; ++range) {
            for (const QString& unit :
                 byUnit ? QList<QString>(std::begin(stationUnits), std::end(stationUnits))
                        : QList<QString>{QString()}) {
                for (const double raw : raws) {
                    for (const QChar separator : {QChar(u'.'), QChar(u',')}) {
                        MeasurementResults in{.FlowRate = raw,
                                              .FlowRange = qint16(range),
                                              .DailyVolume = 4321,
                                              .CumulatedVolume = 12345678,
                                              .PhValue = raw / 100,
                                              .RedoxValue = raw,
                                              .ConductivityValue = raw,
                                              .ConductivityRange = qint16(range),
                                              .ResistivityValue = raw,
                                              .ResistivityRange = qint16(range),
                                              .TemperatureValue = -2.5,
                                              .SecondResistivityValue = raw,
                                              .OxygenValue = raw,
                                              .OxygenUnitFlag = qint16(range),
                                              .ChlorineValue = raw / 1000,
                                              .TurbidityValue = raw,
                                              .TurbidityRange = qint16(range),
                                              .TurbidityUnit = unit,
                                              .Model562Value = raw,
                                              .Model562Range = qint16(range),
                                              .Model562Unit = unit,
                                              .Model738Value = raw,
                                              .Model738Range = qint16(range),
                                              .Model738Unit = unit};
                        ChannelReading r;
                        r.typeIndex = type;
                        DescribeReading(r, in, separator);
                        SCOPED_TRACE(QStringLiteral("type %1 range %2 unit %3: %4")
                                         .arg(type)
                                         .arg(range)
                                         .arg(unit, r.text)
                                         .toStdString());
                        QList<TextNumber> shown = ParseText(r.text);
                        std::optional<double> temperature;
                        for (qsizetype i = shown.size() - 1; i >= 0; --i) {
                            if (shown[i].unit == QStringLiteral("°C")) {
                                temperature = shown.takeAt(i).value;
                                break;
                            }
                        }
                        EXPECT_EQ(r.temperature, temperature);
                        const QStringList fixed = FixedUnits(type);
                        ASSERT_EQ(r.numbers.size(), fixed.size());
                        ASSERT_EQ(shown.size(), fixed.size());
                        for (qsizetype i = 0; i < fixed.size(); ++i) {
                            const ReadingNumber& n = r.numbers[i];
                            const QString expectedUnit = !fixed[i].isEmpty() ? fixed[i]
                                                         : shown[i].value    ? shown[i].unit
                                                                             : unit;
                            EXPECT_EQ(n.unit, expectedUnit) << i;
                            ASSERT_EQ(n.value.has_value(), shown[i].value.has_value()) << i;
                            if (n.value) {
                                EXPECT_DOUBLE_EQ(*n.value,
                                                 *shown[i].value * Factor(shown[i].unit, n.unit))
                                    << i;
                            }
                        }
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 4000);
}

}  // namespace
}  // namespace merival

#include <gtest/gtest.h>

#include "measure/ValueFormat.h"

// Rows name only the fields they use; the others keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Readable failures: gtest would print a QString as raw bytes.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace merival {
namespace {

struct NumberRow {
    const char* source;
    double value;
    const char16_t* format;
    const char16_t* expected;  // with '.' as separator; the ',' run swaps it
};

// Every row is run with both separators; expected texts have no literal '.' of their own.
void CheckNumberRows(std::initializer_list<NumberRow> rows) {
    for (const NumberRow& row : rows) {
        for (const QChar separator : {QChar(u'.'), QChar(u',')}) {
            SCOPED_TRACE(std::string(row.source) + " separator " +
                         QString(separator).toStdString());
            QString expected = QString::fromUtf16(row.expected);
            expected.replace(u'.', separator);
            EXPECT_EQ(FormatNumber(row.value, QString::fromUtf16(row.format), separator), expected);
        }
    }
}

TEST(FormatNumber, WorkedExamples) {
    CheckNumberRows({
        {"kOhm example", 1.234, u"0.000 kOhm", u"1.234 kOhm"},
        {"temperature half", 25.25, u"###0.0 °C", u"25.3 °C"},
        {"percent with zeros", 0.987, u"    000.0  %   ", u"    098.7  %   "},
        {"place-holder", 0, u" ##### __  ", u"  __  "},
        {"flow digits", 12345, u"   ###0  m3/h", u"   12345  m3/h"},
    });
}

TEST(FormatNumber, RoundsHalvesAwayFromZeroInDecimal) {
    CheckNumberRows({
        // Each of these doubles lies just below the written half.
        {"1.005", 1005.0 / 1000, u"0.00", u"1.01"},
        {"2.675", 2.675, u"0.00", u"2.68"},
        {"0.0005", 0.0005, u"0.000", u"0.001"},
        {"1.15", 1.15, u"0.0", u"1.2"},
        {"just under half", 0.00049999, u"0.000", u"0.000"},
        {"negative half", -0.0005, u"0.000", u"-0.001"},
        {"negative 2.5", -2.5, u"0", u"-3"},
        {"carry into a new digit", 9.995, u"0.00", u"10.00"},
        {"carry past the placeholders", 999.96, u"#0.0", u"1000.0"},
        {"no fraction places", 0.5, u"#", u"1"},
        {"rounds to nothing", 0.4, u"#", u""},
        {"tiny", 1e-300, u"0.000", u"0.000"},
        {"exact zero decimals padded", 3, u"0.000", u"3.000"},
    });
}

TEST(FormatNumber, IntegerPlaceholders) {
    CheckNumberRows({
        {"hash writes nothing for 0", 0.05, u"#.00", u".05"},
        {"zero placeholder writes 0", 0.05, u"#0.00 MOhm", u"0.05 MOhm"},
        {"leading zeros", 7, u"000", u"007"},
        {"extra digits with leftmost", 123456.0 / 10, u"##0.0 Ohm", u"12345.6 Ohm"},
        {"extra digits, zero placeholder", 4321, u" 0  mS", u" 4321  mS"},
        {"digits when no integer places", 12.5, u".00", u"12.50"},
        {"hash-only format value 0", 0, u"#####", u""},
        {"large value", 1e20, u"0", u"100000000000000000000"},
        {"literal between placeholders", 1234, u"#x##0", u"1x234"},
    });
}

TEST(FormatNumber, PercentAndLiterals) {
    CheckNumberRows({
        {"percent multiplies", 0.5, u" 0.000  %", u" 50.000  %"},
        {"percent then decimal half", 0.00125, u"0.00%", u"0.13%"},
        {"percent then binary near-half", 0.01005, u"0.00%", u"1.01%"},
        {"percent before the digits", 0.25, u"% 0", u"% 25"},
        {"literal characters kept", 3.5, u"µ°_/ 0.0 x", u"µ°_/ 3.5 x"},
        {"hash fraction drops trailing zeros", 2.5, u"0.##", u"2.5"},
        {"format without placeholders", 42, u"abc", u"abc"},
    });
}

TEST(FormatNumber, MinusSignStandsBeforeTheFirstDigit) {
    CheckNumberRows({
        {"temperature", -2.5, u"###0.0  °C", u"-2.5  °C"},
        {"after leading spaces", -0.5, u" ##0.0  %", u" -50.0  %"},
        {"before zero placeholders", -0.987, u"    000.0  %", u"    -098.7  %"},
        {"before the separator when no integer digit", -0.5, u"#.0", u"-.5"},
        {"no sign when rounded to zero", -0.04, u"0.0", u"0.0"},
        {"no sign for negative zero", -0.0, u"0", u"0"},
    });
}

// Channel texts: input results, the type index, and what the label and the fields end as.
struct ChannelRow {
    const char* source;
    int type;
    MeasurementResults in;
    const char16_t* expected;
};

MeasurementResults WithTemperature(double t) {
    MeasurementResults r;
    r.TemperatureValue = t;
    return r;
}

TEST(FormatChannelValue, TextsOfEveryRow) {
    using R = MeasurementResults;
    const double t = 25.3;
    const ChannelRow rows[] = {
        {"resistivity range 2", 0,
         R{.ResistivityValue = 1234, .ResistivityRange = 2, .TemperatureValue = t},
         u"1.234 kOhm 25.3 °C"},
        {"resistivity beyond its places", 0,
         R{.ResistivityValue = 123456, .ResistivityRange = 1, .TemperatureValue = t},
         u"12345.6 Ohm 25.3 °C"},
        {"resistivity unknown range", 0,
         R{.ResistivityValue = 99, .ResistivityRange = 8, .TemperatureValue = t},
         u"  __   25.3 °C"},
        {"conductivity range 1", 1,
         R{.ConductivityValue = 1500, .ConductivityRange = 1, .TemperatureValue = t},
         u" 1.500  µS     25.3  °C"},
        {"conductivity range 9", 1,
         R{.ConductivityValue = 1500, .ConductivityRange = 9, .TemperatureValue = t},
         u"  __       25.3  °C"},
        {"toroidal range 1 is mS", 7,
         R{.ConductivityValue = 1500, .ConductivityRange = 1, .TemperatureValue = t},
         u" 1.500  mS     25.3  °C"},
        {"toroidal range 4", 7,
         R{.ConductivityValue = 12, .ConductivityRange = 4, .TemperatureValue = t},
         u" 12  mS     25.3  °C"},
        {"concentration NaCl", 8, R{.ConductivityValue = 1234, .TemperatureValue = t},
         u" 123.4  %     25.3  °C"},
        {"pH", 2, R{.PhValue = 7.01, .TemperatureValue = t}, u"7.01 pH     25.3  °C"},
        {"redox negative", 3, R{.RedoxValue = -150, .TemperatureValue = t},
         u"-150 mV     25.3  °C"},
        {"chlorine", 6, R{.TemperatureValue = t, .ChlorineValue = 0.5}, u"0.500 mg/l   25.3  °C"},
        {"oxygen percent", 4, R{.TemperatureValue = t, .OxygenValue = 987, .OxygenUnitFlag = 0},
         u"    098.7  %      25.3  °C"},
        {"oxygen mg/l", 4, R{.TemperatureValue = t, .OxygenValue = 850, .OxygenUnitFlag = 1},
         u"    8.50  mg/l   25.3  °C"},
        {"flow range 31", 5,
         R{.FlowRate = 12345,
           .FlowRange = 31,
           .DailyVolume = 42,
           .CumulatedVolume = 125678,
           .TemperatureValue = t},
         u"   12345  m3/h    25.3  °C\r\n 42   m3  \r\n 125678   m3  "},
        {"flow range 35", 5,
         R{.FlowRate = 1234,
           .FlowRange = 35,
           .DailyVolume = 7,
           .CumulatedVolume = 0,
           .TemperatureValue = t},
         u"   __      25.3  °C\r\n 7   m3  \r\n 0   m3  "},
        {"turbidity", 12,
         R{.TemperatureValue = t,
           .TurbidityValue = 123,
           .TurbidityRange = 2,
           .TurbidityUnit = "NTU"},
         u" 1.23  NTU     25.3  °C"},
        {"turbidity percent unit", 12,
         R{.TemperatureValue = t, .TurbidityValue = 500, .TurbidityRange = 1, .TurbidityUnit = "%"},
         u" 50.000  %     25.3  °C"},
        {"738 ppm range 3", 14,
         R{.TemperatureValue = t, .Model738Value = 57, .Model738Range = 3, .Model738Unit = "ppm"},
         u" 5.7  ppm     25.3  °C"},
        {"738 range 5 without unit", 14,
         R{.TemperatureValue = t, .Model738Value = 57, .Model738Range = 5, .Model738Unit = "ppm"},
         u"  __       25.3  °C"},
        {"562 range 4", 15,
         R{.TemperatureValue = t, .Model562Value = 3, .Model562Range = 4, .Model562Unit = "g/l"},
         u" 3  g/l     25.3  °C"},
        {"dual resistivity", 13,
         R{.ResistivityValue = 1834,
           .ResistivityRange = 6,
           .TemperatureValue = t,
           .SecondResistivityValue = 1234},
         u"18.34 MOhm\r\n12.34 MOhm"},
    };
    for (const ChannelRow& row : rows) {
        for (const QChar separator : {QChar(u'.'), QChar(u',')}) {
            SCOPED_TRACE(std::string(row.source) + " separator " +
                         QString(separator).toStdString());
            MeasurementResults results = row.in;
            QString expected = QString::fromUtf16(row.expected);
            expected.replace(u'.', separator);
            EXPECT_EQ(FormatChannelValue(row.type, results, separator), expected);
        }
    }
}

TEST(FormatChannelValue, ScalesFieldsInPlace) {
    MeasurementResults r = WithTemperature(20);
    r.ResistivityRange = 2;
    r.ResistivityValue = 1234;
    (void)FormatChannelValue(0, r, u'.');
    EXPECT_DOUBLE_EQ(r.ResistivityValue, 1.234);

    r.ConductivityValue = 1234;
    (void)FormatChannelValue(9, r, u'.');
    EXPECT_DOUBLE_EQ(r.ConductivityValue, 1.234) << "concentration divides by 1000";

    r.ConductivityRange = 9;
    r.ConductivityValue = 1234;
    (void)FormatChannelValue(1, r, u'.');
    EXPECT_EQ(r.ConductivityValue, 0) << "a range without a line leaves 0";

    r.FlowRange = 35;
    r.FlowRate = 77;
    r.DailyVolume = 5;
    (void)FormatChannelValue(5, r, u'.');
    EXPECT_EQ(r.FlowRate, 0);
    EXPECT_EQ(r.DailyVolume, 5) << "volumes have no divisor";

    r.Model562Range = 2;
    r.Model562Value = 250;
    r.Model562Unit = QStringLiteral("%");
    (void)FormatChannelValue(15, r, u'.');
    EXPECT_DOUBLE_EQ(r.Model562Value, 2.5) << "the percent unit scales the text, not the field";

    // Fields without divisor are untouched, as are the other families' fields.
    r.PhValue = 7.25;
    const MeasurementResults before = r;
    (void)FormatChannelValue(2, r, u'.');
    EXPECT_EQ(r, before);
}

TEST(FormatChannelValue, OxygenFlagKeepsOnlyItsLowBit) {
    struct {
        qint16 flag;
        qint16 stored;
        const char16_t* unit;
    } rows[] = {{3, 1, u"mg/l"}, {2, 0, u"%"}, {-1, 1, u"mg/l"}, {6, 0, u"%"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.flag);
        MeasurementResults r;
        r.OxygenUnitFlag = row.flag;
        r.OxygenValue = 100;
        const QString text = FormatChannelValue(4, r, u',');
        EXPECT_EQ(r.OxygenUnitFlag, row.stored);
        EXPECT_TRUE(text.contains(QString::fromUtf16(row.unit))) << text.toStdString();
    }
}

TEST(FormatChannelValue, DualResistivityLeavesSecondFieldAndShowsNoTemperature) {
    MeasurementResults r = WithTemperature(-7.5);
    r.ResistivityRange = 5;
    r.ResistivityValue = 18;
    r.SecondResistivityValue = 1234;
    const QString text = FormatChannelValue(13, r, u',');
    EXPECT_EQ(text, QStringLiteral("0,018 MOhm\r\n12,34 MOhm"));
    EXPECT_EQ(r.SecondResistivityValue, 1234);
    EXPECT_EQ(r.TemperatureValue, -7.5);
}

TEST(FormatChannelValue, TypesOutsideTheListGiveNoTextAndChangeNothing) {
    for (const int type : {-1, 16, 100}) {
        SCOPED_TRACE(type);
        MeasurementResults r = WithTemperature(1);
        r.OxygenUnitFlag = 3;
        r.ConductivityValue = 1234;
        const MeasurementResults before = r;
        EXPECT_EQ(FormatChannelValue(type, r, u'.'), QString());
        EXPECT_EQ(r, before);
    }
}

}  // namespace
}  // namespace merival

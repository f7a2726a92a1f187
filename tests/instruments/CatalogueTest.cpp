#include <gtest/gtest.h>

#include "instruments/Catalogue.h"

using namespace merival;

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The code of type number n: two base-16 digits, digit values 10..15 written as ':'..'?'.
QString CodeOf(int n) {
    return QString(QChar(48 + n / 16)) + QChar(48 + n % 16);
}

void ExpectUnit(const UnitResult& got, const char* unit, int divisor) {
    EXPECT_EQ(got.unit, U(unit));
    EXPECT_EQ(got.divisor, divisor);
}

}  // namespace

TEST(Catalogue, CodesDerivedFromTypeNumberGiveTheNames) {
    const char* names[] = {"Resistivimètre",
                           "Conductivimètre",
                           "pH-mètre",
                           "Rh-mètre",
                           "Oxygenemètre",
                           "Debitmètre",
                           "Chloremètre",
                           "Conductivimètre TOR",
                           "Conductivimètre NaCl",
                           "Conductivimètre NaOH",
                           "Conductivimètre HCl",
                           "Conductivimètre H2SO4",
                           "Turbidimètre",
                           "R_847",
                           "738",
                           "562 CHLORE LIBRE",
                           "562 CHLORE TOTAL",
                           "562 DIOXYDE CHLORE",
                           "562 OZONE",
                           "562 PEROX. HYDROGENE",
                           "562 ACIDE  PERACETIC"};
    for (int n = 1; n <= 21; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(InstrumentName(CodeOf(n)), U(names[n - 1]));
    }
    EXPECT_EQ(InstrumentName(QStringLiteral("0:")), U("Conductivimètre NaOH"));
    EXPECT_EQ(InstrumentName(QStringLiteral("15")).count(QStringLiteral("  ")), 1);
}

TEST(Catalogue, OtherCodesHaveTheEmptyName) {
    const char* codes[] = {"0A", "1", "", "00", "16", "01 "};
    for (const char* code : codes) {
        SCOPED_TRACE(code);
        EXPECT_EQ(InstrumentName(QString::fromLatin1(code)), QString());
    }
    EXPECT_EQ(InstrumentName(QString::fromLatin1("01\0", 3)), QString());
}

TEST(Catalogue, WordRulesLookUpTheCodeAndFallBackToPlaceholder) {
    struct Row {
        const char* rule;
        UnitResult (*fn)(qint16);
        qint16 range;
        const char* unit;
        int divisor;
    } rows[] = {
        {"resistivity", UnitForResistivity, 0, "Ohm", 10},
        {"resistivity", UnitForResistivity, 6, "MOhm", 10},
        {"resistivity", UnitForResistivity, 7, "____", 1},
        {"resistivity", UnitForResistivity, -1, "____", 1},
        {"resistivity", UnitForResistivity, 256, "____", 1},  // word, not byte
        {"conductivity", UnitForConductivity, 0, "µS", 1000},
        {"conductivity", UnitForConductivity, 4, "mS", 100},
        {"conductivity", UnitForConductivity, 5, "____", 1},
        {"tor", UnitForTorConductivity, 0, "mS", 1000},
        {"tor", UnitForTorConductivity, 3, "mS", 1000},
        {"tor", UnitForTorConductivity, 2, "mS", 10},
        {"tor", UnitForTorConductivity, 4, "____", 1},
        {"flow", UnitForFlow, 31, "m3/h", 1},
        {"flow", UnitForFlow, 40, "m3/s", 1000},
        {"flow", UnitForFlow, 50, "m3/s", 100},
        {"flow", UnitForFlow, 5, "____", 1},
        {"flow", UnitForFlow, 32, "____", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.rule) + " " + std::to_string(row.range));
        ExpectUnit(row.fn(row.range), row.unit, row.divisor);
    }
}

TEST(Catalogue, ByteRulesTakeUnitAndDivisorFromSeparateNibbles) {
    struct Row {
        const char* rule;
        UnitResult (*fn)(qint16);
        qint16 range;
        const char* unit;
        int divisor;
    } rows[] = {
        {"turbidity", UnitForTurbidity, 0x13, "FAU", 10},
        {"turbidity", UnitForTurbidity, 0x94, "____", 1},
        {"turbidity", UnitForTurbidity, 0x80, "", 1},
        {"turbidity", UnitForTurbidity, 0xF1, "____", 1000},
        {"turbidity", UnitForTurbidity, 0x1213, "FAU", 10},
        {"turbidity", UnitForTurbidity, -1, "____", 1},
        {"analyser", UnitForAnalyser, 0x72, "°C", 100},
        {"analyser", UnitForAnalyser, 0x60, "", 1},
        {"oxidant", UnitForOxidant, 0x21, "____", 1000},
        {"oxidant", UnitForOxidant, 0x14, "g/l", 1},
        {"oxidant", UnitForOxidant, 0x0F, "ppm", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.rule) + " " + std::to_string(row.range));
        ExpectUnit(row.fn(row.range), row.unit, row.divisor);
    }
}

TEST(Catalogue, OxygenKeepsOnlyBitZeroAndWritesItBack) {
    struct Row {
        qint16 range;
        const char* unit;
        int divisor;
        qint16 after;
    } rows[] = {{6, "%", 10, 0}, {7, "mg/l", 100, 1}, {0, "%", 10, 0}, {-1, "mg/l", 100, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.range);
        qint16 range = row.range;
        ExpectUnit(UnitForOxygen(range), row.unit, row.divisor);
        EXPECT_EQ(range, row.after);
    }
}

TEST(Catalogue, FixedRulesIgnoreTheRange) {
    ExpectUnit(UnitForPh(), "pH", 100);
    ExpectUnit(UnitForRedox(), "mV", 1);
    ExpectUnit(UnitForChlorine(), "mg/l", 1000);
    ExpectUnit(UnitForConcentration(), "%", 10);
}

TEST(Catalogue, NamesWithoutRuleGiveNothing) {
    // exact comparison: case, accents and spacing all count
    const char* names[] = {
        "",    "ph-mètre",  "pH-metre", "Debitmetre",          "562 ACIDE PERACETIC",
        "562", "562 AUTRE", "R_847 ",   "Conductivimètre nacl"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(UnitForInstrument(U(name), 0).has_value());
    }
}

TEST(Catalogue, PadTwoDigitsKeepsLastTwoOfZeroPrefixed) {
    struct Row {
        const char* in;
        const char* out;
    } rows[] = {{"5", "05"}, {"12", "12"}, {"123", "23"}, {"", "0"}, {"A", "0A"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        QString text = QString::fromLatin1(row.in);
        EXPECT_EQ(PadTwoDigits(text), QString::fromLatin1(row.out));
        EXPECT_EQ(text, QString::fromLatin1(row.out));
    }
}

#include <gtest/gtest.h>

#include "LoggerTestSupport.h"
#include "logger/LoggerFormat.h"

using namespace merival;

namespace {

template <typename F>
std::string Text(F append) {
    std::string out;
    append(out);
    return out;
}

}  // namespace

TEST(LoggerFields, QuotientIsShortestDecimalWithChosenSeparator) {
    struct Row {
        int raw;
        int divisor;
        char separator;
        const char* text;
    } rows[] = {
        {1234, 100, ',', "12,34"},
        {1230, 100, ',', "12,3"},
        {-5, 10, ',', "-0,5"},
        {1200, 100, ',', "12"},
        {5, 1000, ',', "0,005"},
        {-50, 1000, ',', "-0,05"},
        {-32768, 1, ',', "-32768"},
        {32767, 1000, '.', "32.767"},
        {-32768, 100, '.', "-327.68"},
        // divisors outside the catalogue still give 15 significant digits, no exponent
        {1, 3, ',', "0,333333333333333"},
        {1, 32767, '.', "0.0000305185094759972"},
        {10, -4, ',', "-2,5"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.raw) + "/" + std::to_string(row.divisor));
        EXPECT_EQ(
            Text([&](std::string& s) { AppendQuotient(s, row.raw, row.divisor, row.separator); }),
            row.text);
    }
    // no divisor, no text (and no division)
    EXPECT_EQ(Text([](std::string& s) { AppendQuotient(s, 5, 0, ','); }), "");
}

TEST(LoggerHeaderParse, ShortInputReadsAsZeroes) {
    // cut inside slot 2's type code: the rest reads as zero bytes
    const QByteArray full = test::ReadHexDump(QStringLiteral("dual.log.hex"));
    const LoggerHeader cut = ParseLoggerHeader(QByteArrayView(full).first(39));
    EXPECT_EQ(cut.bySlot[0].nameField, QByteArray("Station 1       "));
    EXPECT_EQ(cut.bySlot[0].typeCode, QStringLiteral("06"));
    EXPECT_EQ(cut.bySlot[1].typeCode, QString::fromLatin1("0\0", 2));
    EXPECT_EQ(cut.bySlot[0].range, 0);
}

TEST(LoggerOutputNames, NamesAreSafeFileNames) {
    struct Row {
        const char* instrument;
        QByteArray field;
        const char* fileName;
    } rows[] = {
        {"pH-mètre", "Bassin A        ", "pH-mètre_Bassin A.xls"},
        // only the first 15 characters, then trimmed
        {"pH-mètre", "  0123456789ABCDEF", "pH-mètre_0123456789ABC.xls"},
        {"", QByteArray(16, '\0'), "_.xls"},
        {"R_847", QByteArray("Cuve\0\0\0\0\0\0\0\0\0\0\0\0", 16), "R_847_Cuve.xls"},
        {"R_847",
         QByteArray("\xC9tang n\xB0"
                    "2      "),
         "R_847_Étang n°2.xls"},
        {"R_847", "../../etc/passwd", "R_847____.._etc_passw.xls"},
        {"R_847", "..\\..\\x        ", "R_847____.._x.xls"},
        {"R_847", " .hidden        ", "R_847__hidden.xls"},
        {"R_847", "<>:\"|?*         ", "R_847________.xls"},
        {"R_847", "tab\there\x01\x7F     ", "R_847_tab_here__.xls"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fileName);
        EXPECT_EQ(OutputFileName(QString::fromUtf8(row.instrument), row.field).toStdString(),
                  row.fileName);
    }
}

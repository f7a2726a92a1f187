#include <gtest/gtest.h>

#include "LoggerTestSupport.h"
#include "logger/LoggerFormat.h"
#include "logger/LoggerWriter.h"

using namespace merival;

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

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
        {712, 100, ',', "7,12"},
        {215, 10, ',', "21,5"},
        {1200, 100, ',', "12"},
        {0, 1000, ',', "0"},
        {5, 1000, ',', "0,005"},
        {-50, 1000, ',', "-0,05"},
        {1001, 1000, ',', "1,001"},
        {-32768, 1, ',', "-32768"},
        {32767, 1000, '.', "32.767"},
        {-32768, 100, '.', "-327.68"},
        {7, 1, '.', "7"},
        {99, 10, '.', "9.9"},
        // divisors outside the catalogue still give 15 significant digits, no exponent
        {1, 3, ',', "0,333333333333333"},
        {2, 3, ',', "0,666666666666667"},
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

TEST(LoggerFields, DateTimeAndTotaliserTexts) {
    struct Row {
        std::array<quint8, 3> date;
        const char* dateText;
    } dates[] = {{{0x12, 0x05, 0x23}, "12/5/23"},
                 {{0x00, 0x00, 0x00}, "0/0/0"},
                 {{0x0A, 0x01, 0x24}, "A/1/24"},
                 {{0xFF, 0x10, 0x09}, "FF/10/9"}};
    for (const auto& row : dates) {
        SCOPED_TRACE(row.dateText);
        EXPECT_EQ(Text([&](std::string& s) { AppendDate(s, row.date); }), row.dateText);
    }
    EXPECT_EQ(Text([](std::string& s) { AppendTime(s, {0x08, 0x00}); }), "8:0");
    EXPECT_EQ(Text([](std::string& s) { AppendTime(s, {0x23, 0x59}); }), "23:59");

    // stored 78 56 34 12 reads 12345678; single digits keep their leading zero
    EXPECT_EQ(Text([](std::string& s) { AppendTotaliser(s, 0x12345678); }), "12345678");
    EXPECT_EQ(Text([](std::string& s) { AppendTotaliser(s, 0x00000099); }), "00000099");
    EXPECT_EQ(Text([](std::string& s) { AppendTotaliser(s, 0x0A0B0C0D); }), "0A0B0C0D");
}

TEST(LoggerHeaderParse, ShortInputReadsAsZeroes) {
    const QByteArray full = test::ReadHexDump(QStringLiteral("dual.log.hex"));
    const LoggerHeader header = ParseLoggerHeader(full);
    EXPECT_EQ(header.bySlot[0].nameField, QByteArray("Station 1       "));
    EXPECT_EQ(header.bySlot[1].nameField, QByteArray("Double R        "));
    EXPECT_EQ(header.bySlot[0].typeCode, QStringLiteral("06"));
    EXPECT_EQ(header.bySlot[1].typeCode, QStringLiteral("0>"));
    EXPECT_EQ(header.bySlot[0].range, 10);
    EXPECT_EQ(header.bySlot[1].range, 2);

    // cut inside the second type code: the rest reads as zero bytes
    const LoggerHeader cut = ParseLoggerHeader(QByteArrayView(full).first(39));
    EXPECT_EQ(cut.bySlot[0].typeCode, QStringLiteral("06"));
    EXPECT_EQ(cut.bySlot[1].typeCode, QString::fromLatin1("0\0", 2));
    EXPECT_EQ(cut.bySlot[0].range, 0);

    const LoggerHeader none = ParseLoggerHeader({});
    EXPECT_EQ(none.bySlot[0].nameField, QByteArray(16, '\0'));
    EXPECT_EQ(PlanSlot(none, 0).instrumentName, QString());
}

TEST(LoggerWriterTest, WritesTheBytesOfTheHandWrittenDump) {
    LoggerHeader header;
    header.bySlot[0] = MakeLoggerSlot(QStringLiteral("Station 1"), QStringLiteral("06"), 10);
    header.bySlot[1] = MakeLoggerSlot(QStringLiteral("Double R"), QStringLiteral("0>"), 2);
    LoggerRecord r1;
    r1.date = {Bcd(1), Bcd(6), Bcd(24)};
    r1.time = {Bcd(10), Bcd(0)};
    r1.bySlot[0] = {BcdTotaliser(12345678), 1234, 205};
    r1.bySlot[1] = {1, 1800, 1234};
    LoggerRecord r2;
    r2.date = {Bcd(2), Bcd(6), Bcd(24)};
    r2.time = {Bcd(10), Bcd(15)};
    r2.bySlot[0] = {BcdTotaliser(99), 1230, -12};
    r2.bySlot[1] = {0, -32768, 32767};

    const QByteArray written = WriteLoggerFile(header, {r1, r2});
    const QByteArray dump = test::ReadHexDump(QStringLiteral("dual.log.hex"));
    ASSERT_EQ(written.size(), dump.size());
    // The dump has junk in the bytes nobody reads; compare the others.
    for (int i = 0; i < dump.size(); ++i) {
        const bool unread = (i >= 16 && i < 18) || (i >= 34 && i < 36) || (i >= 40 && i < 42) ||
                            (i >= 46 && i < 58) || (i >= 58 && (i - 58) % 22 == 9);
        if (!unread) {
            SCOPED_TRACE(i);
            EXPECT_EQ(written[i], dump[i]);
        }
    }
    EXPECT_EQ(ParseLoggerRecord(written.constData() + 58), r1);
    EXPECT_EQ(ParseLoggerRecord(written.constData() + 80), r2);
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
        {"pH-mètre", "0123456789ABCDEF", "pH-mètre_0123456789ABCDE.xls"},
        {"", QByteArray(16, '\0'), "_.xls"},
        {"", "                ", "_.xls"},
        {"R_847", QByteArray("Cuve\0\0\0\0\0\0\0\0\0\0\0\0", 16), "R_847_Cuve.xls"},
        {"R_847",
         QByteArray("\xC9tang n\xB0"
                    "2      "),
         "R_847_Étang n°2.xls"},
        {"R_847", "../../etc/passwd", "R_847____.._etc_passw.xls"},
        {"R_847", "..\\..\\x        ", "R_847____.._x.xls"},
        {"R_847", " .hidden        ", "R_847__hidden.xls"},
        {"R_847", "a.b.            ", "R_847_a.b..xls"},
        {"R_847", "<>:\"|?*         ", "R_847________.xls"},
        {"R_847", "tab\there\x01\x7F     ", "R_847_tab_here__.xls"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fileName);
        EXPECT_EQ(OutputFileName(U(row.instrument), row.field).toStdString(), row.fileName);
    }
}

TEST(LoggerOutputNames, SecondSlotOfTheSameNameGetsSuffix) {
    LoggerHeader header;
    header.bySlot[0] = MakeLoggerSlot(QStringLiteral("Cuve"), QStringLiteral("03"), 0);
    header.bySlot[1] = MakeLoggerSlot(QStringLiteral("Cuve"), QStringLiteral("03"), 0);
    EXPECT_EQ(ExportFileNames(PlanSlot(header, 0), PlanSlot(header, 1)),
              QStringList({U("pH-mètre_Cuve.xls"), U("pH-mètre_Cuve_2.xls")}));

    header.bySlot[1] = MakeLoggerSlot(QStringLiteral("CUVE"), QStringLiteral("03"), 0);
    EXPECT_EQ(ExportFileNames(PlanSlot(header, 0), PlanSlot(header, 1)).at(1),
              U("pH-mètre_CUVE_2.xls"));

    header.bySlot[1] = MakeLoggerSlot(QStringLiteral("Cuve"), QStringLiteral("04"), 0);
    EXPECT_EQ(ExportFileNames(PlanSlot(header, 0), PlanSlot(header, 1)).at(1),
              U("Rh-mètre_Cuve.xls"));

    // an empty slot 2 writes nothing, even with a name
    header.bySlot[1] = MakeLoggerSlot(QStringLiteral("Cuve"), QStringLiteral("99"), 0);
    EXPECT_EQ(ExportFileNames(PlanSlot(header, 0), PlanSlot(header, 1)).size(), 1);
}

TEST(LoggerOutputNames, LoggerLineKeepsSixteenBytesWithoutControls) {
    EXPECT_EQ(PrintableNameField("Bassin A        "), QByteArray("Bassin A        "));
    EXPECT_EQ(PrintableNameField(QByteArray("Cuve\0\r\n\t\xE9", 9) + QByteArray(7, '\0')),
              QByteArray("Cuve    \xE9       "));
}

#include <gtest/gtest.h>

#include <QLocale>
#include <cfloat>

#include "config/AppInfo.h"

using namespace merival;

TEST(NumericPrefix, ReadsTheLongestFittingPrefix) {
    const struct {
        const char* text;
        double want;
    } rows[] = {
        // Worked examples of the address rule.
        {"3", 3},
        {"12abc", 12},
        {"1 2", 12},
        {"2.5", 2.5},
        {"&HA", 10},
        {"7abc", 7},
        {"-3", -3},
        {"1e2", 100},
        {"&O17", 15},
        // Blanks anywhere; signs, points and exponents (D as well as E).
        {" \t\r\n 1\t4 ", 14},
        {"- 3", -3},
        {"& h 1f", 31},
        {"1 e 2", 100},
        {"+5", 5},
        {".5", 0.5},
        {"5.", 5},
        {"0.25.3", 0.25},
        {"1.5E-1", 0.15},
        {"2D3", 2000},
        {"2d+1", 20},
        {"1e", 1},
        {"1e+", 1},
        {"1ex", 1},
        {"0012", 12},
        {"-0", 0},
        {"3,5", 3},
        // Other bases stop at their first unfit digit.
        {"&hff", 255},
        {"&o777", 511},
        {"&O78", 7},
        {"&H1G", 1},
        {"&H0E", 14},
        // A based literal takes the sign of the smallest integer it fits.
        {"&H7FFF", 32767},
        {"&H8000", -32768},
        {"&HFFFF", -1},
        {"&H10000", 65536},
        {"&HFFFFFFFF", -1},
        {"&H100000000", 4294967296.0},
        {"&O177777", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const NumericPrefixRead read = ReadNumericPrefix(QString::fromUtf8(row.text));
        EXPECT_DOUBLE_EQ(read.value, row.want);
        EXPECT_TRUE(read.digits);
    }
    for (const char* text : {"", "abc", "-", ".", "+-1", "e5", ",5", "#TRUE#", "&", "&H", "&Hg",
                             "&O8", "&X10", "-&H1", "\xD9\xA3"}) {
        SCOPED_TRACE(text);
        const NumericPrefixRead read = ReadNumericPrefix(QString::fromUtf8(text));
        EXPECT_EQ(read.value, 0);
        EXPECT_FALSE(read.digits);
    }
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    EXPECT_DOUBLE_EQ(NumericPrefix(QStringLiteral("2.5")), 2.5);
    QLocale::setDefault(QLocale::c());
}

TEST(NumericPrefix, HugeValuesStayFinite) {
    const QString nines(400, u'9');
    const QString tiny = QStringLiteral("0.") + QString(400, u'0') + u'1';
    const std::pair<QString, double> rows[] = {
        {QStringLiteral("1e400"), DBL_MAX},
        {nines, DBL_MAX},
        {QStringLiteral("-") + nines + QStringLiteral("e-50"), -DBL_MAX},
        {QStringLiteral("&H") + QString(300, u'F'), DBL_MAX},
        {QStringLiteral("1e-400"), 0},
        {tiny + QStringLiteral("e-100"), 0},
        {tiny + QStringLiteral("e100"), 1e-301},
        {QStringLiteral("0.0001e309"), 1e305},
    };
    for (const auto& [text, want] : rows) {
        SCOPED_TRACE(text.left(30).toStdString());
        EXPECT_DOUBLE_EQ(NumericPrefix(text), want);
    }
}

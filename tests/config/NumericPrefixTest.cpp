#include <gtest/gtest.h>

#include <QLocale>
#include <cfloat>

#include "config/AppInfo.h"

using namespace merival;

TEST(NumericPrefix, ReadsTheLongestFittingPrefix) {
    struct Row {
        const char* text;
        double want;
        bool digits;
    } rows[] = {
        // Worked examples of the address rule.
        {"3", 3, true},
        {"12abc", 12, true},
        {"1 2", 12, true},
        {"2.5", 2.5, true},
        {"&HA", 10, true},
        {"", 0, false},
        {"7abc", 7, true},
        {"-3", -3, true},
        {"1e2", 100, true},
        {"&O17", 15, true},
        // Blanks anywhere, including inside the sign, prefix and exponent.
        {" \t\r\n 1\t4 ", 14, true},
        {"- 3", -3, true},
        {"& h 1f", 31, true},
        {"1 e 2", 100, true},
        // Signs, points and exponents.
        {"+5", 5, true},
        {".5", 0.5, true},
        {"5.", 5, true},
        {"0.25.3", 0.25, true},
        {"1.5E-1", 0.15, true},
        {"2D3", 2000, true},
        {"2d+1", 20, true},
        {"1e", 1, true},
        {"1e+", 1, true},
        {"1ex", 1, true},
        {"0012", 12, true},
        {"-0", 0, true},
        // Nothing fitting at the start.
        {"abc", 0, false},
        {"-", 0, false},
        {".", 0, false},
        {"+-1", 0, false},
        {"e5", 0, false},
        {",5", 0, false},
        {"#TRUE#", 0, false},
        {"&", 0, false},
        {"&H", 0, false},
        {"&Hg", 0, false},
        {"&O8", 0, false},
        {"&X10", 0, false},
        {"-&H1", 0, false},
        // Other bases stop at their first unfit digit; case does not matter.
        {"&hff", 255, true},
        {"&o777", 511, true},
        {"&O78", 7, true},
        {"&H1G", 1, true},
        {"&H0E", 14, true},
        // A based literal takes the sign of the smallest integer it fits.
        {"&H7FFF", 32767, true},
        {"&H8000", -32768, true},
        {"&HFFFF", -1, true},
        {"&H10000", 65536, true},
        {"&H7FFFFFFF", 2147483647, true},
        {"&HFFFFFFFF", -1, true},
        {"&H100000000", 4294967296.0, true},
        {"&O177777", -1, true},
        {"&O200000", 65536, true},
        // Only ASCII digits count; the point is never a comma.
        {"\xD9\xA3", 0, false},
        {"3,5", 3, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const NumericPrefixRead read = ReadNumericPrefix(QString::fromUtf8(row.text));
        EXPECT_DOUBLE_EQ(read.value, row.want);
        EXPECT_EQ(read.digits, row.digits);
        EXPECT_DOUBLE_EQ(NumericPrefix(QString::fromUtf8(row.text)), row.want);
    }
}

TEST(NumericPrefix, LocaleDoesNotChangeTheDecimalPoint) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    EXPECT_DOUBLE_EQ(NumericPrefix(QStringLiteral("2.5")), 2.5);
    EXPECT_DOUBLE_EQ(NumericPrefix(QStringLiteral("2,5")), 2);
    QLocale::setDefault(previous);
}

TEST(NumericPrefix, HugeValuesStayFinite) {
    const QString manyNines(400, u'9');
    struct Row {
        QString text;
        double want;
    } rows[] = {
        {QStringLiteral("1e400"), DBL_MAX},
        {QStringLiteral("-1e400"), -DBL_MAX},
        {manyNines, DBL_MAX},
        {QStringLiteral("&H") + QString(300, u'F'), DBL_MAX},
        {QStringLiteral("1e-400"), 0},
        {QStringLiteral("-0.") + QString(400, u'0') + u'1', 0},
        {QStringLiteral("0.") + QString(400, u'0') + QStringLiteral("1e-100"), 0},
        {QStringLiteral("0.") + QString(400, u'0') + QStringLiteral("1e100"), 1e-301},
        {QStringLiteral("0.0001e309"), 1e305},
        {QStringLiteral("1000e306"), DBL_MAX},
        {QStringLiteral("-") + manyNines + QStringLiteral("e-50"), -DBL_MAX},
        {QStringLiteral("1e99999999999999999999"), DBL_MAX},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.left(30).toStdString());
        const double v = NumericPrefix(row.text);
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_DOUBLE_EQ(v, row.want);
    }
}

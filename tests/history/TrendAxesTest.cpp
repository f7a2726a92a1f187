#include <gtest/gtest.h>

#include <QDateTime>
#include <QSet>

#include "history/TrendAxes.h"

namespace merival {
namespace {

QStringList Labels(const QList<AxisTick>& ticks) {
    QStringList labels;
    for (const AxisTick& t : ticks) {
        labels << t.label;
    }
    return labels;
}

qint64 Local(int day, int hour, int minute, int second = 0) {
    return QDateTime(QDate(2026, 3, day), QTime(hour, minute, second)).toMSecsSinceEpoch();
}

TEST(TrendAxes, ValuesAreRoundInPlainNotationWithTheLocaleSeparator) {
    EXPECT_EQ(Labels(ValueTicks(-0.4, 13.7, 8, u',')),
              (QStringList{"0", "2", "4", "6", "8", "10", "12"}));
    EXPECT_EQ(Labels(ValueTicks(6.93, 7.61, 8, u',')),
              (QStringList{"7,0", "7,1", "7,2", "7,3", "7,4", "7,5", "7,6"}));
    EXPECT_EQ(Labels(ValueTicks(-250000, 6100000, 8, u',')),
              (QStringList{"0", "1000000", "2000000", "3000000", "4000000", "5000000", "6000000"}));
    EXPECT_EQ(Labels(ValueTicks(-0.0012, 0.0011, 6, u'.')),
              (QStringList{"-0.0010", "-0.0005", "0.0000", "0.0005", "0.0010"}));
    EXPECT_TRUE(ValueTicks(3, 3, 8, u',').isEmpty());

    EXPECT_EQ(PlainNumber(5062320.4, u','), "5062320");
    EXPECT_EQ(PlainNumber(7.4, u','), "7,4");
    EXPECT_EQ(PlainNumber(-0.000123456, u','), "-0,000123456");
    EXPECT_EQ(PlainNumber(18.25, u','), "18,25");
    EXPECT_EQ(PlainNumber(-0.0000000001, u','), "0");
    EXPECT_EQ(PlainNumber(0, u','), "0");
}

TEST(TrendAxes, TimesFallOnRoundMinutesHoursOrDaysAndNeverRepeat) {
    struct Row {
        qint64 from, to;
        int maxTicks;
        QStringList expected;
    };
    const Row rows[] = {
        // The last hour seen at 22:58:57: whole ten minutes, not the seconds of the period.
        {Local(1, 21, 58, 57),
         Local(1, 22, 58, 57),
         9,
         {"22:00", "22:10", "22:20", "22:30", "22:40", "22:50"}},
        // Three minutes on a narrow chart: whole minutes, each once.
        {Local(1, 22, 54, 10), Local(1, 22, 57, 30), 4, {"22:55", "22:56", "22:57"}},
        // A day: every three hours, on the hour.
        {Local(1, 0, 30),
         Local(2, 0, 30),
         9,
         {"03:00", "06:00", "09:00", "12:00", "15:00", "18:00", "21:00", "00:00"}},
        // Two days: the date comes with the hour so that labels stay apart.
        {Local(1, 12, 0),
         Local(3, 12, 0),
         5,
         {"01/03 12:00", "02/03 00:00", "02/03 12:00", "03/03 00:00", "03/03 12:00"}},
        // A month: days at midnight.
        {Local(1, 8, 0), Local(29, 8, 0), 6, {"02/03", "09/03", "16/03", "23/03"}},
    };
    for (const Row& row : rows) {
        const QList<AxisTick> ticks = TimeTicks(row.from, row.to, row.maxTicks);
        SCOPED_TRACE(Labels(ticks).join(u' ').toStdString());
        EXPECT_EQ(Labels(ticks), row.expected);
        EXPECT_LE(ticks.size(), row.maxTicks);
        for (const AxisTick& t : ticks) {
            EXPECT_GE(t.at, row.from);
            EXPECT_LE(t.at, row.to);
            EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(qint64(t.at)).time().second(), 0);
        }
    }
}

}  // namespace
}  // namespace merival

#include "history/TrendAxes.h"

#include <QDateTime>
#include <QSet>
#include <cmath>

namespace merival {
namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

QString Fixed(double value, int decimals, QChar decimal) {
    QString text = QString::number(value, 'f', decimals);
    if (text.startsWith(u'-') && text.toDouble() == 0) {
        text.remove(0, 1);  // no "-0"
    }
    return text.replace(u'.', decimal);
}

// Every multiple of `step` after local midnight, day after day, inside the period.
QList<qint64> SubDayTimes(qint64 fromMs, qint64 toMs, qint64 step) {
    QList<qint64> times;
    for (QDate day = QDateTime::fromMSecsSinceEpoch(fromMs).date();
         QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch() <= toMs; day = day.addDays(1)) {
        const qint64 midnight = QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
        const qint64 next = QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
        const qint64 first =
            fromMs > midnight ? midnight + (fromMs - midnight + step - 1) / step * step : midnight;
        for (qint64 t = first; t < next && t <= toMs; t += step) {
            times.append(t);
        }
    }
    return times;
}

QList<qint64> DayTimes(qint64 fromMs, qint64 toMs, int days) {
    QList<qint64> times;
    for (QDate day = QDateTime::fromMSecsSinceEpoch(fromMs).date();
         QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch() <= toMs; day = day.addDays(1)) {
        const qint64 midnight = QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
        if (midnight >= fromMs && day.toJulianDay() % days == 0) {
            times.append(midnight);
        }
    }
    return times;
}

}  // namespace

QList<AxisTick> ValueTicks(double low, double high, int maxTicks, QChar decimal) {
    if (!std::isfinite(low) || !std::isfinite(high) || high <= low) {
        return {};
    }
    // The densest round step whose ticks fit.
    const int fewest = int(std::floor(std::log10((high - low) / std::max(1, maxTicks))));
    double step = 0;
    for (int power = fewest; step == 0 && power <= fewest + 2; ++power) {
        for (const double m : {1.0, 2.0, 5.0}) {
            const double s = m * std::pow(10.0, power);
            if (std::floor(high / s) - std::ceil(low / s) + 1 <= maxTicks) {
                step = s;
                break;
            }
        }
    }
    if (step == 0) {
        return {};
    }
    const int decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
    const double first = std::ceil(low / step);
    QList<AxisTick> ticks;
    for (double n = first; n <= std::floor(high / step); ++n) {
        ticks.append({n * step, Fixed(n * step, decimals, decimal)});
    }
    return ticks;
}

QList<AxisTick> TimeTicks(qint64 fromMs, qint64 toMs, int maxTicks) {
    if (toMs <= fromMs) {
        return {};
    }
    static const qint64 kSteps[] = {
        kSecond,  2 * kSecond, 5 * kSecond, 10 * kSecond, 15 * kSecond, 30 * kSecond,
        kMinute,  2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute, 30 * kMinute,
        kHour,    2 * kHour,   3 * kHour,   6 * kHour,    12 * kHour,   kDay,
        2 * kDay, 7 * kDay,    14 * kDay};
    qint64 step = kSteps[std::size(kSteps) - 1];
    for (const qint64 s : kSteps) {
        if ((toMs - fromMs) / s + 1 <= std::max(2, maxTicks)) {
            step = s;
            break;
        }
    }
    const QList<qint64> times =
        step < kDay ? SubDayTimes(fromMs, toMs, step) : DayTimes(fromMs, toMs, int(step / kDay));
    const auto labelled = [&times](const QString& format) {
        QList<AxisTick> ticks;
        QSet<QString> seen;
        for (const qint64 t : times) {
            const QString label = QDateTime::fromMSecsSinceEpoch(t).toString(format);
            if (seen.contains(label)) {
                return QList<AxisTick>();
            }
            seen.insert(label);
            ticks.append({double(t), label});
        }
        return ticks;
    };
    if (step >= kDay) {
        return labelled(QStringLiteral("dd/MM"));
    }
    const QString time = step < kMinute ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    QList<AxisTick> ticks = labelled(time);
    if (ticks.isEmpty() && !times.isEmpty()) {
        ticks = labelled(QStringLiteral("dd/MM ") + time);
    }
    return ticks;
}

QString PlainNumber(double value, QChar decimal, int significant) {
    if (!std::isfinite(value)) {
        return QString::number(value);
    }
    const int magnitude = value == 0 ? 0 : int(std::floor(std::log10(std::abs(value))));
    QString text = Fixed(value, std::clamp(significant - 1 - magnitude, 0, 9), u'.');
    if (text.contains(u'.')) {
        while (text.endsWith(u'0')) {
            text.chop(1);
        }
        if (text.endsWith(u'.')) {
            text.chop(1);
        }
    }
    return text.replace(u'.', decimal);
}

}  // namespace merival

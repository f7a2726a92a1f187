#pragma once

#include <QList>
#include <QString>

#include "base/Status.h"

namespace merival {

// One line of the alarm journal, as the report needs it.
struct JournalRow {
    qint64 ms = 0;  // UTC
    int channel = 0;
    QString tag;
    QString event;
};

// Alarm-management figures over a period; an alarm is a "Seuil haut", "Seuil bas" or "Perte
// de communication" event.
struct AlarmReport {
    struct Flood {
        qint64 fromMs = 0;
        qint64 toMs = 0;
        int alarms = 0;
        bool operator==(const Flood&) const = default;
    };
    struct Standing {
        int channel = 0;
        QString tag;
        QString cause;
        qint64 sinceMs = 0;
        qint64 untilMs = 0;  // the return to normal, or the end of the period
        bool stillActive = false;
        bool operator==(const Standing&) const = default;
    };
    struct Source {
        int channel = 0;
        QString tag;
        QString cause;
        int count = 0;
        bool operator==(const Source&) const = default;
    };

    qint64 fromMs = 0;
    qint64 toMs = 0;
    int alarms = 0;
    double perTenMinutes = 0;
    int peak = 0;
    qint64 peakAtMs = 0;       // start of the busiest ten minutes
    QList<Flood> floods;       // runs of ten-minute blocks with more than 10 alarms
    QList<Standing> standing;  // active more than 24 h
    QList<Source> chattering;  // count: activations that were the third or later within 60 s
    QList<Source> top;         // the ten sources with the most alarms
    int acknowledged = 0;
    int neverAcknowledged = 0;
    qint64 medianAckMs = 0;
    qint64 longestAckMs = 0;
};

inline constexpr qint64 kReportBlockMs = 600000;
inline constexpr int kFloodAlarms = 10;
inline constexpr qint64 kStandingMs = 24 * 3600000LL;
inline constexpr qint64 kChatterMs = 60000;
inline constexpr int kChatterAlarms = 3;

// Rows in time order; those outside [fromMs, toMs) are ignored. Ten-minute blocks start at
// fromMs.
[[nodiscard]] AlarmReport ComputeAlarmReport(const QList<JournalRow>& rows, qint64 fromMs,
                                             qint64 toMs);
// The report as French text, times local.
[[nodiscard]] QString FormatAlarmReport(const AlarmReport& report);

// Opens "historique.sqlite" read-only on a connection of that name in the calling thread, for
// the report: it may hold a journal and no history (recording off). Refuses a missing file or
// one that is not ours, with a French message; on failure the connection is removed again.
[[nodiscard]] Status OpenJournalReadOnly(const QString& connection, const QString& path);

// The journal's rows of [fromMs, toMs), in time order, on a connection opened in the calling
// thread. A file without a journal yet gives no rows.
[[nodiscard]] Status ReadJournalRows(const QString& connection, qint64 fromMs, qint64 toMs,
                                     QList<JournalRow>* rows);

}  // namespace merival

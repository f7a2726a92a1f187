#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QString>
#include <functional>
#include <limits>
#include <optional>

#include "base/Status.h"

namespace merival {

// A period [fromMs, toMs) in UTC milliseconds since the epoch.
struct HistoryPeriod {
    qint64 fromMs = 0;
    qint64 toMs = 0;
};

// "AAAA-MM-JJ" or "AAAA-MM-JJ HH:MM", local time. A start names its first instant; an end
// takes in the whole day or minute it names (the period ends at the next one). A time that
// does not exist locally (skipped by the spring change) gives nothing and, in `skipped`, why.
[[nodiscard]] std::optional<qint64> ParseHistoryDate(const QString& text, bool end,
                                                     QString* skipped = nullptr);

// One curve: a recorded number of one channel (or its temperature) with its unit. Each segment
// is a run of readings without a gap; a column of the chart gives its minimum then its maximum.
struct TrendSeries {
    int channel = 0;
    QString tag;
    QString name;
    QString unit;
    QList<QList<QPointF>> segments;  // x: UTC ms, y: value
};

struct TrendRequest {
    HistoryPeriod period;
    QList<int> channels;
    int columns = 1000;
};

struct TrendData {
    Status status;
    QList<TrendSeries> series;
};

// On a connection opened with OpenStorage in the calling thread. Short periods are read from
// the readings, long ones from the minute table; min/max per column are computed by SQLite.
[[nodiscard]] TrendData QueryTrend(const QString& connection, const TrendRequest& request);

struct ExportRequest {
    HistoryPeriod period{std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    int channel = -1;  // -1: every channel
};

// The CSV for French spreadsheets, in time order: BOM, header, CR LF, ";", `decimal` as the
// separator of numbers, local date and time, the date and time in UTC last. `sink` takes chunks and
// returns false on a write error, which stops the export. `rows` counts the readings written.
[[nodiscard]] Status ExportCsv(const QString& connection, const ExportRequest& request,
                               QChar decimal, const std::function<bool(const QByteArray&)>& sink,
                               qint64* rows = nullptr);

// The value texts as recorded, in time order (tools and tests).
struct StoredText {
    int channel = 0;
    qint64 tMs = 0;
    bool ok = false;
    QString text;
};
[[nodiscard]] Status ReadTexts(const QString& connection, const ExportRequest& request,
                               QList<StoredText>* texts);

}  // namespace merival

#include "history/HistoryQuery.h"

#include <sqlite3.h>

#include <QHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <charconv>
#include <cmath>
#include <map>

#include "history/HistoryBlocks.h"
#include "history/Storage.h"
#include "measure/ChannelReading.h"

namespace merival {
namespace {

struct Forme {
    QString tag;
    QString type;
    QString names[kNumberColumns];
    QString units[kNumberColumns];
};

QHash<int, Forme> LoadFormes(QSqlDatabase& db, QString* error) {
    QHash<int, Forme> formes;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT id, repere, type, nom1, unite1, nom2, unite2, nom3, "
                                   "unite3 FROM hist_formes"))) {
        *error = StorageErrorText(StorageHandle(db.connectionName()));
        return formes;
    }
    while (query.next()) {
        Forme f{query.value(1).toString(), query.value(2).toString(), {}, {}};
        for (int i = 0; i < kNumberColumns; ++i) {
            f.names[i] = query.value(3 + 2 * i).toString();
            f.units[i] = query.value(4 + 2 * i).toString();
        }
        formes.insert(query.value(0).toInt(), f);
    }
    return formes;
}

Status Damaged(const QSqlDatabase& db, const QString& error) {
    return Status::Error(
        QStringLiteral("Lecture de « %1 » impossible : %2.")
            .arg(QString::fromUtf8(sqlite3_db_filename(StorageHandle(db.connectionName()), "main")),
                 error));
}

// Readings per column above which a summary table is read instead.
constexpr qint64 kRawPerColumn = 8;
// A station that gave nothing for this long (at 1 Hz) leaves a gap.
constexpr double kRawGapMs = 10000;

// %1: the table, %2: its block in milliseconds.
const char* const kSummaryColumns =
    "SELECT max(0, (bloc * %2 - :from) * :cols / :span) AS col, forme, sum(n_ok), "
    "sum(n_hs), min(min1), max(max1), min(min2), max(max2), min(min3), max(max3), min(min_t), "
    "max(max_t) FROM %1 WHERE voie = :v AND bloc >= :from / %2 "
    "AND bloc <= (:to - 1) / %2 GROUP BY col, forme ORDER BY col";

struct Column {
    qint64 col;
    int forme;
    qint64 ok;
    qint64 hs;
    QVariant bounds[2 * (kNumberColumns + 1)];
};

// Min/max per column and forme straight from the readings of a channel.
bool RawColumns(sqlite3* db, int channel, const TrendRequest& request,
                std::vector<Column>& columns) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT bloc, donnees FROM hist_blocs WHERE voie = ? AND bloc >= ? "
                           "AND bloc <= ? ORDER BY bloc",
                           -1, &s, nullptr) != SQLITE_OK) {
        return false;
    }
    const qint64 from = request.period.fromMs;
    const qint64 span = request.period.toMs - from;
    sqlite3_bind_int(s, 1, channel);
    sqlite3_bind_int64(s, 2, from / kBlockMs - 1);
    sqlite3_bind_int64(s, 3, request.period.toMs / kBlockMs + 1);
    std::map<std::pair<qint64, int>, size_t> index;
    std::vector<BlockReading> readings;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        readings.clear();
        (void)DecodeBlock(sqlite3_column_int64(s, 0),
                          static_cast<const unsigned char*>(sqlite3_column_blob(s, 1)),
                          sqlite3_column_bytes(s, 1), readings);
        for (const BlockReading& r : readings) {
            if (r.tMs < from || r.tMs >= request.period.toMs) {
                continue;
            }
            const qint64 col = (r.tMs - from) * request.columns / span;
            auto [found, added] = index.try_emplace({col, r.forme}, columns.size());
            if (added) {
                columns.push_back({col, r.forme, 0, 0, {}});
            }
            Column& c = columns[found->second];
            (r.ok ? c.ok : c.hs) += 1;
            for (int i = 0; i < kSlots && r.ok; ++i) {
                if (!r.present[i]) {
                    continue;
                }
                QVariant& low = c.bounds[2 * i];
                QVariant& high = c.bounds[2 * i + 1];
                if (low.isNull() || r.values[i] < low.toDouble()) {
                    low = r.values[i];
                }
                if (high.isNull() || r.values[i] > high.toDouble()) {
                    high = r.values[i];
                }
            }
        }
    }
    sqlite3_finalize(s);
    std::stable_sort(columns.begin(), columns.end(),
                     [](const Column& a, const Column& b) { return a.col < b.col; });
    return rc == SQLITE_DONE;
}

class TrendBuilder {
public:
    TrendBuilder(const TrendRequest& request, double gapMs) : request_(request) {
        const double span = double(request.period.toMs - request.period.fromMs);
        colMs_ = span / request.columns;
        gapCols_ = std::max(2.5, gapMs / colMs_);
    }

    void AddChannel(int channel, const std::vector<Column>& columns,
                    const QHash<int, Forme>& formes) {
        std::map<qint64, bool> anyOk;
        for (const Column& c : columns) {
            anyOk[c.col] = anyOk[c.col] || c.ok > 0;
        }
        for (const Column& c : columns) {
            const auto forme = formes.constFind(c.forme);
            if (c.ok == 0 || forme == formes.cend()) {
                continue;
            }
            for (int i = 0; i <= kNumberColumns; ++i) {
                const bool temperature = i == kNumberColumns;
                const QString name = temperature ? QStringLiteral("Température") : forme->names[i];
                if (name.isEmpty() || c.bounds[2 * i].isNull()) {
                    continue;
                }
                const QString unit = temperature ? QStringLiteral("°C") : forme->units[i];
                Add(Series(channel, name, unit, forme->tag), c.col, anyOk,
                    c.bounds[2 * i].toDouble(), c.bounds[2 * i + 1].toDouble());
            }
        }
    }

    QList<TrendSeries> Take() {
        QList<TrendSeries> list;
        for (auto& [key, s] : series_) {
            list.append(std::move(s.series));
        }
        return list;
    }

private:
    struct Building {
        TrendSeries series;
        qint64 lastCol = -1;
    };

    Building& Series(int channel, const QString& name, const QString& unit, const QString& tag) {
        Building& b = series_[{channel, name + u'\n' + unit}];
        if (b.series.segments.isEmpty()) {
            b.series = {channel, tag, name, unit, {}};
        }
        b.series.tag = tag;
        return b;
    }

    void Add(Building& b, qint64 col, const std::map<qint64, bool>& anyOk, double min, double max) {
        if (col == b.lastCol) {
            // Another forme of the same column (its tag changed inside it): widen.
            QList<QPointF>& points = b.series.segments.last();
            const double x = points.last().x();
            points.append({x, min});
            points.append({x, max});
            return;
        }
        bool gap = b.series.segments.isEmpty() || col - b.lastCol > gapCols_;
        for (auto it = anyOk.upper_bound(b.lastCol); !gap && it != anyOk.end() && it->first < col;
             ++it) {
            gap = !it->second;  // a column where the station only read HS
        }
        if (gap) {
            b.series.segments.append(QList<QPointF>());
        }
        const double x = double(request_.period.fromMs) + (double(col) + 0.5) * colMs_;
        QList<QPointF>& points = b.series.segments.last();
        points.append({x, min});
        if (max != min) {
            points.append({x, max});
        }
        b.lastCol = col;
    }

    const TrendRequest& request_;
    double colMs_ = 1;
    double gapCols_ = 2.5;
    std::map<std::pair<int, QString>, Building> series_;
};

}  // namespace

std::optional<qint64> ParseHistoryDate(const QString& text, bool end, QString* skipped) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})(?: (\d{2}):(\d{2}))?$)"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const bool withTime = m.hasCaptured(4);
    const QTime time = withTime ? QTime(m.captured(4).toInt(), m.captured(5).toInt()) : QTime(0, 0);
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    // A local time the clocks skip (spring change) names no instant: refused rather than
    // silently moved.
    const auto local = [&](const QDate& d, const QTime& t) -> std::optional<QDateTime> {
        const QDateTime dt(d, t);
        if (!dt.isValid() || dt.date() != d || dt.time() != t) {
            if (skipped != nullptr) {
                *skipped = QStringLiteral(
                               "%1 %2 n'existe pas à l'heure locale (changement "
                               "d'heure) : choisissez une heure avant ou après.")
                               .arg(d.toString(QStringLiteral("yyyy-MM-dd")),
                                    t.toString(QStringLiteral("HH:mm")));
            }
            return std::nullopt;
        }
        return dt;
    };
    const std::optional<QDateTime> named = local(date, time);
    if (!named) {
        return std::nullopt;
    }
    if (!end) {
        return named->toMSecsSinceEpoch();
    }
    if (withTime) {
        return named->toMSecsSinceEpoch() + 60000;
    }
    const std::optional<QDateTime> next = local(date.addDays(1), QTime(0, 0));
    return next ? std::optional<qint64>(next->toMSecsSinceEpoch()) : std::nullopt;
}

TrendData QueryTrend(const QString& connection, const TrendRequest& request) {
    TrendData data;
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    const qint64 span = request.period.toMs - request.period.fromMs;
    if (span <= 0 || request.columns < 1) {
        return data;
    }
    QString error;
    const QHash<int, Forme> formes = LoadFormes(db, &error);
    // The readings for short periods, else the coarsest summary no coarser than a column.
    const double colMs = double(span) / request.columns;
    QString sql;
    double gapMs = kRawGapMs;
    if (span > kRawPerColumn * 1000 * request.columns) {
        for (const SummaryTable& table : kSummaryTables) {
            if (table.blockMs == kSummaryTables[0].blockMs || double(table.blockMs) <= colMs) {
                sql = QString::fromLatin1(kSummaryColumns)
                          .arg(QLatin1String(table.name))
                          .arg(table.blockMs);
                gapMs = 2.5 * double(table.blockMs);
            }
        }
    }
    TrendBuilder builder(request, gapMs);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (error.isEmpty() && !sql.isEmpty() && !query.prepare(sql)) {
        error = StorageErrorText(StorageHandle(connection));
    }
    for (int channel : request.channels) {
        if (!error.isEmpty()) {
            break;
        }
        std::vector<Column> columns;
        if (sql.isEmpty()) {
            if (!RawColumns(StorageHandle(connection), channel, request, columns)) {
                error = StorageErrorText(StorageHandle(connection));
                break;
            }
            builder.AddChannel(channel, columns, formes);
            continue;
        }
        query.bindValue(QStringLiteral(":from"), request.period.fromMs);
        query.bindValue(QStringLiteral(":to"), request.period.toMs);
        query.bindValue(QStringLiteral(":span"), span);
        query.bindValue(QStringLiteral(":cols"), request.columns);
        query.bindValue(QStringLiteral(":v"), channel);
        if (!query.exec()) {
            error = StorageErrorText(StorageHandle(connection));
            break;
        }
        while (query.next()) {
            Column c{query.value(0).toLongLong(),
                     query.value(1).toInt(),
                     query.value(2).toLongLong(),
                     query.value(3).toLongLong(),
                     {}};
            for (int i = 0; i < 2 * (kNumberColumns + 1); ++i) {
                c.bounds[i] = query.value(4 + i);
            }
            columns.push_back(std::move(c));
        }
        if (query.lastError().isValid()) {
            error = StorageErrorText(StorageHandle(connection));
        }
        builder.AddChannel(channel, columns, formes);
    }
    if (!error.isEmpty()) {
        data.status = Damaged(db, error);
        return data;
    }
    data.series = builder.Take();
    return data;
}

}  // namespace merival

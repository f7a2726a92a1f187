#include "notify/AlarmReport.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <array>
#include <memory>

#include "alarms/AlarmEngine.h"
#include "config/AppInfo.h"
#include "history/Storage.h"

namespace merival {
namespace {

enum Kind { kOther = -1, kHigh = 0, kLow = 1, kLoss = 2, kReturn = 3, kAcknowledge = 4 };
const QString kCauses[] = {alarm_event::kHigh, alarm_event::kLow, alarm_event::kLoss};

Kind KindOf(const QString& event) {
    if (event == alarm_event::kHigh)
        return kHigh;
    if (event == alarm_event::kLow)
        return kLow;
    if (event == alarm_event::kLoss)
        return kLoss;
    if (event == alarm_event::kReturn)
        return kReturn;
    if (event == alarm_event::kAcknowledge)
        return kAcknowledge;
    return kOther;
}

// What the report follows for one channel.
struct ChannelState {
    int cause = -1;  // of the active alarm, -1 when none
    qint64 activeSinceMs = 0;
    qint64 unacknowledgedSinceMs = -1;
    QString tag;
    std::array<int, 3> counts{};
    std::array<int, 3> chatter{};
    std::array<std::array<qint64, 2>, 3> lastTwo{};  // the two previous activations per cause
};

QString LocalText(qint64 ms, const QString& format) {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(format);
}

QString Duration(qint64 ms) {
    const qint64 s = ms / 1000;
    if (s >= 86400) {
        return QStringLiteral("%1 j %2 h").arg(s / 86400).arg(s % 86400 / 3600);
    }
    if (s >= 3600) {
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60, 2, 10, QChar(u'0'));
    }
    if (s >= 60) {
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QChar(u'0'));
    }
    return QStringLiteral("%1 s").arg(s);
}

QString Source(int channel, const QString& tag, const QString& cause) {
    return (tag.isEmpty() ? QStringLiteral("Voie %1").arg(channel)
                          : QStringLiteral("Voie %1 (%2)").arg(channel).arg(tag)) +
           QStringLiteral(", ") + cause;
}

}  // namespace

AlarmReport ComputeAlarmReport(const QList<JournalRow>& rows, qint64 fromMs, qint64 toMs) {
    AlarmReport r;
    r.fromMs = fromMs;
    r.toMs = std::max(toMs, fromMs);
    const qint64 blocks =
        std::max<qint64>(1, (r.toMs - fromMs + kReportBlockMs - 1) / kReportBlockMs);
    QList<int> perBlock(blocks, 0);
    std::array<ChannelState, kChannelCount> channels{};
    QList<qint64> ackDelays;
    for (const JournalRow& row : rows) {
        if (row.ms < fromMs || row.ms >= r.toMs || row.channel < 0 ||
            row.channel >= kChannelCount) {
            continue;
        }
        ChannelState& c = channels[size_t(row.channel)];
        c.tag = row.tag;
        const Kind kind = KindOf(row.event);
        if (kind == kHigh || kind == kLow || kind == kLoss) {
            ++r.alarms;
            ++perBlock[(row.ms - fromMs) / kReportBlockMs];
            ++c.counts[kind];
            auto& last = c.lastTwo[kind];
            if (last[0] > 0 && row.ms - last[0] <= kChatterMs) {
                ++c.chatter[kind];
            }
            last = {last[1], row.ms};
            if (c.cause < 0) {
                c.activeSinceMs = row.ms;
            }
            c.cause = kind;
            if (c.unacknowledgedSinceMs < 0) {
                c.unacknowledgedSinceMs = row.ms;
            }
        } else if (kind == kReturn && c.cause >= 0) {
            if (row.ms - c.activeSinceMs > kStandingMs) {
                r.standing.append(
                    {row.channel, c.tag, kCauses[c.cause], c.activeSinceMs, row.ms, false});
            }
            c.cause = -1;
        } else if (kind == kAcknowledge && c.unacknowledgedSinceMs >= 0) {
            ackDelays.append(row.ms - c.unacknowledgedSinceMs);
            c.unacknowledgedSinceMs = -1;
        }
    }
    for (int n = 0; n < kChannelCount; ++n) {
        const ChannelState& c = channels[size_t(n)];
        if (c.cause >= 0 && r.toMs - c.activeSinceMs > kStandingMs) {
            r.standing.append({n, c.tag, kCauses[c.cause], c.activeSinceMs, r.toMs, true});
        }
        r.neverAcknowledged += c.unacknowledgedSinceMs >= 0 ? 1 : 0;
        for (int cause = 0; cause < 3; ++cause) {
            if (c.counts[size_t(cause)] > 0) {
                r.top.append({n, c.tag, kCauses[cause], c.counts[size_t(cause)]});
            }
            if (c.chatter[size_t(cause)] > 0) {
                r.chattering.append({n, c.tag, kCauses[cause], c.chatter[size_t(cause)]});
            }
        }
    }
    const auto byCount = [](const AlarmReport::Source& a, const AlarmReport::Source& b) {
        return a.count != b.count ? a.count > b.count : a.channel < b.channel;
    };
    std::stable_sort(r.top.begin(), r.top.end(), byCount);
    r.top = r.top.mid(0, 10);
    std::stable_sort(r.chattering.begin(), r.chattering.end(), byCount);
    std::sort(r.standing.begin(), r.standing.end(),
              [](const auto& a, const auto& b) { return a.sinceMs < b.sinceMs; });

    r.perTenMinutes = double(r.alarms) / double(blocks);
    for (qint64 b = 0; b < blocks; ++b) {
        const int n = perBlock[b];
        const qint64 start = fromMs + b * kReportBlockMs;
        if (n > r.peak) {
            r.peak = n;
            r.peakAtMs = start;
        }
        if (n <= kFloodAlarms) {
            continue;
        }
        if (!r.floods.isEmpty() && r.floods.last().toMs == start) {
            r.floods.last().toMs = start + kReportBlockMs;
            r.floods.last().alarms += n;
        } else {
            r.floods.append({start, start + kReportBlockMs, n});
        }
    }
    r.acknowledged = int(ackDelays.size());
    if (!ackDelays.isEmpty()) {
        std::sort(ackDelays.begin(), ackDelays.end());
        const qsizetype mid = ackDelays.size() / 2;
        r.medianAckMs =
            ackDelays.size() % 2 ? ackDelays[mid] : (ackDelays[mid - 1] + ackDelays[mid]) / 2;
        r.longestAckMs = ackDelays.last();
    }
    return r;
}

QString FormatAlarmReport(const AlarmReport& r) {
    const QLocale french(QLocale::French, QLocale::France);
    const QString day = QStringLiteral("dd/MM/yyyy HH:mm");
    QString t = QStringLiteral("Rapport de gestion des alarmes\n");
    t += QStringLiteral("Période : du %1 au %2 (heure locale)\n\n")
             .arg(LocalText(r.fromMs, day), LocalText(r.toMs, day));
    t += QStringLiteral("Alarmes : %1\n").arg(r.alarms);
    t += QStringLiteral("Alarmes par 10 minutes : moyenne %1 ; pointe %2")
             .arg(french.toString(r.perTenMinutes, 'f', 2))
             .arg(r.peak);
    t += r.peak > 0 ? QStringLiteral(" (à partir du %1)\n").arg(LocalText(r.peakAtMs, day))
                    : QStringLiteral("\n");

    t += QStringLiteral("\nAvalanches (plus de %1 alarmes en 10 minutes) : %2\n")
             .arg(kFloodAlarms)
             .arg(r.floods.size());
    for (const auto& f : r.floods) {
        t += QStringLiteral("  du %1 au %2 : %3 alarmes\n")
                 .arg(LocalText(f.fromMs, day), LocalText(f.toMs, day))
                 .arg(f.alarms);
    }
    t += QStringLiteral("\nAlarmes permanentes (actives plus de 24 h) : %1\n")
             .arg(r.standing.size());
    for (const auto& s : r.standing) {
        t += QStringLiteral("  %1 : depuis le %2, %3%4\n")
                 .arg(Source(s.channel, s.tag, s.cause), LocalText(s.sinceMs, day),
                      Duration(s.untilMs - s.sinceMs),
                      s.stillActive ? QStringLiteral(" (toujours active)") : QString());
    }
    t += QStringLiteral("\nAlarmes intermittentes (%1 activations ou plus en une minute) : %2\n")
             .arg(kChatterAlarms)
             .arg(r.chattering.size());
    for (const auto& s : r.chattering) {
        t += QStringLiteral("  %1 : %2 activations en rafale\n")
                 .arg(Source(s.channel, s.tag, s.cause))
                 .arg(s.count);
    }
    t += QStringLiteral("\nSources les plus fréquentes :\n");
    if (r.top.isEmpty()) {
        t += QStringLiteral("  aucune alarme\n");
    }
    for (qsizetype i = 0; i < r.top.size(); ++i) {
        const auto& s = r.top[i];
        t += QStringLiteral("  %1. %2 : %3\n")
                 .arg(i + 1, 2)
                 .arg(Source(s.channel, s.tag, s.cause))
                 .arg(s.count);
    }
    t += QStringLiteral("\nDélai d'acquittement : ");
    t += r.acknowledged > 0 ? QStringLiteral("médiane %1 ; plus long %2 (%3 acquittements)")
                                  .arg(Duration(r.medianAckMs), Duration(r.longestAckMs))
                                  .arg(r.acknowledged)
                            : QStringLiteral("aucun acquittement");
    t += QStringLiteral(" ; non acquittées en fin de période : %1\n").arg(r.neverAcknowledged);
    return t;
}

Status OpenJournalReadOnly(const QString& connection, const QString& path) {
    const QString name = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (!QFileInfo(path).isFile()) {
        return Status::Error(QStringLiteral("Le fichier « %1 » est introuvable.").arg(name));
    }
    Status status;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        QSqlQuery id(db);
        if (!db.open() || !id.exec(QStringLiteral("PRAGMA application_id")) || !id.next()) {
            status = Status::Error(
                QStringLiteral("Le fichier « %1 » est endommagé ou n'est pas une base de "
                               "données SQLite.")
                    .arg(name));
        } else if (id.value(0).toLongLong() != kApplicationId) {
            status = Status::Error(
                QStringLiteral("Le fichier « %1 » n'est pas un journal de MERIVAL.").arg(name));
        }
    }
    if (!status.ok()) {
        CloseStorage(connection);
    }
    return status;
}

Status ReadJournalRows(const QString& connection, qint64 fromMs, qint64 toMs,
                       QList<JournalRow>* rows) {
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.tables().contains(QStringLiteral("journal_alarmes"))) {
        return Status::Ok();
    }
    // Straight from SQLite, in table order: a year of journal is a million rows, and a
    // QVariant per value or an index lookup per row costs more than the report.
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        return Status::Error(QStringLiteral("Le journal des alarmes n'est pas ouvert."));
    }
    sqlite3* sqlite = *static_cast<sqlite3* const*>(handle.data());
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(sqlite,
                       "SELECT t_ms, voie, repere, evenement FROM journal_alarmes NOT INDEXED "
                       "WHERE t_ms >= ? AND t_ms < ? ORDER BY id",
                       -1, &raw, nullptr);
    const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> query(raw, &sqlite3_finalize);
    if (!query) {
        return Status::Error(QStringLiteral("Le journal des alarmes n'a pas pu être lu (%1).")
                                 .arg(QString::fromUtf8(sqlite3_errmsg(sqlite))));
    }
    sqlite3_bind_int64(raw, 1, fromMs);
    sqlite3_bind_int64(raw, 2, toMs);
    // Tags and events repeat: one shared string each.
    QHash<QByteArray, QString> shared;
    const auto text = [&](int column) {
        const QByteArray bytes(reinterpret_cast<const char*>(sqlite3_column_text(raw, column)),
                               sqlite3_column_bytes(raw, column));
        auto it = shared.constFind(bytes);
        return it != shared.cend() ? *it : *shared.insert(bytes, QString::fromUtf8(bytes));
    };
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
        rows->append({sqlite3_column_int64(raw, 0), sqlite3_column_int(raw, 1), text(2), text(3)});
    }
    if (step != SQLITE_DONE) {
        return Status::Error(QStringLiteral("Le journal des alarmes n'a pas pu être lu (%1).")
                                 .arg(QString::fromUtf8(sqlite3_errmsg(sqlite))));
    }
    // Rows are written in time order, so the table's own order is almost always right; a
    // clock set back is put in order here.
    const auto earlier = [](const JournalRow& a, const JournalRow& b) { return a.ms < b.ms; };
    if (!std::is_sorted(rows->cbegin(), rows->cend(), earlier)) {
        std::stable_sort(rows->begin(), rows->end(), earlier);
    }
    return Status::Ok();
}

}  // namespace merival

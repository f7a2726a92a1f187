// History on a generated database of 30 days x 4 channels at 1 Hz (about 10 million
// readings): cost of recording one pass, trend data for 24 h and 30 days, CSV export speed,
// bytes per reading, then start and quit of the recorder and the journal on that file and on a
// year-long one made of twelve copies of it (bench-history/year.sqlite, about 1.8 GB).
//
//   bench_history [FILE]   (default: bench-history/historique.sqlite under the build; made
//                           once, about a minute, then reused)

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "alarms/AlarmJournal.h"
#include "history/HistoryBlocks.h"
#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "history/Storage.h"

using namespace merival;

namespace {

constexpr qint64 kDays = 30;
constexpr qint64 kSeconds = kDays * 24 * 3600;
const QString kGen = QStringLiteral("bench-gen");

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QString Comma(double v, int decimals) {
    return QString::number(v, 'f', decimals).replace(u'.', u',');
}

// Readings like the simulated stations give: a flow meter, a pH, a resistivity and a
// conductivity meter, with now and then a station that reads HS.
ChannelReading Reading(int channel, qint64 tMs, qint64 i) {
    ChannelReading r;
    r.time = QDateTime::fromMSecsSinceEpoch(tMs, Qt::UTC);
    r.channel = channel;
    // A daily cycle, a drift over days, a little noise; a pH excursion on day 27 and a
    // conductivity station out for three hours on day 20.
    constexpr double kTau = 6.283185307179586;
    const double day = double(i) / 86400.0;
    const double wave = std::sin(kTau * day + channel) + 0.4 * std::sin(kTau * day / 9 + channel) +
                        0.05 * std::sin(double(i) * 7.1);
    const bool excursion = channel == 1 && day > 26.1 && day < 26.2;
    r.ok = (i * 7 + channel) % 997 != 0 && !(channel == 3 && day > 19.5 && day < 19.625);
    static const char* const tags[] = {"Débit entrée", "pH bassin", "Eau ultrapure",
                                       "Conductivité rejet"};
    static const char* const types[] = {"Débitmètre", "pH", "Résistivité", "Conductivité"};
    r.tag = QString::fromUtf8(tags[channel]);
    r.typeName = QString::fromUtf8(types[channel]);
    if (!r.ok) {
        r.text = QStringLiteral("HS");
        return r;
    }
    const double temperature = std::round((20 + 2 * wave) * 10) / 10;
    r.temperature = temperature;
    const QString t = Comma(temperature, 1) + QStringLiteral("  °C");
    switch (channel) {
        case 0: {
            const double rate = std::round((4.5 + wave) * 1000) / 1000;
            const double daily = double(i % 86400) / 20;
            const double total = 6917000 + double(i) / 20;
            r.numbers = {
                {QStringLiteral("Débit"), rate, QStringLiteral("m3/h")},
                {QStringLiteral("Volume journalier"), std::floor(daily), QStringLiteral("m3")},
                {QStringLiteral("Volume cumulé"), std::floor(total), QStringLiteral("m3")}};
            r.text = QStringLiteral("  %1  m3/h    %2\r\n %3   m3  \r\n %4   m3  ")
                         .arg(Comma(rate, 3), t, QString::number(std::floor(daily)),
                              QString::number(std::floor(total), 'f', 0));
            break;
        }
        case 1: {
            const double ph = std::round((7.5 + wave / 2 + (excursion ? 1.6 : 0)) * 100) / 100;
            r.numbers = {{QStringLiteral("pH"), ph, QStringLiteral("pH")}};
            r.text = QStringLiteral("%1 pH     %2").arg(Comma(ph, 2), t);
            break;
        }
        case 2: {
            const double res = std::round((18 + wave) * 100) / 100;
            r.numbers = {{QStringLiteral("Résistivité"), res, QStringLiteral("MOhm")}};
            r.text = QStringLiteral("%1 MOhm %2").arg(Comma(res, 2), t);
            break;
        }
        default: {
            const double cond = std::round((55 + 3 * wave) * 100) / 100;
            r.numbers = {{QStringLiteral("Conductivité"), cond, QStringLiteral("µS")}};
            r.text = QStringLiteral(" %1  µS     %2").arg(Comma(cond, 2), t);
            break;
        }
    }
    return r;
}

struct Bounds {
    qint64 ok = 0;
    qint64 hs = 0;
    std::optional<double> low[4];
    std::optional<double> high[4];
};

// Fills the file with the recorder's own blocks and summaries, in large transactions.
bool Generate(const QString& path, qint64 startMs) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        QFile::remove(path + QLatin1String(suffix));
    }
    if (!OpenStorage(kGen, path, StorageAccess::Write).status.ok()) {
        return false;
    }
    sqlite3* db = StorageHandle(kGen);
    bool ok = true;
    {
        BlockWriter writer(db);
        std::map<std::tuple<int, int, qint64, int>, Bounds> summaries;  // table, voie, bloc, forme
        for (int c = 0; c < 4 && ok; ++c) {
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
            for (qint64 i = 0; i < kSeconds && ok; ++i) {
                const ChannelReading r = Reading(c, startMs + i * 1000 + c * 60, i);
                QStringList key{r.tag, r.typeName};
                BlockWriter::Reading stored{c, r.time.toMSecsSinceEpoch(), r.ok, r.text, {}};
                for (int n = 0; n < 3; ++n) {
                    key << (n < r.numbers.size() ? r.numbers[n].name : QString())
                        << (n < r.numbers.size() ? r.numbers[n].unit : QString());
                    if (n < r.numbers.size()) {
                        stored.values[n] = r.numbers[n].value;
                    }
                }
                stored.values[3] = r.temperature;
                const int forme = writer.Forme(key);
                ok = forme >= 0 && writer.Add(stored, forme);
                for (int t = 0; t < 2; ++t) {
                    Bounds& b = summaries[{t, c, stored.tMs / kSummaryTables[t].blockMs, forme}];
                    (r.ok ? b.ok : b.hs) += 1;
                    for (int n = 0; n < 4 && r.ok; ++n) {
                        if (stored.values[n]) {
                            b.low[n] = std::min(b.low[n].value_or(1e300), *stored.values[n]);
                            b.high[n] = std::max(b.high[n].value_or(-1e300), *stored.values[n]);
                        }
                    }
                }
            }
            ok = ok && writer.Flush() &&
                 sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
            writer.Committed();
            std::printf("  channel %d generated\n", c);
            std::fflush(stdout);
        }
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (const auto& [key, b] : summaries) {
            const auto& [table, voie, bloc, forme] = key;
            sqlite3_stmt* insert = nullptr;
            sqlite3_prepare_v2(
                db,
                QStringLiteral("INSERT INTO %1 VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                    .arg(QLatin1String(kSummaryTables[table].name))
                    .toUtf8()
                    .constData(),
                -1, &insert, nullptr);
            const qint64 ints[] = {voie, bloc, forme, b.ok, b.hs};
            for (int i = 0; i < 5; ++i) {
                sqlite3_bind_int64(insert, i + 1, ints[i]);
            }
            for (int n = 0; n < 4; ++n) {
                if (b.low[n]) {
                    sqlite3_bind_double(insert, 6 + 2 * n, *b.low[n]);
                    sqlite3_bind_double(insert, 7 + 2 * n, *b.high[n]);
                }
            }
            ok = ok && sqlite3_step(insert) == SQLITE_DONE;
            sqlite3_finalize(insert);
        }
        ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    CloseStorage(kGen);
    return ok;
}

// Start (the file opened and checked, a first pass committed) and quit (the writer stopped) of
// the recorder, then of the alarm journal, on the file as it is.
void StartAndQuit(const QString& file, qint64 last) {
    QElapsedTimer t;
    t.start();
    auto recorder = std::make_unique<HistoryRecorder>(file, 100000);
    recorder->Start();
    for (int c = 0; c < 4; ++c) {
        recorder->Add(Reading(c, (last / kBlockMs + 1) * kBlockMs + c * 60, 0));
    }
    recorder->EndPass();
    recorder->WaitWritten();
    const double start = t.nsecsElapsed() / 1e6;
    t.restart();
    recorder.reset();
    const double quit = t.nsecsElapsed() / 1e6;
    t.restart();
    auto journal = std::make_unique<AlarmJournal>(file);
    journal->Append({QDateTime::currentDateTimeUtc(), 0, QStringLiteral("bench"),
                     QStringLiteral("1"), QStringLiteral("bench")});
    journal.reset();
    const double journalled = t.nsecsElapsed() / 1e6;
    std::printf(
        "%s (%.0f MB): recorder start to first pass committed %.1f ms, quit %.1f ms; journal "
        "opened, one event written and closed %.1f ms\n",
        qPrintable(QFileInfo(file).fileName()), double(QFileInfo(file).size()) / 1e6, start, quit,
        journalled);
    // The bench rows go again so that the next run finds the file as generated.
    if (OpenStorage(QStringLiteral("clean"), file, StorageAccess::Write).status.ok()) {
        sqlite3* db = StorageHandle(QStringLiteral("clean"));
        sqlite3_exec(db,
                     QStringLiteral("DELETE FROM hist_blocs WHERE bloc > %1; DELETE FROM "
                                    "hist_minutes WHERE bloc > %2; DELETE FROM hist_10minutes "
                                    "WHERE bloc > %3; DELETE FROM journal_alarmes WHERE repere "
                                    "= 'bench'")
                         .arg(last / kBlockMs)
                         .arg(last / kSummaryTables[0].blockMs)
                         .arg(last / kSummaryTables[1].blockMs)
                         .toUtf8()
                         .constData(),
                     nullptr, nullptr, nullptr);
    }
    CloseStorage(QStringLiteral("clean"));
}

// A year of four channels: the month's blocks and summaries copied eleven times further back.
bool BuildYear(const QString& month, const QString& year) {
    if (!QFile::copy(month, year) || !OpenStorage(kGen, year, StorageAccess::Write).status.ok()) {
        return false;
    }
    sqlite3* db = StorageHandle(kGen);
    bool ok =
        sqlite3_exec(db, QStringLiteral("ATTACH '%1' AS month").arg(month).toUtf8().constData(),
                     nullptr, nullptr, nullptr) == SQLITE_OK;
    for (qint64 k = 1; k < 12 && ok; ++k) {
        const qint64 shiftMs = k * kSeconds * 1000;
        QString sql =
            QStringLiteral(
                "BEGIN; INSERT OR IGNORE INTO hist_blocs SELECT voie, bloc - %1, donnees FROM "
                "month.hist_blocs;")
                .arg(shiftMs / kBlockMs);
        for (const SummaryTable& table : kSummaryTables) {
            sql += QStringLiteral(
                       "INSERT OR IGNORE INTO %1 SELECT voie, bloc - %2, forme, n_ok, n_hs, min1, "
                       "max1, "
                       "min2, max2, min3, max3, min_t, max_t FROM month.%1;")
                       .arg(QLatin1String(table.name))
                       .arg(shiftMs / table.blockMs);
        }
        sql += QStringLiteral("COMMIT;");
        ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        std::printf("  month %lld copied\n", static_cast<long long>(k));
        std::fflush(stdout);
    }
    sqlite3_exec(db, "DETACH month; PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    CloseStorage(kGen);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString path =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : QStringLiteral(MERIVAL_BINARY_DIR "/bench-history/historique.sqlite");
    QDir().mkpath(QFileInfo(path).path());
    // The generated month ends one hour ago.
    const qint64 end = (QDateTime::currentMSecsSinceEpoch() / 3600000 - 1) * 3600000;
    const qint64 start = end - kSeconds * 1000;
    if (!QFileInfo::exists(path)) {
        std::printf("generating %s ...\n", qPrintable(path));
        QElapsedTimer t;
        t.start();
        if (!Generate(path, start)) {
            std::printf("generation failed\n");
            return 1;
        }
        std::printf("  generated in %.0f s\n", t.elapsed() / 1000.0);
    }

    if (const Status s = OpenStorage(QStringLiteral("bench"), path, StorageAccess::Read).status;
        !s.ok()) {
        std::printf("%s\n", qPrintable(s.message));
        return 1;
    }
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("bench"));
    QSqlQuery q(db);
    // The file is reused long after it was made: its own last block says where it ends.
    q.exec(QStringLiteral("SELECT max(bloc) FROM hist_blocs"));
    q.next();
    const qint64 lastBlockMs = q.value(0).toLongLong() * kBlockMs;
    q.finish();
    QList<StoredText> lastTexts;
    const Status read = ReadTexts(QStringLiteral("bench"),
                                  {{lastBlockMs, lastBlockMs + 2 * kBlockMs}, 3}, &lastTexts);
    if (!read.ok() || lastTexts.isEmpty()) {
        std::printf("reading the file failed: %s\n", qPrintable(read.message));
        return 1;
    }
    const qint64 last = lastTexts.last().tMs;
    q.exec(QStringLiteral("SELECT sum(n_ok + n_hs) FROM hist_minutes"));
    q.next();
    const qint64 readings = q.value(0).toLongLong();
    q.finish();
    const double bytes = double(QFileInfo(path).size());
    std::printf(
        "readings: %lld, file %.0f MB, %.1f bytes/reading, %.1f MB/day for 4 channels at 1 Hz\n",
        readings, bytes / 1e6, bytes / double(readings),
        bytes / double(readings) * 4 * 86400 / 1e6);

    for (const auto& [label, span] :
         {std::pair{"24 h", 24LL * 3600 * 1000}, std::pair{"30 days", kSeconds * 1000},
          std::pair{"1 h", 3600LL * 1000}}) {
        std::vector<double> times;
        std::vector<double> cpu;  // the wall time says little on a loaded machine
        int points = 0;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer t;
            t.start();
            const double cpu0 = CpuSeconds();
            const TrendData data = QueryTrend(QStringLiteral("bench"),
                                              {{last + 1 - span, last + 1}, {0, 1, 2, 3}, 1200});
            times.push_back(t.nsecsElapsed() / 1e6);
            cpu.push_back((CpuSeconds() - cpu0) * 1000);
            points = 0;
            for (const TrendSeries& s : data.series) {
                for (const auto& seg : s.segments) {
                    points += int(seg.size());
                }
            }
        }
        std::printf(
            "trend %s, 4 channels, 1200 columns: median %.1f ms, processor %.1f ms (%d "
            "points)\n",
            label, Median(times), Median(cpu), points);
    }

    {
        QElapsedTimer t;
        t.start();
        const double cpu0 = CpuSeconds();
        qint64 rows = 0;
        qint64 size = 0;
        const Status s = ExportCsv(
            QStringLiteral("bench"), {}, u',',
            [&](const QByteArray& chunk) {
                size += chunk.size();
                return true;
            },
            &rows);
        const double seconds = t.nsecsElapsed() / 1e9;
        const double cpu = CpuSeconds() - cpu0;
        std::printf(
            "export: %lld rows, %.0f MB of CSV in %.2f s = %.2f M rows/s (%.2f M rows per "
            "second of processor) %s\n",
            rows, size / 1e6, seconds, rows / seconds / 1e6, rows / cpu / 1e6,
            qPrintable(s.message));
    }
    db = QSqlDatabase();
    CloseStorage(QStringLiteral("bench"));

    StartAndQuit(path, last);
    const QString year = QFileInfo(path).dir().filePath(QStringLiteral("year.sqlite"));
    if (!QFileInfo::exists(year)) {
        std::printf("building %s from twelve copies of the month ...\n", qPrintable(year));
        if (!BuildYear(path, year)) {
            std::printf("building the year failed\n");
            return 1;
        }
    }
    std::printf("year-long file: %.0f MB\n", double(QFileInfo(year).size()) / 1e6);
    StartAndQuit(year, last);
    // Recording into the large file: the cycle's share and the writer's round trip.
    HistoryRecorder recorder(path, 100000);
    recorder.Start();
    recorder.WaitWritten();
    std::vector<double> cycle;
    std::vector<double> pass;
    for (qint64 i = 0; i < 500; ++i) {
        std::vector<ChannelReading> readings;
        for (int c = 0; c < 4; ++c) {
            readings.push_back(Reading(c, (last / kBlockMs + 1) * kBlockMs + i * 1000 + c * 60, i));
        }
        QElapsedTimer t;
        t.start();
        for (const ChannelReading& r : readings) {
            recorder.Add(r);
        }
        recorder.EndPass();
        cycle.push_back(t.nsecsElapsed() / 1e3);
        recorder.WaitWritten();
        pass.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf(
        "recording one pass of 4 readings: cycle thread median %.1f us, written and "
        "committed median %.3f ms (max %.3f ms)\n",
        Median(cycle), Median(pass), *std::max_element(pass.begin(), pass.end()));
    recorder.Stop();
    // The generated month stays as it was for the next run and the screenshots.
    if (OpenStorage(QStringLiteral("bench"), path, StorageAccess::Write).status.ok()) {
        QSqlDatabase again = QSqlDatabase::database(QStringLiteral("bench"));
        QSqlQuery(again).exec(
            QStringLiteral("DELETE FROM hist_blocs WHERE bloc > %1").arg(last / kBlockMs));
        for (const SummaryTable& table : kSummaryTables) {
            QSqlQuery(again).exec(QStringLiteral("DELETE FROM %1 WHERE bloc > %2")
                                      .arg(QLatin1String(table.name))
                                      .arg(last / table.blockMs));
        }
    }
    CloseStorage(QStringLiteral("bench"));
    return 0;
}

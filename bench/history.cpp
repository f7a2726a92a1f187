// History on a generated database of 30 days x 4 channels at 1 Hz (about 10 million
// readings): cost of recording one pass, trend data for 24 h and 30 days, CSV export speed,
// bytes per reading.
//
//   bench_history [FILE]   (default: bench-history/historique.sqlite under the build; made
//                           once, about a minute, then reused)

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
#include <memory>
#include <vector>

#include "history/HistoryDatabase.h"
#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"

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

// Fills the file with the recorder's own rows, in large transactions.
bool Generate(const QString& path, qint64 startMs) {
    QFile::remove(path);
    {
        HistoryRecorder recorder(path, 100000);
        recorder.Start();
        for (int c = 0; c < 4; ++c) {
            recorder.Add(Reading(c, startMs, 1));  // the formes
        }
        recorder.EndPass();
        recorder.WaitWritten();
    }
    if (!OpenHistory(kGen, path, true).ok()) {
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(kGen);
    QSqlQuery formes(db);
    formes.exec(QStringLiteral("SELECT id, type FROM hist_formes"));
    QHash<QString, int> forme;
    while (formes.next()) {
        forme.insert(formes.value(1).toString(), formes.value(0).toInt());
    }
    QSqlQuery hs(db);
    hs.exec(
        QStringLiteral("INSERT INTO hist_formes(repere, type, nom1, unite1, nom2, unite2, "
                       "nom3, unite3) VALUES('', 'HS', '', '', '', '', '', '') RETURNING id"));
    hs.next();
    const int hsForme = hs.value(0).toInt();
    hs.finish();
    QSqlQuery insert(db);
    insert.prepare(
        QStringLiteral("INSERT OR REPLACE INTO hist_mesures VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const QVariant null(QMetaType::fromType<double>());
    for (int c = 0; c < 4; ++c) {
        db.transaction();
        for (qint64 i = 0; i < kSeconds; ++i) {
            const ChannelReading r = Reading(c, startMs + i * 1000 + c * 60, i);
            insert.bindValue(0, c);
            insert.bindValue(1, r.time.toMSecsSinceEpoch());
            insert.bindValue(2, r.ok ? forme.value(r.typeName) : hsForme);
            insert.bindValue(3, r.ok ? 1 : 0);
            insert.bindValue(4, r.text);
            for (int n = 0; n < 3; ++n) {
                insert.bindValue(5 + n, n < r.numbers.size() && r.numbers[n].value
                                            ? QVariant(*r.numbers[n].value)
                                            : null);
            }
            insert.bindValue(8, r.temperature ? QVariant(*r.temperature) : null);
            insert.exec();
        }
        db.commit();
        std::printf("  channel %d generated\n", c);
        std::fflush(stdout);
    }
    QSqlQuery minutes(db);
    bool ok = true;
    for (const SummaryTable& table : kSummaryTables) {
        ok = ok && minutes.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table.name))) &&
             minutes.exec(
                 QStringLiteral("INSERT INTO %1 SELECT voie, t_ms / %2, forme, sum(ok), "
                                "count(*) - sum(ok), min(v1), max(v1), min(v2), max(v2), min(v3), "
                                "max(v3), min(temperature), max(temperature) FROM hist_mesures "
                                "GROUP BY 1, 2, 3")
                     .arg(QLatin1String(table.name))
                     .arg(table.blockMs));
    }
    minutes.finish();
    QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    CloseHistory(kGen);
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

    if (const Status s = OpenHistory(QStringLiteral("bench"), path, false); !s.ok()) {
        std::printf("%s\n", qPrintable(s.message));
        return 1;
    }
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("bench"));
    QSqlQuery q(db);
    q.exec(QStringLiteral("SELECT count(*), min(t_ms), max(t_ms) FROM hist_mesures"));
    q.next();
    const qint64 readings = q.value(0).toLongLong();
    const qint64 first = q.value(1).toLongLong();
    const qint64 last = q.value(2).toLongLong();
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
        int points = 0;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer t;
            t.start();
            const TrendData data = QueryTrend(QStringLiteral("bench"),
                                              {{last + 1 - span, last + 1}, {0, 1, 2, 3}, 1200});
            times.push_back(t.nsecsElapsed() / 1e6);
            points = 0;
            for (const TrendSeries& s : data.series) {
                for (const auto& seg : s.segments) {
                    points += int(seg.size());
                }
            }
        }
        std::printf("trend %s, 4 channels, 1200 columns: median %.1f ms (%d points)\n", label,
                    Median(times), points);
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
    CloseHistory(QStringLiteral("bench"));

    {
        // Turning recording off while the writer still checks the large file.
        auto early = std::make_unique<HistoryRecorder>(path, 100000);
        early->Start();
        QThread::msleep(200);
        QElapsedTimer t;
        t.start();
        early.reset();
        std::printf("stopping during the first check of the file: %.1f ms\n",
                    t.nsecsElapsed() / 1e6);
    }
    // Recording into the large file: the cycle's share and the writer's round trip.
    HistoryRecorder recorder(path, 100000);
    recorder.Start();
    recorder.WaitWritten();
    std::vector<double> cycle;
    std::vector<double> pass;
    for (qint64 i = 0; i < 500; ++i) {
        std::vector<ChannelReading> readings;
        for (int c = 0; c < 4; ++c) {
            readings.push_back(Reading(c, last + 1000 + i * 1000 + c * 60, i));
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
    (void)first;
    recorder.Stop();
    // The generated month stays as it was for the next run and the screenshots.
    if (OpenHistory(QStringLiteral("bench"), path, true).ok()) {
        QSqlDatabase again = QSqlDatabase::database(QStringLiteral("bench"));
        QSqlQuery(again).exec(QStringLiteral("DELETE FROM hist_mesures WHERE t_ms > %1").arg(last));
        for (const SummaryTable& table : kSummaryTables) {
            QSqlQuery(again).exec(QStringLiteral("DELETE FROM %1 WHERE bloc > %2")
                                      .arg(QLatin1String(table.name))
                                      .arg(last / table.blockMs));
        }
    }
    CloseHistory(QStringLiteral("bench"));
    return 0;
}

// The alarm-management report over a year of journal: about a million events (an alarm, its
// acknowledgement and its return every 1.5 minutes on average on four channels, and floods)
// in a generated "historique.sqlite", read and computed as `merival-history
// --rapport-alarmes` does.
//
//   bench_alarm_report [FILE]   (default: bench-report/historique.sqlite under the build;
//                                made once, then reused)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <cstdio>
#include <ctime>

#include "alarms/AlarmEngine.h"
#include "history/Storage.h"
#include "notify/AlarmReport.h"

using namespace merival;

namespace {

constexpr qint64 kYearMs = 365LL * 24 * 3600000;

// Processor time: on a shared machine the wall clock also counts the others' work.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

bool Generate(const QString& path, qint64 startMs) {
    const QString connection = QStringLiteral("bench-gen");
    if (!OpenStorage(connection, path, StorageAccess::Write).status.ok()) {
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(connection);
        QSqlQuery(db).exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS journal_alarmes(id INTEGER PRIMARY KEY, t_ms INTEGER NOT "
            "NULL, voie INTEGER NOT NULL, repere TEXT NOT NULL, texte TEXT NOT NULL, evenement "
            "TEXT NOT NULL)"));
        QSqlQuery(db).exec(QStringLiteral(
            "CREATE INDEX IF NOT EXISTS journal_alarmes_t ON journal_alarmes(t_ms)"));
        db.transaction();
        QSqlQuery insert(db);
        insert.prepare(
            QStringLiteral("INSERT INTO journal_alarmes(t_ms, voie, repere, texte, "
                           "evenement) VALUES(?, ?, ?, ?, ?)"));
        QRandomGenerator random(7);
        const QString tags[] = {"Entrée", "Bassin", "Sortie", "Rejet"};
        const QString causes[] = {alarm_event::kHigh, alarm_event::kLow, alarm_event::kLoss};
        const auto add = [&](qint64 t, int channel, const QString& event) {
            insert.addBindValue(t);
            insert.addBindValue(channel);
            insert.addBindValue(tags[channel]);
            insert.addBindValue(QStringLiteral("7,2 pH"));
            insert.addBindValue(event);
            insert.exec();
        };
        for (qint64 t = startMs; t < startMs + kYearMs;) {
            const int channel = int(random.bounded(4));
            // One burst in a thousand: a flood of alarms a few seconds apart.
            const int burst = random.bounded(1000) == 0 ? 40 : 1;
            for (int i = 0; i < burst; ++i) {
                add(t, channel, causes[random.bounded(3)]);
                add(t + 4000, channel, alarm_event::kAcknowledge);
                add(t + 5000, channel, alarm_event::kReturn);
                t += 6000;
            }
            t += 60000 + random.bounded(60000);
        }
        db.commit();
    }
    CloseStorage(connection);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString path = argc > 1
                             ? QString::fromLocal8Bit(argv[1])
                             : QStringLiteral(MERIVAL_BINARY_DIR "/bench-report/historique.sqlite");
    const qint64 start = QDateTime(QDate(2025, 1, 1), QTime(0, 0)).toMSecsSinceEpoch();
    if (!QFileInfo::exists(path)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        std::printf("Generating a year of journal in %s ...\n", qPrintable(path));
        if (!Generate(path, start)) {
            std::fprintf(stderr, "generation failed\n");
            return 1;
        }
    }
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = CpuMs();
        const QString connection = QStringLiteral("bench-read");
        QList<JournalRow> rows;
        if (!OpenJournalReadOnly(connection, path).ok() ||
            !ReadJournalRows(connection, start, start + kYearMs, &rows).ok()) {
            std::fprintf(stderr, "reading failed\n");
            return 1;
        }
        CloseStorage(connection);
        const qint64 readMs = timer.elapsed();
        const AlarmReport report = ComputeAlarmReport(rows, start, start + kYearMs);
        const QString text = FormatAlarmReport(report);
        const qint64 totalMs = timer.elapsed();
        const double cpuMs = CpuMs() - cpuStart;
        std::printf(
            "run %d: %lld journal rows, %d alarms, %lld floods, %lld chattering: read "
            "%lld ms, computed %lld ms, total %lld ms, processor %.0f ms (target < 2000 "
            "ms)\n",
            run + 1, qlonglong(rows.size()), report.alarms, qlonglong(report.floods.size()),
            qlonglong(report.chattering.size()), qlonglong(readMs), qlonglong(totalMs - readMs),
            qlonglong(totalMs), cpuMs);
    }
    return 0;
}

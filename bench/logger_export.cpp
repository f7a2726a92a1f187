// Export speed and memory of a large logger file: wall time and peak RSS around the export of
// 100,000 and then 1,000,000 records. Memory must not grow with the file size.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "logger/LoggerExport.h"
#include "logger/LoggerWriter.h"

using namespace merival;

namespace {

class SilentOperator : public Operator {
public:
    void beep() override {}
    void message(const QString&, const QString&, OperatorIcon) override {}
    bool askYesNo(const QString&, const QString&, OperatorIcon) override { return true; }
};

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Written in slices so that the writer does not weigh on the peak memory.
bool WriteLogger(const QString& path, int count) {
    LoggerHeader header;
    header.bySlot[0] = MakeLoggerSlot(QStringLiteral("Debit"), QStringLiteral("06"), 10);
    header.bySlot[1] = MakeLoggerSlot(QStringLiteral("Cuve"), QStringLiteral("03"), 0);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray slice = WriteLoggerHeader(header);
    for (int i = 0; i < count; ++i) {
        LoggerRecord r;
        r.date = {Bcd(i % 28 + 1), Bcd(i / 28 % 12 + 1), Bcd(24)};
        r.time = {Bcd(i / 60 % 24), Bcd(i % 60)};
        r.bySlot[0] = {BcdTotaliser(static_cast<quint32>(i)),
                       static_cast<qint16>(i % 30000 - 15000), static_cast<qint16>(i % 400)};
        r.bySlot[1] = {0, static_cast<qint16>(i % 1400), static_cast<qint16>(200 + i % 50)};
        AppendLoggerRecord(slice, r);
        if (slice.size() > (1 << 20)) {
            file.write(slice);
            slice.clear();
        }
    }
    return file.write(slice) == slice.size() && file.flush();
}

void Measure(const QTemporaryDir& dir, int count, bool withProgress) {
    const QString logger = dir.filePath(QStringLiteral("bench.log"));
    if (!WriteLogger(logger, count)) {
        std::printf("cannot write %s\n", qPrintable(logger));
        return;
    }
    SilentOperator op;
    ExportOptions options;
    options.outputDirectory = QDir(dir.path());
    long long lines = 0;
    ExportProgress progress;
    if (withProgress) {
        progress = [&lines](const QString&) { ++lines; };
    }
    const long before = PeakRssKb();
    QElapsedTimer timer;
    timer.start();
    const Status status = ExportLoggerFile(logger, op, progress, options);
    const qint64 ms = timer.elapsed();
    const long after = PeakRssKb();
    std::printf(
        "%9d records, progress %-3s: %s  %6lld ms  %7.0f ns/record  peak RSS before %ld kB, "
        "after %ld kB\n",
        count, withProgress ? "on" : "off", status.ok() ? "ok   " : "ERROR", ms,
        1e6 * static_cast<double>(ms) / count, before, after);
    QFile::remove(logger);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    for (int count : {100000, 1000000}) {
        Measure(dir, count, false);
    }
    for (int count : {100000, 1000000}) {
        Measure(dir, count, true);
    }
    return 0;
}

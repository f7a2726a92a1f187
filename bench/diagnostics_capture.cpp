// What watching the line costs: the pass time over four answering stations at 9600 baud
// (merival-sim pacing the line) with and without the exchange log on the transport, passes
// alternating in blocks; the processor time of recording one exchange; and the ring's size and
// the memory held after 100,000 exchanges, babbling replies included. Prints figures only.
//
//   bench_diagnostics_capture [passes per mode]      (default 60)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <vector>

#include "bench/FourStations.h"
#include "config/ChannelStore.h"
#include "diagnostics/ExchangeLog.h"
#include "instruments/Frame.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

namespace {

using namespace merival;

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

long ResidentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4 : -1;
}

struct Summary {
    double mean = 0, median = 0, min = 0, max = 0;
};

Summary Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {std::accumulate(v.begin(), v.end(), 0.0) / double(v.size()), v[v.size() / 2], v.front(),
            v.back()};
}

void Print(const char* label, const std::vector<double>& values) {
    const Summary s = Summarise(values);
    std::printf("  %-28s n=%3zu  mean %7.2f  median %7.2f  min %7.2f  max %7.2f ms\n", label,
                values.size(), s.mean, s.median, s.min, s.max);
}

int PassTimes(int passesPerMode) {
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QProcess sim;
    if (!bench::StartSimulator(sim, dir.path(),
                               QStringList{"--pace", "--baud", "9600", "--seed", "3", "1:ph",
                                           "2:resistivity", "3:conductivity", "4:flow"})) {
        return 1;
    }
    bench::FourStations line;
    if (!line.Open()) {
        return 1;
    }
    auto& transport = line.transport;
    auto& cycle = line.cycle;
    ExchangeLog log;
    QObject::connect(&cycle, &MeasurementCycle::polling, &log, &ExchangeLog::setChannel);
    int hs = 0;
    QObject::connect(&cycle, &MeasurementCycle::valueText, &cycle,
                     [&](int, const QString& text) { hs += text == QStringLiteral("HS"); });

    cycle.RunMeasurementCycle();  // warm-up
    std::vector<double> off, on;
    constexpr int kBlock = 10;
    for (int done = 0; done < passesPerMode; done += kBlock) {
        for (const bool watched : {false, true}) {
            transport.setObserver(watched ? &log : nullptr);
            for (int i = 0; i < kBlock; ++i) {
                QElapsedTimer t;
                t.start();
                cycle.RunMeasurementCycle();
                (watched ? on : off).push_back(double(t.nsecsElapsed()) / 1e6);
            }
        }
    }
    transport.ClosePort();
    sim.terminate();
    sim.waitForFinished(5000);

    std::printf("pass over 4 answering stations, 9600 baud, paced simulator (%d HS)\n", hs);
    Print("without the exchange log", off);
    Print("with the exchange log", on);
    const double a = Summarise(off).mean, b = Summarise(on).mean;
    const double ma = Summarise(off).median, mb = Summarise(on).median;
    std::printf("  difference: mean %+.3f ms (%+.2f %%), median %+.3f ms (%+.2f %%)\n", b - a,
                100 * (b - a) / a, mb - ma, 100 * (mb - ma) / ma);
    std::printf("  exchanges recorded: %llu\n", static_cast<unsigned long long>(log.lastSeq()));
    return 0;
}

ExchangeRecord SampleRecord(int i) {
    ExchangeRecord r;
    r.time = 1700000000000 + i;
    r.port = 1;
    r.request = BuildReadRequest(quint8(1 + i % 4), 3, 0, 8).frame;
    r.expectedLength = 21;
    QByteArray reply =
        QByteArray(1, char(1 + i % 4)) + QByteArray::fromHex("0310") + QByteArray(16, char(i));
    r.reply = reply + FrameCrc(reply);
    if (i % 50 == 0) {
        r.reply = QByteArray(Transport::kMaxPending, char(i));  // babble
    }
    r.firstByteMs = 20;
    r.lastByteMs = 40;
    return r;
}

void RingBound() {
    constexpr int kExchanges = 100000;
    // Cost: the transport has made the record already; the log copies and counts.
    std::vector<ExchangeRecord> records;
    for (int i = 0; i < 1000; ++i) {
        records.push_back(SampleRecord(i));
    }
    {
        ExchangeLog log;
        const double cpu0 = CpuMs();
        for (int i = 0; i < kExchanges; ++i) {
            log.setChannel(i % 4);
            log.exchanged(records[size_t(i % 1000)]);
        }
        const double cpu = CpuMs() - cpu0;
        std::printf("recording one exchange: %.2f us of processor time (%d exchanges in %.1f ms)\n",
                    1000 * cpu / kExchanges, kExchanges, cpu);
    }

    // Memory: every reply its own bytes, as from the line.
    const long before = ResidentKb();
    ExchangeLog log;
    const long empty = ResidentKb();
    qsizetype largest = 0;
    for (int i = 0; i < kExchanges; ++i) {
        log.setChannel(i % 4);
        log.exchanged(SampleRecord(i));
        largest = std::max(largest, log.size());
    }
    qsizetype payload = 0;
    for (const ExchangeEvent& e : log.Since(0)) {
        payload += e.reply.size() + e.request.size();
    }
    const long after = ResidentKb();
    std::printf("ring after %d exchanges (one in 50 a %lld-byte babble)\n", kExchanges,
                static_cast<long long>(Transport::kMaxPending));
    std::printf(
        "  size %lld, largest ever %lld, capacity %lld; %.1f KiB of frame bytes kept, "
        "events %zu B each\n",
        static_cast<long long>(log.size()), static_cast<long long>(largest),
        static_cast<long long>(log.capacity()), double(payload) / 1024, sizeof(ExchangeEvent));
    std::printf(
        "  resident memory: %ld KiB before the log, %ld KiB with the empty ring, "
        "%ld KiB after\n",
        before, empty, after);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int passes = argc > 1 ? std::max(10, std::atoi(argv[1])) : 60;
    RingBound();
    return PassTimes(passes);
}

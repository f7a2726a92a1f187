// Event-loop latency while "Trafic de la ligne" follows a line at full speed: the measurement
// cycle runs passes back to back over four stations of merival-sim (one with faults), the
// window shows every exchange, and a 5 ms timer's gaps are printed (max, mean, 99th
// percentile), as bench_export_dialog measures them. The log starts full, so the table drops
// its oldest rows all along. First with the simulator pacing a 9600 baud line, then with
// replies written at once. Offscreen platform unless another is set.
//
//   bench_diagnostics_window [seconds per run]      (default 10)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/Operator.h"
#include "bench/FourStations.h"
#include "config/ChannelStore.h"
#include "diagnostics/ExchangeLog.h"
#include "diagnostics/windows/TraficLigne.h"
#include "instruments/Frame.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

using namespace merival;

namespace {

class QuietOperator : public Operator {
public:
    void beep() override {}
    void message(const QString&, const QString&, OperatorIcon) override {}
    bool askYesNo(const QString&, const QString&, OperatorIcon) override { return true; }
};

void Fill(ExchangeLog& log) {
    for (int i = 0; i < ExchangeLog::kCapacity; ++i) {
        ExchangeRecord r;
        r.time = QDateTime::currentMSecsSinceEpoch();
        r.request = BuildReadRequest(quint8(1 + i % 4), 3, 0, 8).frame;
        r.reply = r.request;
        r.expectedLength = 21;
        log.setChannel(i % 4);
        log.exchanged(r);
    }
    log.setChannel(-1);
}

int Run(bool paced, int seconds) {
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QProcess sim;
    QStringList arguments = {"--seed", "9",
                             "1:ph",   "2:resistivity",
                             "3:flow", "4:562:badcrc=0.1:long=0.1:noise=0.1:echo=0.2"};
    if (paced) {
        arguments = QStringList{"--pace", "--baud", "9600"} + arguments;
    }
    if (!bench::StartSimulator(sim, dir.path(), arguments)) {
        return 1;
    }

    bench::FourStations line;
    if (!line.Open()) {
        return 1;
    }
    auto& transport = line.transport;
    auto& cycle = line.cycle;
    ExchangeLog log;
    Fill(log);
    transport.setObserver(&log);
    QObject::connect(&cycle, &MeasurementCycle::polling, &log, &ExchangeLog::setChannel);

    QuietOperator op;
    TraficLigne window(log, op);
    window.show();
    QApplication::processEvents();
    const quint64 firstSeq = log.lastSeq();

    std::vector<qint64> ticks;
    ticks.reserve(100000);
    QElapsedTimer clock;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, &window,
                     [&] { ticks.push_back(clock.nsecsElapsed()); });
    QTimer passes;
    passes.setInterval(0);
    QObject::connect(&passes, &QTimer::timeout, &cycle, &MeasurementCycle::RunMeasurementCycle);
    bool done = false;
    QTimer::singleShot(seconds * 1000, &window, [&] { done = true; });
    clock.start();
    probe.start();
    passes.start();
    while (!done) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const qint64 end = clock.nsecsElapsed();
    passes.stop();
    probe.stop();
    transport.ClosePort();
    sim.terminate();
    sim.waitForFinished(5000);

    std::vector<double> gaps;
    qint64 previous = 0;
    for (const qint64 t : ticks) {
        gaps.push_back(double(t - previous) / 1e6);
        previous = t;
    }
    double sum = 0;
    for (const double g : gaps) {
        sum += g;
    }
    std::sort(gaps.begin(), gaps.end());
    const double exchanges = double(log.lastSeq() - firstSeq);
    std::printf("%-8s %6.1f s %9.0f %8.1f %7zu %12.2f %12.2f %12.2f %6d %s\n",
                paced ? "9600" : "at once", double(end) / 1e9, exchanges,
                exchanges * 1e9 / double(end), ticks.size(), gaps.back(), sum / double(gaps.size()),
                gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)],
                window.Echanges->model()->rowCount(), window.Following() ? "yes" : "no");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::printf("Trafic de la ligne following passes back to back, 5 ms timer running (%s)\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("%-8s %8s %9s %8s %7s %12s %12s %12s %6s %s\n", "line", "run", "exchanges", "per s",
                "ticks", "max gap ms", "mean gap ms", "p99 gap ms", "rows", "following");
    for (const bool paced : {true, false}) {
        if (Run(paced, seconds) != 0) {
            return 1;
        }
    }
    return 0;
}

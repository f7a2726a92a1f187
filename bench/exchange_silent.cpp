// Exchanges with a silent station over a pseudo-terminal (merival-sim), with the real 2000 ms
// time-outs: wall time per exchange and processor time spent while waiting.
//   bench_exchange_silent [EXCHANGES]   (default 4, one pass over four silent channels)

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "instruments/Polling.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

namespace {

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int exchanges = argc > 1 ? std::max(1, atoi(argv[1])) : 4;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QProcess sim;
    sim.setWorkingDirectory(dir.path());
    sim.start(QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim"),
              {QStringLiteral("1:resistivity:silent")});
    for (int i = 0; i < 500 && !QFileInfo(dir.filePath("COM1")).exists(); ++i) {
        QThread::msleep(10);
    }
    if (!QFileInfo(dir.filePath("COM1")).exists()) {
        fprintf(stderr, "merival-sim did not start\n");
        return 1;
    }

    merival::SerialSettings settings;
    merival::QtSerialPort port;
    merival::Transport transport(port, settings);
    const merival::Status status = transport.OpenPort();
    if (!status.ok()) {
        fprintf(stderr, "%s\n", qPrintable(status.message));
        return 1;
    }
    merival::TransportRegisterReader reader(transport);

    printf("exchange  result  wall_ms  cpu_ms\n");
    double totalWall = 0;
    double totalCpu = 0;
    for (int i = 0; i < exchanges; ++i) {
        QElapsedTimer wall;
        const double cpu0 = CpuMs();
        wall.start();
        const bool ok = reader.ExchangeReadRegisters(1, 0).ok;
        const double wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
        const double cpuMs = CpuMs() - cpu0;
        totalWall += wallMs;
        totalCpu += cpuMs;
        printf("%8d  %6s  %7.1f  %6.2f\n", i + 1, ok ? "ok" : "HS", wallMs, cpuMs);
        fflush(stdout);
    }
    printf(
        "total     %d exchanges  wall %.1f ms (%.1f per exchange)  cpu %.2f ms (%.3f%% of wall)\n",
        exchanges, totalWall, totalWall / exchanges, totalCpu, 100.0 * totalCpu / totalWall);

    transport.ClosePort();
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}

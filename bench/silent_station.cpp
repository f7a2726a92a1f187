// One silent station of four at 9600 baud, against merival-sim pacing the line: how often the
// three live channels refresh, and how often the silent one is asked, with the measurement
// window's one-second tick. First with silent stations asked once per interval (3 HS, 10 s),
// then with every station asked on every pass, as before. Prints figures; never fails.
//
//   bench_silent_station [seconds]      (default 60 per run)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <vector>

#include "bench/FourStations.h"
#include "config/ChannelStore.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "serial/QtSerialPort.h"
#include "serial/SerialSettings.h"
#include "serial/Transport.h"

namespace {

using namespace merival;

constexpr int kSilentChannel = 2;

using bench::WaitFor;

// Times (s) of the simulator's requests to one address.
std::vector<double> RequestTimes(const QString& log, int address) {
    static const QRegularExpression line(QStringLiteral(R"(^(\d+\.\d+) addr=(\d+) )"));
    std::vector<double> times;
    for (const QString& row : log.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = line.match(row);
        if (m.hasMatch() && m.captured(2).toInt() == address) {
            times.push_back(m.captured(1).toDouble());
        }
    }
    return times;
}

std::vector<double> Gaps(const std::vector<double>& times) {
    std::vector<double> gaps;
    for (size_t i = 1; i < times.size(); ++i) {
        gaps.push_back(times[i] - times[i - 1]);
    }
    return gaps;
}

void PrintGaps(const char* label, const std::vector<double>& gaps) {
    if (gaps.empty()) {
        std::printf("  %-34s no two events\n", label);
        return;
    }
    double sum = 0;
    for (const double g : gaps) {
        sum += g;
    }
    std::printf("  %-34s n=%3zu  mean %6.3f s  min %6.3f s  max %6.3f s\n", label, gaps.size(),
                sum / static_cast<double>(gaps.size()), *std::min_element(gaps.begin(), gaps.end()),
                *std::max_element(gaps.begin(), gaps.end()));
}

int RunOnce(int seconds, int lossPasses) {
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    QProcess sim;
    if (!bench::StartSimulator(
            sim, dir.path(),
            {QStringLiteral("--pace"), QStringLiteral("--baud"), QStringLiteral("9600"),
             QStringLiteral("--seed"), QStringLiteral("5"), QStringLiteral("1:ph"),
             QStringLiteral("2:resistivity"), QStringLiteral("3:conductivity:silent"),
             QStringLiteral("4:flow")})) {
        return 1;
    }
    bench::FourStations line;
    if (!line.Open()) {
        return 1;
    }
    auto& transport = line.transport;
    auto& state = line.state;
    auto& cycle = line.cycle;
    cycle.setSilentStations(lossPasses, 10000);

    QElapsedTimer clock;
    clock.start();
    std::array<std::vector<double>, kChannelCount> refreshed;  // s, answered readings
    QObject::connect(&cycle, &MeasurementCycle::reading, &cycle, [&](const ChannelReading& r) {
        if (r.ok) {
            refreshed[r.channel].push_back(static_cast<double>(clock.elapsed()) / 1000);
        }
    });
    QTimer tick;
    tick.setInterval(1000);
    QObject::connect(&tick, &QTimer::timeout, &cycle, &MeasurementCycle::Minuterie1_Timer);
    tick.start();
    cycle.Minuterie1_Timer();
    WaitFor([&] { return clock.elapsed() >= seconds * 1000LL && !state.PollInProgress; },
            seconds * 1000 + 10000);
    tick.stop();
    transport.ClosePort();
    QThread::msleep(200);
    const QString log = QString::fromUtf8(sim.readAllStandardOutput());
    sim.terminate();
    sim.waitForFinished(5000);

    std::printf("%s (%d s, tick 1000 ms, dropped ticks %d):\n",
                lossPasses > 0 ? "silent station asked once per 10 s after 3 HS"
                               : "every station asked on every pass",
                seconds, cycle.droppedTicks());
    std::vector<double> live;
    for (int k = 0; k < kChannelCount; ++k) {
        if (k == kSilentChannel) {
            continue;
        }
        const std::vector<double> gaps = Gaps(refreshed[k]);
        live.insert(live.end(), gaps.begin(), gaps.end());
        PrintGaps(QStringLiteral("Voie %1 refresh").arg(k).toUtf8().constData(), gaps);
    }
    PrintGaps("three live channels together", live);
    // The same after the first three HS passes, once the station counts as silent.
    std::vector<double> settled;
    for (int k = 0; k < kChannelCount; ++k) {
        if (k != kSilentChannel && refreshed[k].size() > 3) {
            const std::vector<double> gaps =
                Gaps(std::vector<double>(refreshed[k].begin() + 3, refreshed[k].end()));
            settled.insert(settled.end(), gaps.begin(), gaps.end());
        }
    }
    PrintGaps("live, after the first 3 passes", settled);
    const std::vector<double> tries = Gaps(RequestTimes(log, kSilentChannel + 1));
    PrintGaps("requests to the silent station", tries);
    if (tries.size() > 3) {
        PrintGaps("  the same, once counted silent",
                  std::vector<double>(tries.begin() + 3, tries.end()));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    std::printf("silent_station: 4 stations at 9600 baud (merival-sim --pace), station 3 silent\n");
    const int status = RunOnce(seconds, 3);
    return status != 0 ? status : RunOnce(seconds, 0);
}

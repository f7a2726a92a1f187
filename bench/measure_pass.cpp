// Time of a measurement pass over four answering stations at 9600 baud, against merival-sim
// pacing the line, compared with the time on the wire and with mbpoll reading the same
// stations. Prints figures; never fails on timing.
//
//   bench_measure_pass [passes]      (default 25)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
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

constexpr int kBaud = 9600;
constexpr double kBitsPerChar = 10;  // start, 8 data bits, no parity, 1 stop bit
constexpr double kRequestChars = 8;
constexpr double kReplyChars = 21;
constexpr double kSilenceChars = 3.5;

double CharsMs(double chars) {
    return chars * kBitsPerChar * 1000.0 / kBaud;
}

struct LogEntry {
    double t;
    int address;
};

// Request times from the simulator's log, and how many of them were answered.
struct SimLog {
    std::vector<LogEntry> requests;
    int answered = 0;
};

SimLog ParseLog(const QString& text) {
    static const QRegularExpression line(
        QStringLiteral(R"(^(\d+\.\d+) addr=(\d+) .*answer=(\S+))"));
    SimLog log;
    for (const QString& row : text.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = line.match(row);
        if (m.hasMatch()) {
            log.requests.push_back({m.captured(1).toDouble(), m.captured(2).toInt()});
            log.answered += m.captured(3) == QStringLiteral("ok") ? 1 : 0;
        }
    }
    return log;
}

// Request-to-request times inside one round over stations 1..4 (one exchange each), and the
// time from one round's first request to the next round's.
struct Gaps {
    std::vector<double> exchangeMs;
    std::vector<double> roundMs;
};

Gaps GapsOf(const SimLog& log) {
    Gaps gaps;
    for (size_t i = 1; i < log.requests.size(); ++i) {
        const double ms = (log.requests[i].t - log.requests[i - 1].t) * 1000;
        if (log.requests[i].address == log.requests[i - 1].address + 1) {
            gaps.exchangeMs.push_back(ms);
        }
    }
    double roundStart = -1;
    for (const LogEntry& e : log.requests) {
        if (e.address == 1) {
            if (roundStart >= 0) {
                gaps.roundMs.push_back((e.t - roundStart) * 1000);
            }
            roundStart = e.t;
        }
    }
    return gaps;
}

struct Summary {
    double mean = 0, median = 0, min = 0, max = 0;
    size_t n = 0;
};

Summary Summarise(std::vector<double> values) {
    Summary s;
    if (values.empty()) {
        return s;
    }
    std::sort(values.begin(), values.end());
    s.n = values.size();
    s.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(s.n);
    s.median = values[s.n / 2];
    s.min = values.front();
    s.max = values.back();
    return s;
}

void Print(const char* label, const Summary& s) {
    std::printf("  %-44s n=%3zu  mean %7.2f  median %7.2f  min %7.2f  max %7.2f ms\n", label, s.n,
                s.mean, s.median, s.min, s.max);
}

using bench::WaitFor;

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25;

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    QProcess sim;
    if (!bench::StartSimulator(
            sim, dir.path(),
            {QStringLiteral("--pace"), QStringLiteral("--baud"), QString::number(kBaud),
             QStringLiteral("--seed"), QStringLiteral("3"), QStringLiteral("1:ph"),
             QStringLiteral("2:resistivity"), QStringLiteral("3:conductivity"),
             QStringLiteral("4:flow")})) {
        return 1;
    }
    QString simOutput;
    auto readSim = [&] {
        simOutput += QString::fromUtf8(sim.readAllStandardOutput());
        return simOutput;
    };

    // merival: the cycle as the measurement window runs it, passes back to back.
    bench::FourStations line;
    if (!line.Open()) {
        return 1;
    }
    auto& transport = line.transport;
    auto& cycle = line.cycle;
    int hs = 0;
    QObject::connect(&cycle, &MeasurementCycle::valueText, &cycle,
                     [&](int, const QString& text) { hs += text == QStringLiteral("HS"); });

    cycle.RunMeasurementCycle();  // warm-up
    WaitFor([&] { return ParseLog(readSim()).requests.size() >= 4; }, 5000);
    const qsizetype oursFrom = simOutput.size();
    hs = 0;
    std::vector<double> passMs;
    for (int i = 0; i < passes; ++i) {
        QElapsedTimer t;
        t.start();
        cycle.RunMeasurementCycle();
        passMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    transport.ClosePort();
    WaitFor([&] { return ParseLog(readSim().mid(oursFrom)).requests.size() >= size_t(4 * passes); },
            5000);
    const SimLog ours = ParseLog(simOutput.mid(oursFrom));

    // mbpoll: the same four stations, registers 0..7, as fast as its poll rate allows.
    const qsizetype mbpollFrom = simOutput.size();
    const QString mbpollPath = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    SimLog theirs;
    if (!mbpollPath.isEmpty()) {
        QProcess mbpoll;
        mbpoll.setWorkingDirectory(dir.path());
        mbpoll.start(mbpollPath, {QStringLiteral("-m"),    QStringLiteral("rtu"),
                                  QStringLiteral("-b"),    QString::number(kBaud),
                                  QStringLiteral("-P"),    QStringLiteral("none"),
                                  QStringLiteral("-s"),    QStringLiteral("1"),
                                  QStringLiteral("-a"),    QStringLiteral("1:4"),
                                  QStringLiteral("-0"),    QStringLiteral("-r"),
                                  QStringLiteral("0"),     QStringLiteral("-c"),
                                  QStringLiteral("8"),     QStringLiteral("-t"),
                                  QStringLiteral("4:hex"), QStringLiteral("-l"),
                                  QStringLiteral("11"),    QStringLiteral("-o"),
                                  QStringLiteral("2"),     dir.filePath(QStringLiteral("COM1"))});
        mbpoll.waitForStarted(5000);
        WaitFor(
            [&] {
                return ParseLog(readSim().mid(mbpollFrom)).requests.size() >=
                       size_t(4 * (passes + 1));
            },
            60000);
        mbpoll.terminate();
        mbpoll.waitForFinished(5000);
        theirs = ParseLog(readSim().mid(mbpollFrom));
    }
    sim.terminate();
    sim.waitForFinished(5000);

    const double wire = CharsMs(kRequestChars + kReplyChars);
    const double wireWithSilences = CharsMs(kRequestChars + kReplyChars + 2 * kSilenceChars);
    const double paced = CharsMs(kRequestChars + kSilenceChars + kReplyChars);
    const Summary pass = Summarise(passMs);
    std::printf("measure_pass: 4 answering stations, %d baud, 10 bits per character\n", kBaud);
    std::printf(
        "  wire time per exchange: 8 + 21 chars = %.2f ms; with a 3.5-char silence after\n"
        "  each frame = %.2f ms (the paced simulator waits one silence: %.2f ms)\n",
        wire, wireWithSilences, paced);
    std::printf("merival (%d passes, %zu replies of %zu requests answered, %d HS):\n", passes,
                static_cast<size_t>(ours.answered), ours.requests.size(), hs);
    Print("pass, in-process clock", pass);
    std::printf(
        "  per exchange %.2f ms: %+.2f ms against the wire time with silences, "
        "%+.2f ms against the simulator's paced minimum\n",
        pass.mean / 4, pass.mean / 4 - wireWithSilences, pass.mean / 4 - paced);
    const Gaps oursGaps = GapsOf(ours);
    Print("request to request in a pass (sim log)", Summarise(oursGaps.exchangeMs));
    Print("pass start to next pass start (sim log)", Summarise(oursGaps.roundMs));
    if (mbpollPath.isEmpty()) {
        std::printf("mbpoll: not installed (apt-get install mbpoll)\n");
        return 0;
    }
    const Gaps theirGaps = GapsOf(theirs);
    std::printf("mbpoll -a 1:4 -c 8 -l 11 (%zu replies of %zu requests answered):\n",
                static_cast<size_t>(theirs.answered), theirs.requests.size());
    Print("request to request in a round (sim log)", Summarise(theirGaps.exchangeMs));
    Print("round start to next round start (sim log)", Summarise(theirGaps.roundMs));
    std::printf("  per exchange %.2f ms: %+.2f ms against the wire time with silences\n",
                Summarise(theirGaps.exchangeMs).mean,
                Summarise(theirGaps.exchangeMs).mean - wireWithSilences);
    return 0;
}

// Ten headless gateways into one broker: each runs merival-poll --mqtt on its own merival-sim
// line with four stations; one subscriber counts what arrives. Prints, per gateway, the
// readings printed against the messages received, the longest gap between two values of a
// channel, and the CPU the gateway used. Never fails on timing.
//
//   bench_mqtt_gateways [--gateways N] [--seconds S]      (defaults 10 and 300)

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>

#include "tests/common/Mosquitto.h"

namespace {

using namespace merival;

const QByteArray kConfig =
    "1,5\r\n\"1\",\"Debit\"\r\n1,2\r\n\"2\",\"Bassin\"\r\n1,0\r\n\"3\",\"Sortie\"\r\n"
    "1,1\r\n\"4\",\"Cond\"\r\n#TRUE#,#TRUE#,#TRUE#,#TRUE#\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n";

// User and system CPU seconds of a process, from /proc.
double CpuSeconds(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

struct Gateway {
    QTemporaryDir dir;
    QProcess sim;
    QProcess poll;
    double cpu = 0;
    qsizetype printed = 0;
};

int IntOption(const QStringList& args, const QString& name, int fallback) {
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = IntOption(app.arguments(), QStringLiteral("--gateways"), 10);
    const int seconds = IntOption(app.arguments(), QStringLiteral("--seconds"), 300);

    QTemporaryDir brokerDir;
    test::MosquittoBroker broker(brokerDir.path());
    if (!broker.Start()) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return 1;
    }
    test::MqttSubscriber subscriber(broker.port(), "site/#");

    std::vector<std::unique_ptr<Gateway>> gateways;
    for (int g = 0; g < count; ++g) {
        auto gw = std::make_unique<Gateway>();
        const QDir dir(gw->dir.path());
        const auto write = [&](const char* name, const QByteArray& bytes) {
            QFile f(dir.filePath(QLatin1String(name)));
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        write("config.txt", kConfig);
        write("PortCom.dat", " 1              0 \r\n 0 \r\n 0 \r\n");
        write("merival.ini", QStringLiteral("[Publication]\nActif=true\nHote=127.0.0.1\nPort=%1\n"
                                            "Prefixe=site/ligne%2\n")
                                 .arg(broker.port())
                                 .arg(g)
                                 .toUtf8());
        gw->sim.setWorkingDirectory(dir.path());
        gw->sim.setStandardOutputFile(QProcess::nullDevice());
        gw->sim.start(QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim"),
                      {QStringLiteral("--seed"), QString::number(g + 1), QStringLiteral("1:flow"),
                       QStringLiteral("2:ph"), QStringLiteral("3:resistivity"),
                       QStringLiteral("4:conductivity")});
        if (!test::PumpFor([&] { return QFileInfo(dir.filePath("COM1")).isSymLink(); })) {
            std::fprintf(stderr, "merival-sim %d did not start\n", g);
            return 1;
        }
        gw->poll.setWorkingDirectory(dir.path());
        gw->poll.start(QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll"),
                       {QStringLiteral("--mqtt")});
        gateways.push_back(std::move(gw));
    }

    std::printf("%d gateways x 4 channels into one broker for %d s...\n", count, seconds);
    std::fflush(stdout);
    QElapsedTimer elapsed;
    elapsed.start();
    test::PumpFor([&] { return false; }, seconds * 1000);
    const double wall = elapsed.elapsed() / 1000.0;

    for (auto& gw : gateways) {
        gw->cpu = CpuSeconds(gw->poll.processId());
        gw->poll.terminate();
    }
    for (auto& gw : gateways) {
        gw->poll.waitForFinished(10000);
        gw->printed = gw->poll.readAllStandardOutput().count('\n');
        gw->sim.terminate();
        gw->sim.waitForFinished(5000);
    }
    test::PumpFor([] { return false; }, 1000);  // the last acknowledgements

    // Per gateway and channel: messages and the longest time between two of them.
    std::map<std::pair<int, int>, std::vector<std::chrono::steady_clock::time_point>> arrivals;
    for (const test::Received& m : subscriber.messages()) {
        const QList<QByteArray> levels = m.topic.split('/');
        if (levels.size() == 4 && levels[2] == "voie") {
            arrivals[{levels[1].mid(5).toInt(), levels[3].toInt()}].push_back(m.at);
        }
    }
    int complete = 0;
    qsizetype lost = 0;
    double worstGap = 0;
    double cpuTotal = 0;
    std::printf("gateway  printed  received  max gap (s)  CPU (%% of one core)\n");
    for (int g = 0; g < count; ++g) {
        qsizetype received = 0;
        double gap = 0;
        int channels = 0;
        for (int c = 0; c < 4; ++c) {
            const auto& times = arrivals[{g, c}];
            channels += times.empty() ? 0 : 1;
            received += qsizetype(times.size());
            for (size_t i = 1; i < times.size(); ++i) {
                gap = std::max(gap, std::chrono::duration<double>(times[i] - times[i - 1]).count());
            }
        }
        complete += channels;
        lost += std::max<qsizetype>(0, gateways[g]->printed - received);
        worstGap = std::max(worstGap, gap);
        cpuTotal += gateways[g]->cpu;
        std::printf("%7d  %7lld  %8lld  %11.3f  %6.2f\n", g, (long long)gateways[g]->printed,
                    (long long)received, gap, 100.0 * gateways[g]->cpu / wall);
    }
    std::printf(
        "channels seen: %d of %d; readings lost: %lld; longest gap: %.3f s; "
        "mean CPU per gateway: %.2f %% of one core over %.0f s\n",
        complete, count * 4, (long long)lost, worstGap, 100.0 * cpuTotal / count / wall, wall);
    return 0;
}

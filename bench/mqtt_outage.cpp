// The broker goes away while measuring: four paced stations polled once per second with the
// publisher attached, in four phases of S seconds: no publisher, broker up, broker stopped,
// broker back. Prints pass durations per phase, and how long after the broker's return the
// latest value of every channel is on it again. Never fails on timing.
//
//   bench_mqtt_outage [S]      (default 20)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/FourStations.h"
#include "config/ChannelStore.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "publish/Publisher.h"
#include "serial/QtSerialPort.h"
#include "serial/SerialSettings.h"
#include "serial/Transport.h"
#include "tests/common/Mosquitto.h"

using namespace merival;

namespace {

void PrintPasses(const char* phase, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        return;
    }
    std::printf("  %-28s passes %3zu  median %7.2f ms  max %7.2f ms\n", phase, ms.size(),
                ms[ms.size() / 2], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int phaseMs = (argc > 1 ? std::max(2, std::atoi(argv[1])) : 20) * 1000;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QProcess sim;
    sim.setStandardOutputFile(QProcess::nullDevice());
    if (!bench::StartSimulator(sim, dir.path(),
                               QStringList{"--pace", "--seed", "3", "1:ph", "2:resistivity",
                                           "3:conductivity", "4:flow"})) {
        return 1;
    }
    test::MosquittoBroker broker(dir.path());
    if (!broker.Start()) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return 1;
    }

    bench::FourStations line;
    if (!line.Open()) {
        return 1;
    }
    auto& transport = line.transport;
    auto& cycle = line.cycle;
    std::vector<double>* phase = nullptr;
    QElapsedTimer pass;
    QObject::connect(&cycle, &MeasurementCycle::passStarted, &app, [&] { pass.start(); });
    QObject::connect(&cycle, &MeasurementCycle::passFinished, &app, [&] {
        if (phase != nullptr) {
            phase->push_back(double(pass.nsecsElapsed()) / 1e6);
        }
    });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &cycle, &MeasurementCycle::Minuterie1_Timer);
    tick.start(1000);
    const auto run = [&](std::vector<double>& into, int ms) {
        phase = &into;
        test::PumpFor([] { return false; }, ms);
        phase = nullptr;
    };

    std::vector<double> none, up, down, back;
    run(none, phaseMs);

    PublishSettings ps;
    ps.active = true;
    ps.host = QStringLiteral("127.0.0.1");
    ps.port = broker.port();
    ps.prefix = QStringLiteral("bench");
    Publisher publisher(ps, {});
    QObject::connect(&cycle, &MeasurementCycle::reading, &publisher, &Publisher::publish);
    publisher.Start();
    run(up, phaseMs);

    broker.Stop();
    run(down, phaseMs);

    QElapsedTimer since;
    broker.Start();
    since.start();
    test::MqttSubscriber subscriber(broker.port(), "bench/voie/#");
    qint64 connectedMs = -1;
    qint64 valuesMs = -1;
    std::vector<double> first;
    phase = &back;
    test::PumpFor(
        [&] {
            if (connectedMs < 0 && publisher.link().state() == LinkState::Connected) {
                connectedMs = since.elapsed();
            }
            QSet<QByteArray> topics;
            for (const test::Received& m : subscriber.messages()) {
                topics.insert(m.topic);
            }
            if (valuesMs < 0 && topics.size() == kChannelCount) {
                valuesMs = since.elapsed();
            }
            return since.elapsed() > phaseMs;
        },
        phaseMs + 1000);
    phase = nullptr;
    tick.stop();

    std::printf("pass durations (4 paced stations at 9600 baud, one pass per second):\n");
    PrintPasses("no publisher", none);
    PrintPasses("publishing, broker up", up);
    PrintPasses("broker stopped", down);
    PrintPasses("broker back", back);
    std::printf(
        "after %d s without a broker: reconnected %lld ms and the 4 channels on the "
        "broker %lld ms after its restart\n",
        phaseMs / 1000, (long long)connectedMs, (long long)valuesMs);
    publisher.Stop();
    transport.ClosePort();
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}

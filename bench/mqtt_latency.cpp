// Time from a reading handed to the publisher to its arrival at a subscriber, on loopback
// through a real mosquitto broker (QoS 1, retained). Prints median, 99th percentile and
// maximum. Never fails on timing.
//
//   bench_mqtt_latency [readings]      (default 2000, one every 5 ms)

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "publish/Publisher.h"
#include "tests/common/Mosquitto.h"

using namespace merival;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    QTemporaryDir dir;
    test::MosquittoBroker broker(dir.path());
    if (!broker.Start()) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return 1;
    }
    test::MqttSubscriber subscriber(broker.port(), "bench/voie/#");
    PublishSettings settings;
    settings.active = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.port();
    settings.prefix = QStringLiteral("bench");
    Publisher publisher(settings, {});
    publisher.Start();
    if (!test::PumpFor([&] { return publisher.link().state() == LinkState::Connected; })) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }

    std::vector<std::chrono::steady_clock::time_point> sent(static_cast<size_t>(count));
    int next = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        ChannelReading r;
        r.time = QDateTime::currentDateTimeUtc();
        r.channel = next % 4;
        r.ok = true;
        r.text = QStringLiteral("7,00 pH");
        r.numbers = {{QStringLiteral("pH"), double(next), QStringLiteral("pH")}};
        sent[size_t(next)] = std::chrono::steady_clock::now();
        publisher.publish(r);
        if (++next == count) {
            tick.stop();
        }
    });
    tick.start(5);
    test::PumpFor([&] { return int(subscriber.messages().size()) >= count; }, 60000);

    std::vector<double> latencyMs;
    for (const test::Received& m : subscriber.messages()) {
        const int i = QJsonDocument::fromJson(m.payload)["valeurs"][0]["valeur"].toInt();
        if (!m.retained && i >= 0 && i < count) {
            latencyMs.push_back(
                std::chrono::duration<double, std::milli>(m.at - sent[size_t(i)]).count());
        }
    }
    std::sort(latencyMs.begin(), latencyMs.end());
    if (latencyMs.empty()) {
        std::fprintf(stderr, "nothing received\n");
        return 1;
    }
    const auto at = [&](double q) { return latencyMs[size_t(q * double(latencyMs.size() - 1))]; };
    std::printf(
        "reading to subscriber on loopback, %zu of %d received: median %.3f ms, "
        "p99 %.3f ms, max %.3f ms\n",
        latencyMs.size(), count, at(0.5), at(0.99), latencyMs.back());
    return 0;
}

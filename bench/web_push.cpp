// The web view of merival-poll --web against merival-sim (four stations, 9600 baud, one pass a
// second): time to first byte and to the whole answer on loopback, push latency from the end
// of a pass (stamped by the poller) to its arrival at a WebSocket client, and the poller's CPU
// and pass period with 50 clients connected against none.
//
//   bench_web_push [SECONDS]   (default 30 per phase)

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "FourStations.h"

namespace {

using merival::bench::StartSimulator;
using merival::bench::WaitFor;

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// utime + stime of a process, in seconds.
double CpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Timing {
    double firstByteMs = 0;
    double wholeMs = 0;
};

Timing Get(quint16 port, const QByteArray& path) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    socket.waitForConnected(2000);
    QElapsedTimer clock;
    clock.start();
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                 "\r\nConnection: close\r\n\r\n");
    Timing t;
    QByteArray reply;
    while (socket.waitForReadyRead(2000)) {
        if (reply.isEmpty()) {
            t.firstByteMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        }
        reply += socket.readAll();
        const qsizetype end = reply.indexOf("\r\n\r\n");
        const qsizetype at = reply.toLower().indexOf("content-length: ");
        if (end > 0 && at > 0 &&
            reply.size() >= end + 4 + reply.mid(at + 16).split('\r').first().toLongLong()) {
            break;
        }
    }
    t.wholeMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    return t;
}

struct Clients {
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    std::vector<double> latencyMs;
    std::vector<qint64> passStamps;  // from the first client only
    int connected = 0;

    void Open(int count, quint16 port) {
        for (int i = 0; i < count; ++i) {
            auto socket = std::make_unique<QWebSocket>();
            QWebSocket* raw = socket.get();
            QObject::connect(raw, &QWebSocket::connected, raw, [this] { ++connected; });
            QObject::connect(
                raw, &QWebSocket::textMessageReceived, raw, [this, i](const QString& message) {
                    const qint64 now = QDateTime::currentMSecsSinceEpoch();
                    const QJsonObject pass = QJsonDocument::fromJson(message.toUtf8()).object();
                    const qint64 stamp =
                        QDateTime::fromString(pass[QStringLiteral("horodatage")].toString(),
                                              Qt::ISODateWithMs)
                            .toMSecsSinceEpoch();
                    if (recording) {
                        latencyMs.push_back(static_cast<double>(now - stamp));
                        if (i == 0) {
                            passStamps.push_back(stamp);
                        }
                    }
                });
            QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/direct").arg(port)));
            request.setRawHeader("Origin", "http://127.0.0.1:" + QByteArray::number(port));
            raw->open(request);
            sockets.push_back(std::move(socket));
        }
        WaitFor([&] { return connected == count; }, 10000);
    }
    bool recording = false;
};

struct Phase {
    double cpuPercent = 0;
    double meanPeriodMs = 0;
};

Phase Measure(qint64 pid, Clients* clients, int seconds) {
    // Pass periods come from the stamps, so a probe client listens in the quiet phase too.
    const double cpu0 = CpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    clients->recording = true;
    // A real event loop: messages are taken the moment they arrive.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    clients->recording = false;
    Phase p;
    p.cpuPercent = 100.0 * (CpuSeconds(pid) - cpu0) / (static_cast<double>(wall.elapsed()) / 1000);
    const auto& s = clients->passStamps;
    if (s.size() > 1) {
        p.meanPeriodMs =
            static_cast<double>(s.back() - s.front()) / static_cast<double>(s.size() - 1);
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, QByteArray(argv[1]).toInt()) : 30;
    QTemporaryDir dir;
    auto write = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    };
    write("config.txt",
          "1,5\r\n\"1\",\"D\xe9"
          "bit\"\r\n1,2\r\n\"2\",\"pH\"\r\n1,0\r\n\"3\",\"Eau\"\r\n1,1\r\n"
          "\"4\",\"Cond\"\r\n#TRUE#,#TRUE#,#FALSE#,#TRUE#\r\n#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n");
    write("PortCom.dat", " 1             0 \r\n 0 \r\n 0 \r\n");
    const quint16 port = 18000 + static_cast<quint16>(QCoreApplication::applicationPid() % 2000);
    write("merival.ini", "[Web]\nActif=true\nPort=" + QByteArray::number(port) + "\n");
    QProcess sim;
    if (!StartSimulator(sim, dir.path(),
                        {QStringLiteral("--pace"), QStringLiteral("--seed"), QStringLiteral("7"),
                         QStringLiteral("1:flow"), QStringLiteral("2:ph"),
                         QStringLiteral("3:resistivity"), QStringLiteral("4:conductivity")})) {
        return 1;
    }
    QProcess poll;
    poll.setWorkingDirectory(dir.path());
    poll.setStandardOutputFile(QProcess::nullDevice());
    poll.start(QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll"),
               {QStringLiteral("--web")});
    if (!WaitFor(
            [&] {
                return Get(port, "/api/etat").wholeMs > 0 && Get(port, "/api/etat").firstByteMs > 0;
            },
            10000)) {
        std::fprintf(stderr, "merival-poll --web does not answer: %s\n",
                     poll.readAllStandardError().constData());
        return 1;
    }
    WaitFor([] { return false; }, 2000);

    std::printf("web view of merival-poll, loopback, four stations at 9600 baud\n");
    for (const QByteArray& path :
         {QByteArray("/"), QByteArray("/mesures.js"), QByteArray("/api/passe"),
          QByteArray("/metrics"), QByteArray("/dygraph.min.js")}) {
        std::vector<double> first;
        std::vector<double> whole;
        for (int i = 0; i < 200; ++i) {
            const Timing t = Get(port, path);
            first.push_back(t.firstByteMs);
            whole.push_back(t.wholeMs);
        }
        std::printf(
            "  GET %-16s first byte median %.2f ms p99 %.2f ms; whole median %.2f ms p99 "
            "%.2f ms\n",
            path.constData(), Percentile(first, 0.5), Percentile(first, 0.99),
            Percentile(whole, 0.5), Percentile(whole, 0.99));
    }

    Clients one;
    one.Open(1, port);
    const Phase quiet = Measure(poll.processId(), &one, seconds);
    std::printf(
        "  1 client, %d s: push latency median %.1f ms p99 %.1f ms (%zu passes); poller "
        "CPU %.2f %% of a core; pass period %.1f ms\n",
        seconds, Percentile(one.latencyMs, 0.5), Percentile(one.latencyMs, 0.99),
        one.latencyMs.size(), quiet.cpuPercent, quiet.meanPeriodMs);

    Clients fifty;
    fifty.Open(50, port);
    one.sockets.clear();
    const Phase busy = Measure(poll.processId(), &fifty, seconds);
    std::printf(
        "  50 clients (%d connected), %d s: push latency median %.1f ms p99 %.1f ms (%zu "
        "messages); poller CPU %.2f %% of a core; pass period %.1f ms\n",
        fifty.connected, seconds, Percentile(fifty.latencyMs, 0.5),
        Percentile(fifty.latencyMs, 0.99), fifty.latencyMs.size(), busy.cpuPercent,
        busy.meanPeriodMs);
    std::printf("  cost of 50 clients: %.2f %% of a core\n", busy.cpuPercent - quiet.cpuPercent);
    fifty.sockets.clear();
    poll.terminate();
    poll.waitForFinished(10000);
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}

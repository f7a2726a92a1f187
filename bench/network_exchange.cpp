// Exchange time over loopback against the paced simulator (9600 baud), for the same four
// stations, on four lines in one run: the serial line (pseudo-terminal), RTU over TCP through a
// transparent converter (socat bridging TCP to the simulator's terminal), Modbus TCP (the
// simulator as a gateway), and mbpoll as an independent Modbus TCP client of that gateway.
// The exchange period is read from the simulator's own log: time between successive requests.
// socat sends each byte as it comes (nodelay), as a converter set for Modbus would; without
// it, Nagle's algorithm holds the paced characters back and the converter line loses ~25 ms.
//   bench_network_exchange [EXCHANGES]   (default 80, spread over the four stations)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "instruments/Polling.h"
#include "serial/QtSerialPort.h"
#include "serial/TcpPort.h"
#include "serial/Transport.h"

namespace {

using namespace merival;

const QStringList kStations = {QStringLiteral("1:ph"), QStringLiteral("2:resistivity"),
                               QStringLiteral("3:conductivity"), QStringLiteral("4:flow")};

bool WaitFor(const std::function<bool()>& condition, int boundMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > boundMs) {
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return true;
}

int FreePort() {
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

bool Listening(int port) {
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
    return probe.waitForConnected(200);
}

// Seconds of the simulator's request lines, from its standard output so far.
std::vector<double> RequestTimes(QProcess& sim) {
    std::vector<double> times;
    const QList<QByteArray> lines = sim.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        if (line.contains("addr=")) {
            times.push_back(line.left(line.indexOf(' ')).toDouble());
        }
    }
    return times;
}

struct Figures {
    double meanMs = 0;
    double medianMs = 0;
    double minMs = 0;
    double maxMs = 0;
    int ok = 0;
    int total = 0;
};

Figures Periods(const std::vector<double>& times) {
    Figures f;
    std::vector<double> gaps;
    for (size_t i = 1; i < times.size(); ++i) {
        gaps.push_back((times[i] - times[i - 1]) * 1000);
    }
    if (gaps.empty()) {
        return f;
    }
    std::sort(gaps.begin(), gaps.end());
    double sum = 0;
    for (const double g : gaps) {
        sum += g;
    }
    f.meanMs = sum / static_cast<double>(gaps.size());
    f.medianMs = gaps[gaps.size() / 2];
    f.minMs = gaps.front();
    f.maxMs = gaps.back();
    return f;
}

// Our exchanges over a port; wall time of each as the program sees it.
Figures Exchange(SerialPortInterface& port, int exchanges) {
    SerialSettings settings;
    Transport transport(port, settings);
    Figures f;
    if (const Status s = transport.OpenPort(); !s.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(s.message));
        return f;
    }
    TransportRegisterReader reader(transport);
    std::vector<double> walls;
    for (int i = 0; i < exchanges; ++i) {
        QElapsedTimer wall;
        wall.start();
        f.ok += reader.ExchangeReadRegisters(1 + i % 4, 0).ok ? 1 : 0;
        walls.push_back(static_cast<double>(wall.nsecsElapsed()) / 1e6);
    }
    f.total = exchanges;
    transport.ClosePort();
    std::sort(walls.begin(), walls.end());
    double sum = 0;
    for (const double w : walls) {
        sum += w;
    }
    f.meanMs = sum / static_cast<double>(walls.size());
    f.medianMs = walls[walls.size() / 2];
    f.minMs = walls.front();
    f.maxMs = walls.back();
    return f;
}

void Print(const char* line, const char* measure, const Figures& f) {
    const QByteArray ok = f.total > 0 ? QByteArray::number(f.ok) + '/' + QByteArray::number(f.total)
                                      : QByteArray("-");
    std::printf("%-31s %-20s %8.2f %8.2f %8.2f %8.2f %s\n", line, measure, f.meanMs, f.medianMs,
                f.minMs, f.maxMs, ok.constData());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int exchanges = argc > 1 ? std::max(8, atoi(argv[1])) : 80;
    const QString simProgram = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");
    const QStringList paced = QStringList{QStringLiteral("--pace")} + kStations;

    QTemporaryDir serialDir;
    QTemporaryDir bridgeDir;
    QProcess serialSim;
    QProcess bridgeSim;
    QProcess gatewaySim;
    QProcess socat;
    for (auto [sim, dir] : {std::pair{&serialSim, &serialDir}, std::pair{&bridgeSim, &bridgeDir}}) {
        sim->setWorkingDirectory(dir->path());
        sim->start(simProgram, paced);
        if (!WaitFor([&] { return QFileInfo(dir->filePath(QStringLiteral("COM1"))).exists(); },
                     10000)) {
            std::fprintf(stderr, "merival-sim did not start\n");
            return 1;
        }
    }
    const int bridgePort = FreePort();
    socat.start(
        QStringLiteral("socat"),
        {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork,nodelay").arg(bridgePort),
         QStringLiteral("FILE:%1,raw,echo=0").arg(bridgeDir.filePath("COM1"))});
    const int gatewayPort = FreePort();
    gatewaySim.start(simProgram, QStringList{QStringLiteral("--tcp"), QString::number(gatewayPort),
                                             QStringLiteral("--mbap")} +
                                     paced);
    if (!WaitFor([&] { return Listening(bridgePort) && Listening(gatewayPort); }, 10000)) {
        std::fprintf(stderr, "socat or the gateway did not start\n");
        return 1;
    }

    std::printf("%d exchanges of 8 registers, stations 1 to 4 in turn, paced simulator 9600 baud\n",
                exchanges);
    std::printf("%-31s %-20s %8s %8s %8s %8s %s\n", "line", "measure", "mean_ms", "median",
                "min_ms", "max_ms", "ok");

    QDir::setCurrent(serialDir.path());
    QtSerialPort serialPort;
    Print("serial (pseudo-terminal)", "our exchange, wall", Exchange(serialPort, exchanges));
    Print("", "simulator's period", Periods(RequestTimes(serialSim)));

    LinkSettings converter;
    converter.mode = LinkMode::RtuTcp;
    converter.host = QStringLiteral("127.0.0.1");
    converter.port = bridgePort;
    TcpPort converterPort(converter);
    RequestTimes(bridgeSim);  // the probes' traffic is not counted
    Print("rtu-tcp (socat converter)", "our exchange, wall", Exchange(converterPort, exchanges));
    Print("", "simulator's period", Periods(RequestTimes(bridgeSim)));

    LinkSettings gateway = converter;
    gateway.mode = LinkMode::ModbusTcp;
    gateway.port = gatewayPort;
    TcpPort gatewayPort_(gateway);
    RequestTimes(gatewaySim);
    Print("modbus-tcp (simulator gateway)", "our exchange, wall",
          Exchange(gatewayPort_, exchanges));
    Print("", "simulator's period", Periods(RequestTimes(gatewaySim)));

    // mbpoll reads the four stations each poll, as fast as its 10 ms minimum poll rate allows.
    QProcess mbpoll;
    QElapsedTimer wall;
    wall.start();
    mbpoll.start(QStringLiteral("mbpoll"),
                 {"-m", "tcp", "-p", QString::number(gatewayPort), "-a", "1:4", "-0", "-r", "0",
                  "-c", "8", "-t", "4:hex", "-l", "10", "127.0.0.1"});
    WaitFor([] { return false; }, exchanges * 30);  // about as many exchanges as ours
    mbpoll.terminate();
    mbpoll.waitForFinished(5000);
    const QByteArray output = mbpoll.readAllStandardOutput();
    Figures theirs = Periods(RequestTimes(gatewaySim));
    theirs.ok = static_cast<int>(output.count("-- Polling slave")) - output.count("failed");
    theirs.total = static_cast<int>(output.count("-- Polling slave"));
    Print("modbus-tcp, mbpoll -m tcp", "simulator's period", theirs);

    for (QProcess* p : {&socat, &gatewaySim, &bridgeSim, &serialSim}) {
        p->terminate();
        p->waitForFinished(5000);
    }
    return 0;
}

// Soak: many exchanges against merival-sim with faults at a high rate, over a pseudo-terminal,
// with short time-outs (for this benchmark only). Prints exchanges per second, the outcome of
// every kind of answer the simulator gave, and the resident memory along the way, which must
// stay flat.
//
//   bench_soak [EXCHANGES] [REPLY_TIMEOUT_MS] [SEED] [STATION...]    defaults 100000, 40, 1
// Stations are given as to merival-sim (addresses 1 to 4); without them, the set below.
//
//   bench_soak --program SECONDS [SEED]
// The whole program instead: merival-poll with recording, alarms (with a command), publishing
// to a real mosquitto and the web view (scraped once a second, with a live WebSocket), against
// four stations with faults, watched from outside. Prints its resident memory, open
// descriptors, thread count and the history file's size at the start, every ten minutes and
// at the end; all but the file must stay flat.
#include <malloc.h>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "bench/FourStations.h"
#include "instruments/Polling.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"
#include "tests/common/Mosquitto.h"

namespace {

using namespace merival;

// kB from /proc/self/status: "VmRSS" (now) or "VmHWM" (peak so far).
long StatusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

// Bytes of the heap in use (not merely mapped).
long HeapKb() {
    return static_cast<long>(mallinfo2().uordblks / 1024);
}

// The simulator's line for one request: what it did and the reply it wrote.
struct SimAnswer {
    QByteArray kinds;
    QByteArray reply;
};

class Simulator {
public:
    bool Start(const QString& directory, const QStringList& arguments) {
        process_.setWorkingDirectory(directory);
        process_.setProgram(QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim"));
        process_.setArguments(arguments);
        process_.start();
        if (!process_.waitForStarted(5000)) {
            return false;
        }
        QFileInfo link(QDir(directory).filePath(QStringLiteral("COM1")));
        for (int i = 0; i < 500 && !(link.isSymLink() && link.exists()); ++i) {
            QThread::msleep(10);
            link.refresh();
        }
        return link.exists();
    }
    ~Simulator() {
        process_.terminate();
        process_.waitForFinished(5000);
    }

    // Parses what the simulator printed so far.
    void Collect() {
        partial_.append(process_.readAllStandardOutput());
        qsizetype end = 0;
        qsizetype from = 0;
        while ((end = partial_.indexOf('\n', from)) >= 0) {
            const QList<QByteArray> fields = partial_.mid(from, end - from).split(' ');
            from = end + 1;
            if (fields.size() != 7 || !fields[3].startsWith("answer=")) {
                continue;
            }
            const QByteArray reply = fields[5].mid(6);
            answers.push_back(
                {fields[3].mid(7), reply == "-" ? QByteArray() : QByteArray::fromHex(reply)});
            ++lines;
        }
        partial_.remove(0, from);
    }

    // Waits until every request has its line, or a guard runs out.
    bool WaitFor(const std::function<bool()>& done) {
        QElapsedTimer guard;
        guard.start();
        while (!done() && guard.elapsed() < 10000) {
            process_.waitForReadyRead(100);
            Collect();
        }
        return done();
    }

    std::deque<SimAnswer> answers;  // not yet matched with an exchange
    long lines = 0;

private:
    QProcess process_;
    QByteArray partial_;
};

struct Outcome {
    bool ok = false;
    QByteArray reply;
};

// By the rules, an answer is decoded when at least 21 bytes of it arrive within the reply
// time-out: never for a late one, and for any other only when the station wrote enough.
bool FailureExpected(const SimAnswer& answer) {
    return answer.kinds.split('+').contains("late") || answer.reply.size() < 21;
}

struct Tally {
    long total = 0;
    long asExpected = 0;
    long noReply = 0;          // exchange failed where a reply was due
    long wrongBytes = 0;       // a reply, but not the bytes this station wrote for this request
    long unexpectedReply = 0;  // a reply where the station wrote too little, or too late
};

// Exchanges and the simulator's lines are matched in order, as they come, so that nothing
// but the tallies grows during the run.
class Ledger {
public:
    void Add(const Outcome& outcome) { outcomes_.push_back(outcome); }
    void Match(std::deque<SimAnswer>& answers) {
        while (!outcomes_.empty() && !answers.empty()) {
            Classify(answers.front(), outcomes_.front());
            answers.pop_front();
            outcomes_.pop_front();
        }
    }
    [[nodiscard]] size_t unmatched() const { return outcomes_.size(); }
    std::map<QByteArray, Tally> byKind;

private:
    void Classify(const SimAnswer& answer, const Outcome& outcome) {
        Tally& t = byKind[answer.kinds];
        ++t.total;
        if (FailureExpected(answer)) {
            outcome.ok ? ++t.unexpectedReply : ++t.asExpected;
        } else if (!outcome.ok) {
            ++t.noReply;
        } else if (outcome.reply.size() < 21 || !answer.reply.startsWith(outcome.reply.left(21))) {
            ++t.wrongBytes;
        } else {
            ++t.asExpected;
        }
    }
    std::deque<Outcome> outcomes_;
};

// What /proc tells of another process: resident kB (all, and the anonymous part: the heap
// rather than mapped files), threads, open descriptors.
struct ProcessFigures {
    long rssKb = -1;
    long anonKb = -1;
    long threads = -1;
    long descriptors = -1;
};

ProcessFigures FiguresOf(qint64 pid) {
    ProcessFigures f;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 2 && fields[0] == "VmRSS:") {
                f.rssKb = fields[1].toLong();
            } else if (fields.size() >= 2 && fields[0] == "RssAnon:") {
                f.anonKb = fields[1].toLong();
            } else if (fields.size() >= 2 && fields[0] == "Threads:") {
                f.threads = fields[1].toLong();
            }
        }
    }
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    if (fds.exists()) {
        f.descriptors =
            fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    }
    return f;
}

// The history file with its write-ahead log, in kB.
long HistoryKb(const QDir& dir) {
    qint64 bytes = 0;
    for (const char* name : {"historique.sqlite", "historique.sqlite-wal"}) {
        bytes += QFileInfo(dir.filePath(QLatin1String(name))).size();
    }
    return static_cast<long>(bytes / 1024);
}

// One GET over a connection of its own, as a scraper makes it; the status code (0: none) and
// the body.
std::pair<int, QByteArray> HttpGet(quint16 port, const QByteArray& path) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(2000)) {
        return {0, {}};
    }
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                 "\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    qsizetype headEnd = -1;
    qint64 length = -1;
    while (clock.elapsed() < 10000) {
        if (headEnd < 0 && (headEnd = reply.indexOf("\r\n\r\n")) >= 0) {
            const QByteArray head = reply.left(headEnd).toLower();
            const qsizetype at = head.indexOf("content-length:");
            if (at >= 0) {
                length = head.mid(at + 15).split('\r').first().trimmed().toLongLong();
            }
        }
        if (headEnd >= 0 && ((length >= 0 && reply.size() >= headEnd + 4 + length) ||
                             (length < 0 && reply.endsWith("\r\n0\r\n\r\n")))) {
            break;
        }
        if (!socket.waitForReadyRead(1000) && socket.state() != QAbstractSocket::ConnectedState) {
            break;
        }
        reply += socket.readAll();
    }
    const QList<QByteArray> statusLine = reply.left(reply.indexOf('\r')).split(' ');
    return {statusLine.value(1).toInt(), headEnd >= 0 ? reply.mid(headEnd + 4) : QByteArray()};
}

// A scraper and a live page on the web view: one GET a second over a fresh connection, in
// turn over the pages and the API, and a WebSocket kept open, with another one opened and
// closed every minute.
class WebClient {
public:
    explicit WebClient(quint16 port) : port_(port) {
        QObject::connect(&scrape_, &QTimer::timeout, &scrape_, [this] { Scrape(); });
        scrape_.start(1000);
        QObject::connect(&live_, &QWebSocket::textMessageReceived, &live_,
                         [this](const QString&) { ++pushes; });
        QObject::connect(&live_, &QWebSocket::disconnected, &live_, [this] {
            ++liveLosses;
            QTimer::singleShot(1000, &live_, [this] { Open(live_); });
        });
        Open(live_);
        QObject::connect(&churn_, &QWebSocket::connected, &churn_, [this] {
            ++churned;
            churn_.close();
        });
        QObject::connect(&churnTimer_, &QTimer::timeout, &churnTimer_, [this] { Open(churn_); });
        churnTimer_.start(60000);
    }

    long gets = 0;
    long failed = 0;
    long pushes = 0;
    long liveLosses = 0;
    long churned = 0;

private:
    void Open(QWebSocket& socket) {
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/direct").arg(port_)));
        request.setRawHeader("Origin", "http://127.0.0.1:" + QByteArray::number(port_));
        socket.open(request);
    }
    void Scrape() {
        const QByteArray now = QByteArray::number(QDateTime::currentMSecsSinceEpoch());
        const QByteArray hourAgo =
            QByteArray::number(QDateTime::currentMSecsSinceEpoch() - 3600 * 1000);
        const QByteArray paths[] = {
            "/api/mesures",
            "/api/passe",
            "/metrics",
            "/api/statistiques",
            "/api/etat",
            "/api/historique?de=" + hourAgo + "&a=" + now + "&voies=0,1,2,3&colonnes=1000",
            "/api/journal?de=" + hourAgo + "&a=" + now,
            "/api/historique.csv?de=" + QByteArray::number(now.toLongLong() - 60000) + "&a=" + now,
            "/",
        };
        const QByteArray& path = paths[gets % std::size(paths)];
        const auto [status, body] = HttpGet(port_, path);
        ++gets;
        const bool json = path.startsWith("/api/") && !path.contains(".csv");
        QJsonParseError error{};
        if (status != 200 || (json && (QJsonDocument::fromJson(body, &error).isNull() ||
                                       error.error != QJsonParseError::NoError))) {
            if (failed++ < 5) {
                std::printf("GET %s: status %d, %s\n", path.constData(), status,
                            body.left(200).constData());
            }
        }
    }

    quint16 port_;
    QTimer scrape_;
    QTimer churnTimer_;
    QWebSocket live_;
    QWebSocket churn_;
};

int SoakProgram(int seconds, const QString& seed) {
    QTemporaryDir dir;
    const QDir folder(dir.path());
    const auto write = [&](const char* name, const QByteArray& text) {
        QFile file(folder.filePath(QLatin1String(name)));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    test::MosquittoBroker broker(dir.path());
    if (!broker.Start()) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return 1;
    }
    const int webPort = test::FreeLoopbackPort();
    const bool written =
        write("config.txt",
              "1,5\r\n\"1\",\"Debit\"\r\n1,2\r\n\"2\",\"Bassin\"\r\n1,0\r\n\"3\",\"Sortie\"\r\n"
              "1,15\r\n\"4\",\"Ozone\"\r\n#TRUE#,#TRUE#,#FALSE#,#TRUE#\r\n"
              "#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n") &&
        write("PortCom.dat", " 1              0 \r\n 0 \r\n 0 \r\n") &&
        write("merival.ini",
              QStringLiteral("[Historique]\nEnregistrement=true\n"
                             "[Alarmes]\nPerteCommunication=2\nIntervalleStationMuette=1\n"
                             "Commande=/bin/true\nVoie1\\SeuilBas=6.9\nVoie1\\SeuilHaut=7.1\n"
                             "[Publication]\nActif=true\nHote=127.0.0.1\nPort=%1\n"
                             "[Web]\nActif=true\nPort=%2\n")
                  .arg(broker.port())
                  .arg(webPort)
                  .toUtf8());
    if (!written) {
        std::fprintf(stderr, "cannot write the settings in %s\n", qPrintable(dir.path()));
        return 1;
    }
    test::MqttSubscriber subscriber(broker.port());
    QProcess sim;
    const QStringList stations = {QStringLiteral("1:flow:badcrc=0.05:short=0.05"),
                                  QStringLiteral("2:ph:silent=0.2"),
                                  QStringLiteral("3:resistivity:exception=0.05:noise=0.05"),
                                  QStringLiteral("4:562:echo=0.1:long=0.05")};
    if (!bench::StartSimulator(sim, dir.path(),
                               QStringList{QStringLiteral("--seed"), seed} + stations)) {
        return 1;
    }
    sim.setStandardOutputFile(QProcess::nullDevice());

    QProcess poll;
    poll.setWorkingDirectory(dir.path());
    poll.setStandardErrorFile(folder.filePath(QStringLiteral("poll-stderr.txt")));
    poll.start(QStringLiteral(MERIVAL_BINARY_DIR "/tools/poll/merival-poll"),
               {QStringLiteral("--record"), QStringLiteral("--alarms"), QStringLiteral("--mqtt"),
                QStringLiteral("--web"), QStringLiteral("--interval"), QStringLiteral("200")});
    if (!poll.waitForStarted(5000) ||
        !test::PumpFor([&] { return test::Accepting(webPort); }, 10000)) {
        std::fprintf(stderr, "merival-poll --web did not start\n");
        return 1;
    }
    WebClient web(static_cast<quint16>(webPort));
    std::printf("soak of merival-poll --record --alarms --mqtt --web, %d s, seed %s\n", seconds,
                qPrintable(seed));
    for (const QString& s : stations) {
        std::printf("  station %s\n", qPrintable(s));
    }
    std::printf("%6s %9s %8s %5s %7s %10s %9s %7s %9s %7s %6s %7s\n", "s", "VmRSS kB", "anon kB",
                "fds", "threads", "history kB", "readings", "alarms", "mqtt msgs", "GETs", "failed",
                "pushes");
    long readings = 0;
    long alarms = 0;
    QByteArray partial;
    const auto collect = [&] {
        sim.readAllStandardOutput();
        partial += poll.readAllStandardOutput();
        const qsizetype end = partial.lastIndexOf('\n');
        if (end >= 0) {
            for (const QByteArray& line : partial.left(end).split('\n')) {
                line.startsWith("Alarme") ? ++alarms : ++readings;
            }
            partial.remove(0, end + 1);
        }
    };
    ProcessFigures first;
    long firstHistory = 0;
    QElapsedTimer clock;
    clock.start();
    // Ten minutes between figures; shorter runs still get six lines.
    const int step = std::min(600, std::max(10, seconds / 6));
    std::vector<int> marks = {0, 10};  // the first figures once every part has started
    for (int at = step; at < seconds; at += step) {
        if (at > marks.back()) {
            marks.push_back(at);
        }
    }
    marks.push_back(seconds);
    for (const int at : marks) {
        if (poll.state() != QProcess::Running) {
            break;
        }
        test::PumpFor([&] { return clock.elapsed() >= at * 1000LL; }, at * 1000 + 5000);
        collect();
        const ProcessFigures f = FiguresOf(poll.processId());
        if (at == 10) {
            first = f;
            firstHistory = HistoryKb(folder);
        }
        std::printf("%6d %9ld %8ld %5ld %7ld %10ld %9ld %7ld %9zu %7ld %6ld %7ld\n", at, f.rssKb,
                    f.anonKb, f.descriptors, f.threads, HistoryKb(folder), readings, alarms,
                    subscriber.count(), web.gets, web.failed, web.pushes);
        std::fflush(stdout);
    }
    const ProcessFigures last = FiguresOf(poll.processId());
    const long lastHistory = HistoryKb(folder);  // before the write-ahead log is folded in
    const bool running = poll.state() == QProcess::Running;
    poll.terminate();
    poll.waitForFinished(20000);
    sim.terminate();
    sim.waitForFinished(5000);
    if (!running) {
        std::printf("merival-poll stopped early, status %d\n", poll.exitCode());
        return 1;
    }
    std::printf(
        "\nfrom 10 s to the end: VmRSS %+ld kB (anonymous %+ld kB), descriptors %+ld, threads "
        "%+ld, "
        "history %+ld kB\n"
        "web: %ld GETs, %ld failed; %ld pushes, live socket lost %ld times, %ld sockets opened "
        "and closed\n",
        last.rssKb - first.rssKb, last.anonKb - first.anonKb, last.descriptors - first.descriptors,
        last.threads - first.threads, lastHistory - firstHistory, web.gets, web.failed, web.pushes,
        web.liveLosses, web.churned);
    QFile errors(folder.filePath(QStringLiteral("poll-stderr.txt")));
    if (errors.open(QIODevice::ReadOnly) && errors.size() > 0) {
        std::printf("merival-poll's standard error (first lines):\n%s\n",
                    errors.read(2000).constData());
    }
    return web.failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--program") == 0) {
        const int seconds = argc > 2 ? std::atoi(argv[2]) : 3600;
        return SoakProgram(std::max(seconds, 20),
                           argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("1"));
    }
    const long exchanges = argc > 1 ? std::atol(argv[1]) : 100000;
    const int replyMs = argc > 2 ? std::atoi(argv[2]) : 40;
    const QString seed = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("1");
    if (exchanges <= 0 || replyMs <= 0) {
        std::fprintf(stderr,
                     "usage: bench_soak [EXCHANGES] [REPLY_TIMEOUT_MS] [SEED] [STATION...]\n");
        return 2;
    }

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    Simulator sim;
    // About a third of the requests meet a fault; babble and late replies are rarer because
    // their bytes outlive the exchange and land in the next ones.
    QStringList stations = {
        QStringLiteral("1:resistivity:noise=0.1:badcrc=0.1:echo=0.2"),
        QStringLiteral("2:flow:short=0.1:exception=0.1:long=0.2"),
        QStringLiteral("3:738:silent=0.1:babble=0.01:echo=0.1"),
        QStringLiteral("4:oxygen:late=0.005:noise=0.05"),
    };
    if (argc > 4) {
        stations.clear();
        for (int i = 4; i < argc; ++i) {
            stations << QString::fromLocal8Bit(argv[i]);
        }
    }
    if (!sim.Start(dir.path(), QStringList{QStringLiteral("--seed"), seed} + stations)) {
        std::fprintf(stderr, "merival-sim did not start\n");
        return 1;
    }

    SerialSettings settings;
    QtSerialPort port;
    Transport transport(port, settings);
    transport.setTimeOuts(200, replyMs);
    TransportRegisterReader reader(transport);
    if (const Status status = transport.OpenPort(); !status.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(status.message));
        return 1;
    }

    std::printf("soak: %ld exchanges, reply time-out %d ms, seed %s\n", exchanges, replyMs,
                qPrintable(seed));
    for (const QString& s : stations) {
        std::printf("  station %s\n", qPrintable(s));
    }
    std::printf("%10s %10s %12s %12s %12s %12s\n", "exchanges", "per s", "VmRSS kB", "VmHWM kB",
                "heap kB", "sim lines");

    Ledger ledger;
    const long warmUp = std::min<long>(1000, exchanges / 10);
    long rssAfterWarmUp = 0;
    long hwmAfterWarmUp = 0;
    long heapAfterWarmUp = 0;
    QElapsedTimer clock;
    clock.start();
    for (long i = 0; i < exchanges; ++i) {
        const int address = static_cast<int>(i % 4) + 1;
        const quint16 block = (i / 4) % 2 ? 20 : 0;
        ExchangeResult result = reader.ExchangeReadRegisters(address, block);
        // A copy of its own: a slice would share the read buffer's whole block.
        ledger.Add({result.ok, QByteArray(result.reply.constData(),
                                          std::min<qsizetype>(result.reply.size(), 21))});
        if ((i + 1) % 64 == 0) {
            sim.Collect();
            ledger.Match(sim.answers);
        }
        if (i + 1 == warmUp) {
            rssAfterWarmUp = StatusKb("VmRSS");
            hwmAfterWarmUp = StatusKb("VmHWM");
            heapAfterWarmUp = HeapKb();
        }
        if ((i + 1) % std::max<long>(1, exchanges / 10) == 0 || i + 1 == warmUp) {
            std::printf("%10ld %10.0f %12ld %12ld %12ld %12ld\n", i + 1,
                        (i + 1) * 1000.0 / std::max<qint64>(1, clock.elapsed()), StatusKb("VmRSS"),
                        StatusKb("VmHWM"), HeapKb(), sim.lines);
            std::fflush(stdout);
        }
    }
    const double seconds = clock.elapsed() / 1000.0;
    if (!sim.WaitFor([&] {
            ledger.Match(sim.answers);
            return ledger.unmatched() == 0;
        })) {
        std::printf("the simulator logged %ld of %ld requests\n", sim.lines, exchanges);
    }
    const std::map<QByteArray, Tally>& byKind = ledger.byKind;

    std::printf("\n%.1f s, %.0f exchanges per second\n", seconds, exchanges / seconds);
    std::printf("\n%-22s %8s %8s %8s %8s %8s\n", "answer", "total", "expected", "no-reply", "wrong",
                "unexp.ok");
    Tally all;
    for (const auto& [kinds, t] : byKind) {
        std::printf("%-22s %8ld %8ld %8ld %8ld %8ld\n", kinds.constData(), t.total, t.asExpected,
                    t.noReply, t.wrongBytes, t.unexpectedReply);
        all.total += t.total;
        all.asExpected += t.asExpected;
        all.noReply += t.noReply;
        all.wrongBytes += t.wrongBytes;
        all.unexpectedReply += t.unexpectedReply;
    }
    std::printf("%-22s %8ld %8ld %8ld %8ld %8ld\n", "all", all.total, all.asExpected, all.noReply,
                all.wrongBytes, all.unexpectedReply);

    const long rssEnd = StatusKb("VmRSS");
    const long hwmEnd = StatusKb("VmHWM");
    const long heapEnd = HeapKb();
    std::printf("\nafter %ld exchanges: VmRSS %ld kB, peak VmHWM %ld kB, heap in use %ld kB\n",
                warmUp, rssAfterWarmUp, hwmAfterWarmUp, heapAfterWarmUp);
    std::printf("at the end:%*s VmRSS %ld kB, peak VmHWM %ld kB, heap in use %ld kB\n", 10, "",
                rssEnd, hwmEnd, heapEnd);
    std::printf("growth: VmRSS %+ld kB, VmHWM %+ld kB, heap %+ld kB\n", rssEnd - rssAfterWarmUp,
                hwmEnd - hwmAfterWarmUp, heapEnd - heapAfterWarmUp);
    return 0;
}

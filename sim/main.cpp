// merival-sim: simulated stations answering Modbus RTU on a pseudo-terminal linked as COMn in
// the current directory, or over TCP (RTU frames as a transparent converter passes them, or
// MBAP frames as a gateway does). Line format of stdout: sim/README.md.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "instruments/Frame.h"
#include "sim/SimOptions.h"
#include "sim/SimStation.h"

namespace merival::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int kRequestSize = 8;
// Bytes that make no request are reported after this much silence.
constexpr auto kGarbageGap = std::chrono::milliseconds(50);
// Output the line cannot take (nobody reading) is dropped after this long.
constexpr auto kStaleOutput = std::chrono::milliseconds(1000);
// After the line reports an error, it is left alone this long (never spin on it).
constexpr auto kErrorBackoff = std::chrono::milliseconds(100);

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

struct Output {
    QByteArray bytes;
    qsizetype sent = 0;
    std::chrono::steady_clock::time_point start;  // when the first byte is due
};

class Line {
public:
    explicit Line(SimConfig config) : config_(std::move(config)), start_(Clock::now()) {
        for (const StationSetup& setup : config_.stations) {
            stations_[setup.address] = std::make_unique<Station>(setup, config_.seed);
        }
        charTime_ = std::chrono::duration_cast<Clock::duration>(Seconds(CharacterSeconds(config_)));
    }

    ~Line() {
        RemoveLink();
        if (slave_ >= 0) {
            ::close(slave_);
        }
        if (master_ >= 0) {
            ::close(master_);
        }
        if (listen_ >= 0) {
            ::close(listen_);
        }
    }

    bool Open() {
        if (config_.tcpPort >= 0) {
            return Listen();
        }
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            perror("merival-sim: pseudo-terminal");
            return false;
        }
        const char* name = ::ptsname(master_);
        if (name == nullptr) {
            perror("merival-sim: ptsname");
            return false;
        }
        slaveName_ = QString::fromLocal8Bit(name);
        // Keeping the slave open ourselves means a client closing it never leaves the master
        // reporting hang-ups in a loop.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (slave_ < 0) {
            perror("merival-sim: open slave");
            return false;
        }
        termios tio{};
        if (::tcgetattr(slave_, &tio) == 0) {
            ::cfmakeraw(&tio);
            const speed_t speed =
                config_.baud == 2400 ? B2400 : (config_.baud == 4800 ? B4800 : B9600);
            ::cfsetispeed(&tio, speed);
            ::cfsetospeed(&tio, speed);
            ::tcsetattr(slave_, TCSANOW, &tio);
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        return MakeLink();
    }

    int Run() {
        std::vector<pollfd> fds(3);
        while (true) {
            const auto now = Clock::now();
            const bool lineUsable = now >= backoffUntil_;
            fds[0] = {signalPipe[0], POLLIN, 0};
            short events = 0;
            if (lineUsable) {
                events = POLLIN;
                if (!outputs_.empty() && outputs_.begin()->first <= now) {
                    events |= POLLOUT;
                }
            }
            fds[1] = {master_, events, 0};
            fds[2] = {listen_, POLLIN, 0};
            const int timeout = TimeoutMs(now);
            const int ready = ::poll(fds.data(), fds.size(), timeout);
            if (ready < 0 && errno != EINTR) {
                perror("merival-sim: poll");
                return 1;
            }
            if (fds[0].revents & POLLIN) {
                return 0;
            }
            if (fds[2].revents & POLLIN) {
                Accept();
            }
            if (master_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                Receive();
            }
            ProcessInput(Clock::now());
            Send(Clock::now());
        }
    }

private:
    bool Listen() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(config_.tcpPort));
        if (::inet_pton(AF_INET, qPrintable(config_.tcpHost), &address.sin_addr) != 1) {
            fprintf(stderr, "merival-sim: %s is not an IPv4 address\n",
                    qPrintable(config_.tcpHost));
            return false;
        }
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (listen_ < 0 || ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listen_, 4) != 0) {
            perror("merival-sim: listen");
            return false;
        }
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        fprintf(stderr, "merival-sim: listening on %s:%d (%s), %zu station(s)%s\n",
                qPrintable(config_.tcpHost), ntohs(address.sin_port),
                config_.mbap ? "modbus-tcp" : "rtu-tcp", config_.stations.size(),
                config_.pace ? ", paced" : "");
        return true;
    }

    // One client at a time, as on a converter's single serial line: a new connection takes
    // the line over from the previous one.
    void Accept() {
        const int client = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            return;
        }
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        DropClient();
        master_ = client;
    }

    void DropClient() {
        if (master_ >= 0 && listen_ >= 0) {
            ::close(master_);
            master_ = -1;
            input_.clear();
            outputs_.clear();
        }
    }

    bool MakeLink() {
        linkPath_ = QDir::current().absoluteFilePath(config_.link);
        const QFileInfo existing(linkPath_);
        if (existing.exists() && !existing.isSymLink()) {
            fprintf(stderr, "merival-sim: %s exists and is not a link; not replaced\n",
                    qPrintable(linkPath_));
            return false;
        }
        // Made aside and renamed over: a client never sees the name missing or half made.
        const QString temporary = QStringLiteral("%1.%2.tmp").arg(linkPath_).arg(::getpid());
        QFile::remove(temporary);
        if (::symlink(slaveName_.toLocal8Bit().constData(), temporary.toLocal8Bit().constData()) !=
                0 ||
            ::rename(temporary.toLocal8Bit().constData(), linkPath_.toLocal8Bit().constData()) !=
                0) {
            perror("merival-sim: link");
            QFile::remove(temporary);
            return false;
        }
        fprintf(stderr, "merival-sim: %s -> %s, %zu station(s)%s\n", qPrintable(config_.link),
                qPrintable(slaveName_), config_.stations.size(), config_.pace ? ", paced" : "");
        return true;
    }

    void RemoveLink() {
        // Only our own link: a newer simulator may have taken the name since.
        if (!linkPath_.isEmpty() && QFileInfo(linkPath_).symLinkTarget() == slaveName_) {
            QFile::remove(linkPath_);
        }
    }

    int TimeoutMs(Clock::time_point now) const {
        Clock::time_point wake = Clock::time_point::max();
        if (now < backoffUntil_) {
            wake = backoffUntil_;
        }
        if (!outputs_.empty()) {
            wake = std::min(wake, std::max(outputs_.begin()->first, now));
        }
        if (!input_.isEmpty()) {
            wake = std::min(wake, lastInput_ + kGarbageGap);
        }
        if (wake == Clock::time_point::max()) {
            return -1;
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        return static_cast<int>(std::clamp<long long>(ms, 0, 60000));
    }

    void Receive() {
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            input_.append(buffer, n);
            lastInput_ = Clock::now();
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        } else if (listen_ >= 0) {
            DropClient();
        } else {
            backoffUntil_ = Clock::now() + kErrorBackoff;
        }
    }

    void ProcessInput(Clock::time_point now) {
        if (config_.mbap) {
            ProcessMbap(now);
            return;
        }
        while (input_.size() >= kRequestSize) {
            qsizetype at = -1;
            for (qsizetype i = 0; i + kRequestSize <= input_.size(); ++i) {
                if (Crc16Modbus(input_.mid(i, kRequestSize)) == 0) {
                    at = i;
                    break;
                }
            }
            if (at < 0) {
                break;
            }
            if (at > 0) {
                ReportGarbage(input_.left(at));
            }
            Handle(input_.mid(at, kRequestSize), now);
            input_.remove(0, at + kRequestSize);
        }
        if (!input_.isEmpty() && now - lastInput_ >= kGarbageGap) {
            ReportGarbage(input_);
            input_.clear();
        }
    }

    static int Word(const QByteArray& bytes, qsizetype at) {
        return (static_cast<quint8>(bytes.at(at)) << 8) | static_cast<quint8>(bytes.at(at + 1));
    }

    // Each MBAP frame stands for the RTU request of its unit and PDU.
    void ProcessMbap(Clock::time_point now) {
        while (input_.size() >= 7) {
            const int length = Word(input_, 4);
            if (Word(input_, 2) != 0 || length < 2 || length > 254) {
                ReportGarbage(input_);
                input_.clear();
                return;
            }
            if (input_.size() < 6 + length) {
                break;
            }
            const QByteArray frame = input_.left(6 + length);
            input_.remove(0, frame.size());
            const QByteArray rtu = frame.mid(6) + FrameCrc(frame.mid(6));
            if (rtu.size() != kRequestSize) {
                ReportGarbage(frame);
                continue;
            }
            Handle(rtu, now, frame.left(2));
        }
        if (!input_.isEmpty() && now - lastInput_ >= kGarbageGap * 20) {
            ReportGarbage(input_);
            input_.clear();
        }
    }

    // The reply of a gateway: the same transaction, unit and PDU, no CRC.
    static QByteArray MbapReply(const QByteArray& transaction, const QByteArray& rtu) {
        if (rtu.size() < 4) {
            return {};
        }
        const QByteArray unitAndPdu = rtu.left(rtu.size() - 2);
        QByteArray frame = transaction;
        frame.append('\0').append('\0');
        frame.append(static_cast<char>(unitAndPdu.size() >> 8));
        frame.append(static_cast<char>(unitAndPdu.size() & 0xFF));
        return frame + unitAndPdu;
    }

    void Handle(const QByteArray& request, Clock::time_point now,
                const QByteArray& transaction = {}) {
        const int address = static_cast<quint8>(request.at(0));
        const int first =
            (static_cast<quint8>(request.at(2)) << 8) | static_cast<quint8>(request.at(3));
        const auto it = stations_.find(address);
        if (it == stations_.end()) {
            Print(address, first,
                  address == 0 ? QStringLiteral("broadcast") : QStringLiteral("none"), 0, {},
                  request);
            return;
        }
        Answer answer = it->second->Respond(request);
        if (config_.mbap) {
            // A gateway neither echoes nor passes a frame whose CRC it refused.
            const bool sound = !answer.reply.isEmpty() && Crc16Modbus(answer.reply) == 0;
            answer.bytes = sound ? MbapReply(transaction, answer.reply) : QByteArray();
        }
        Print(address, first, answer.kinds.join(QLatin1Char('+')), answer.bytes.size(),
              answer.reply, request);
        if (answer.bytes.isEmpty() || master_ < 0) {
            return;
        }
        auto due = now + std::chrono::milliseconds(answer.delayMs);
        if (config_.pace) {
            // The request's own time on the wire, then the silence that ends a frame.
            due += std::chrono::duration_cast<Clock::duration>(charTime_ * (kRequestSize + 3.5));
            if (!outputs_.empty()) {
                due = std::max(due, lineFreeAt_ + std::chrono::duration_cast<Clock::duration>(
                                                      charTime_ * 3.5));
            }
            lineFreeAt_ = due + charTime_ * answer.bytes.size();
        }
        outputs_.emplace(due, Output{answer.bytes, 0, due});
    }

    void Send(Clock::time_point now) {
        while (!outputs_.empty() && outputs_.begin()->first <= now) {
            auto node = outputs_.begin();
            Output& out = node->second;
            qsizetype wanted = out.bytes.size() - out.sent;
            if (config_.pace) {
                // Every character due since the start, whatever the wake-up granularity.
                const qsizetype dueBytes = std::min<qsizetype>(
                    out.bytes.size(), static_cast<qsizetype>((now - out.start) / charTime_) + 1);
                wanted = dueBytes - out.sent;
            }
            if (wanted > 0) {
                const ssize_t n =
                    ::write(master_, out.bytes.constData() + out.sent, static_cast<size_t>(wanted));
                if (n > 0) {
                    out.sent += n;
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    backoffUntil_ = now + kErrorBackoff;
                }
            }
            if (out.sent >= out.bytes.size()) {
                outputs_.erase(node);
                continue;
            }
            if (now - out.start > kStaleOutput + charTime_ * out.bytes.size()) {
                fprintf(stderr, "merival-sim: line full, %lld byte(s) dropped\n",
                        static_cast<long long>(out.bytes.size() - out.sent));
                outputs_.erase(node);
                continue;
            }
            if (config_.pace) {
                const auto next = out.start + charTime_ * out.sent;
                if (next > node->first) {
                    auto rest = outputs_.extract(node);
                    rest.key() = next;
                    outputs_.insert(std::move(rest));
                }
            }
            break;
        }
    }

    void ReportGarbage(const QByteArray& bytes) {
        Print(-1, -1, QStringLiteral("bad-frame"), 0, {}, bytes);
    }

    void Print(int address, int block, const QString& answer, qsizetype written,
               const QByteArray& reply, const QByteArray& request) {
        const double t = Seconds(Clock::now() - start_).count();
        const QByteArray addressText = address < 0 ? "-" : QByteArray::number(address);
        const QByteArray blockText = block < 0 ? "-" : QByteArray::number(block);
        const QByteArray replyHex = reply.isEmpty() ? "-" : reply.toHex().toUpper();
        fprintf(stdout, "%.3f addr=%s block=%s answer=%s bytes=%lld reply=%s request=%s\n", t,
                addressText.constData(), blockText.constData(), qPrintable(answer),
                static_cast<long long>(written), replyHex.constData(),
                request.toHex().toUpper().constData());
        fflush(stdout);
    }

    SimConfig config_;
    Clock::time_point start_;
    Clock::duration charTime_{};
    std::map<int, std::unique_ptr<Station>> stations_;
    int master_ = -1;  // the terminal's master side, or the TCP client
    int slave_ = -1;
    int listen_ = -1;
    QString slaveName_;
    QString linkPath_;
    QByteArray input_;
    Clock::time_point lastInput_;
    Clock::time_point backoffUntil_;
    Clock::time_point lineFreeAt_;
    std::multimap<Clock::time_point, Output> outputs_;
};

}  // namespace
}  // namespace merival::sim

int main(int argc, char** argv) {
    using namespace merival::sim;
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const ParsedArguments parsed = ParseArguments(arguments);
    if (parsed.help) {
        fputs(qPrintable(Usage()), stdout);
        return 0;
    }
    if (!parsed.error.isEmpty()) {
        fprintf(stderr, "merival-sim: %s\n%s", qPrintable(parsed.error), qPrintable(Usage()));
        return 2;
    }

    if (::pipe(signalPipe) != 0) {
        perror("merival-sim: pipe");
        return 1;
    }
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(s, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_IGN);

    Line line(parsed.config);
    if (!line.Open()) {
        return 1;
    }
    return line.Run();
}

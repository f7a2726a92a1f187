#pragma once

// A real mosquitto broker on 127.0.0.1 at a free port, with its own configuration in a
// directory of the caller, and a real subscriber (libmosquitto) collecting what it receives.

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

#include "publish/MqttLink.h"

namespace merival::test {

inline int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

inline bool Accepting(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Runs the event loop (queued calls of the links) until the condition holds or the guard
// runs out; the guard only keeps a broken test from hanging.
inline bool PumpFor(const std::function<bool()>& done, int guardMs = 10000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > guardMs) {
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return true;
}

class MosquittoBroker {
public:
    // extra: more lines for the listener (TLS files, password file, ...).
    MosquittoBroker(QString directory, QString extra = QStringLiteral("allow_anonymous true\n"))
        : directory_(std::move(directory)), extra_(std::move(extra)), port_(FreeLoopbackPort()) {}
    ~MosquittoBroker() { Stop(); }

    // Starts (again, on the same port) and waits until it accepts connections.
    bool Start() {
        const QString config = QDir(directory_).filePath(QStringLiteral("mosquitto.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            return false;
        }
        file.write(QStringLiteral("user root\npersistence false\nlog_dest none\n"
                                  "listener %1 127.0.0.1\n%2")
                       .arg(port_)
                       .arg(extra_)
                       .toUtf8());
        file.close();
        process_.setWorkingDirectory(directory_);
        process_.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), config});
        return process_.waitForStarted() &&
               PumpFor([&] { return Accepting(port_) || !Running(); }, 5000) && Running();
    }
    void Stop() {
        if (Running()) {
            process_.terminate();
            process_.waitForFinished(5000);
        }
    }
    [[nodiscard]] bool Running() const { return process_.state() == QProcess::Running; }
    [[nodiscard]] int port() const { return port_; }

private:
    QString directory_;
    QString extra_;
    int port_;
    QProcess process_;
};

struct Received {
    QByteArray topic;
    QByteArray payload;
    bool retained = false;
    std::chrono::steady_clock::time_point at;
};

class MqttSubscriber {
public:
    explicit MqttSubscriber(int port, const char* filter = "#") {
        mosq_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* subscriber = static_cast<MqttSubscriber*>(self);
                const std::lock_guard lock(subscriber->mutex_);
                subscriber->messages_.push_back(
                    {QByteArray(m->topic),
                     QByteArray(static_cast<const char*>(m->payload), m->payloadlen), m->retain,
                     std::chrono::steady_clock::now()});
            });
        mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
            auto* subscriber = static_cast<MqttSubscriber*>(self);
            const std::lock_guard lock(subscriber->mutex_);
            subscriber->subscribed_ = true;
        });
        ok_ = mosquitto_connect(mosq_, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS &&
              mosquitto_subscribe(mosq_, nullptr, filter, 1) == MOSQ_ERR_SUCCESS &&
              mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
        ok_ = ok_ && PumpFor([this] {
                  const std::lock_guard lock(mutex_);
                  return subscribed_;
              });
    }
    ~MqttSubscriber() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    [[nodiscard]] bool ok() const { return ok_; }

    std::vector<Received> messages() {
        const std::lock_guard lock(mutex_);
        return messages_;
    }
    size_t count() {
        const std::lock_guard lock(mutex_);
        return messages_.size();
    }
    // Payloads received on one topic, in order.
    QList<QByteArray> payloads(const QByteArray& topic) {
        QList<QByteArray> found;
        for (const Received& m : messages()) {
            if (m.topic == topic) {
                found.append(m.payload);
            }
        }
        return found;
    }

private:
    MosquittoLibrary library_;
    mosquitto* mosq_ = nullptr;
    bool ok_ = false;
    std::mutex mutex_;
    bool subscribed_ = false;
    std::vector<Received> messages_;
};

}  // namespace merival::test

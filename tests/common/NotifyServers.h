#pragma once

// Real SMTP (aiosmtpd) and HTTP servers on 127.0.0.1 for the notification tests, run by
// Debian's python3 from tests/data/notify_servers.py; each message received is one JSON
// object.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>

#include "common/Mosquitto.h"

namespace merival::test {

class NotifyServer {
public:
    // kind: "smtp" or "http"; records go to `out`.
    NotifyServer(QString kind, QString out, QStringList extra = {})
        : kind_(std::move(kind)),
          out_(std::move(out)),
          extra_(std::move(extra)),
          port_(FreeLoopbackPort()) {}
    ~NotifyServer() { Stop(); }

    // Starts (again, on the same port) and waits until it accepts connections.
    bool Start() {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"),
                       QStringList{QStringLiteral(MERIVAL_TEST_DATA "/notify_servers.py"), kind_,
                                   QString::number(port_), out_} +
                           extra_);
        return process_.waitForStarted() &&
               PumpFor([&] { return process_.canReadLine() || !Running(); }, 15000) &&
               process_.readLine().startsWith("READY") && Accepting(port_);
    }
    void Stop() {
        if (Running()) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    [[nodiscard]] bool Running() const { return process_.state() == QProcess::Running; }
    [[nodiscard]] int port() const { return port_; }

    [[nodiscard]] QList<QJsonObject> Records() const {
        QList<QJsonObject> records;
        QFile file(out_);
        if (file.open(QIODevice::ReadOnly)) {
            while (!file.atEnd()) {
                records.append(QJsonDocument::fromJson(file.readLine()).object());
            }
        }
        return records;
    }

private:
    QString kind_;
    QString out_;
    QStringList extra_;
    int port_;
    QProcess process_;
};

}  // namespace merival::test

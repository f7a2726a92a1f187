#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

#include "serial/SerialPortInterface.h"

namespace merival::test {

// A port whose line is a script: what the station sends back after each write, in timed
// fragments, and how long a request takes to leave. Everything runs on Qt timers, so the
// transport's event-loop waits see it like a real port.
class FakePort : public QObject, public SerialPortInterface {
public:
    struct Chunk {
        int delayMs;  // after the write
        QByteArray bytes;
    };

    bool setPortNumber(int number) override {
        calls << QStringLiteral("port %1").arg(number);
        if (open_) {
            return false;
        }
        number_ = number;
        return true;
    }
    [[nodiscard]] int portNumber() const override { return number_; }
    bool setSettings(const QString& settings) override {
        calls << QStringLiteral("settings ") + settings;
        return acceptSettings;
    }
    void setOption2() override { calls << QStringLiteral("option2"); }
    bool open(QString* error) override {
        calls << QStringLiteral("open");
        if (!openError.isEmpty()) {
            *error = openError;
            return false;
        }
        open_ = true;
        return true;
    }
    void close() override {
        calls << QStringLiteral("close");
        open_ = false;
    }
    [[nodiscard]] bool isOpen() const override { return open_; }

    [[nodiscard]] qint64 inBufferCount() const override { return input.size(); }
    void discardInput() override { input.clear(); }
    [[nodiscard]] qint64 outBufferCount() const override { return unsent; }
    void discardOutput() override {
        ++outputDiscards;
        unsent = 0;
    }
    void write(const QByteArray& bytes) override {
        if (onWrite) {
            onWrite();
        }
        written.push_back(bytes);
        unsent = bytes.size();
        if (leaveAfterMs >= 0) {
            QTimer::singleShot(leaveAfterMs, this, [this] { unsent = 0; });
        }
        if (echo) {
            input.append(bytes);
        }
        for (const Chunk& chunk : replyChunks) {
            QTimer::singleShot(chunk.delayMs, this, [this, bytes = chunk.bytes] {
                if (open_) {
                    input.append(bytes);
                }
            });
        }
    }
    [[nodiscard]] QByteArray readAll() override {
        QByteArray bytes;
        bytes.swap(input);
        return bytes;
    }

    // The line goes away, as when a USB adapter is pulled.
    void loseAfter(int ms) {
        QTimer::singleShot(ms, this, [this] { open_ = false; });
    }

    // Script.
    std::vector<Chunk> replyChunks;
    int leaveAfterMs = 0;  // -1: the request never leaves
    bool echo = false;
    bool acceptSettings = true;
    QString openError;
    std::function<void()> onWrite;

    // Observations.
    QStringList calls;
    std::vector<QByteArray> written;
    int outputDiscards = 0;
    QByteArray input;
    qint64 unsent = 0;

private:
    bool open_ = false;
    int number_ = 1;
};

}  // namespace merival::test

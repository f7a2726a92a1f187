#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <array>

#include "serial/SerialPortInterface.h"
#include "serial/SerialSettings.h"
#include "shell/Status.h"

namespace merival {

struct ReplyResult {
    bool ok = false;
    QByteArray reply;  // empty when !ok
};

// The thin layer between the exchanges and the one serial port: open with the shared
// settings, discard input, send, and wait with two successive time-outs while the event loop
// keeps running.
class Transport : public QObject {
    Q_OBJECT
public:
    Transport(SerialPortInterface& port, const SerialSettings& settings, QObject* parent = nullptr);

    // Port number, settings string, option 2, open. The status names the port and the reason.
    [[nodiscard]] Status OpenPort();
    void ClosePort();
    [[nodiscard]] bool IsOpen() const;

    void ClearInput();
    void SendFrame(const QByteArray& frame);
    // Waits up to the send time-out for the request to leave, then up to the reply time-out
    // for n bytes. Success returns everything waiting at that moment.
    [[nodiscard]] ReplyResult ReadReply(int n);

    void StartTimeOut(int slot, int milliseconds);
    [[nodiscard]] bool TimedOut(int slot) const;

    // 2000 ms each unless a test shortens them.
    void setTimeOuts(int sendMs, int replyMs);

    [[nodiscard]] SerialPortInterface& port() { return port_; }

private:
    SerialPortInterface& port_;
    const SerialSettings& settings_;
    std::array<QTimer, 4> timeOut_;  // slots 1..3 used
    std::array<bool, 4> timedOut_{};
    int sendMs_ = 2000;
    int replyMs_ = 2000;
    QByteArray lastRequest_;
};

}  // namespace merival

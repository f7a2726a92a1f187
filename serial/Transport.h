#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>

#include "base/Status.h"
#include "serial/ExchangeObserver.h"
#include "serial/SerialPortInterface.h"
#include "serial/SerialSettings.h"

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
    // A port already open is closed first, so the current settings always apply.
    [[nodiscard]] Status OpenPort();
    void ClosePort();
    [[nodiscard]] bool IsOpen() const;
    // Before an exchange: a port that OpenPort opened and that was lost since (read error,
    // adapter pulled, simulator restarted) is opened again with the same settings, the same
    // way (through the same COMn entry; never a fallback device meanwhile). False when
    // the port is closed and stays closed; ClosePort ends these attempts until the next OpenPort.
    [[nodiscard]] bool EnsureOpen();

    void ClearInput();
    void SendFrame(const QByteArray& frame);
    // Waits up to the send time-out for the request to leave, then up to the reply time-out
    // for n bytes. Success returns everything waiting at that moment.
    [[nodiscard]] ReplyResult ReadReply(int n);

    void StartTimeOut(int slot, int milliseconds);
    [[nodiscard]] bool TimedOut(int slot) const;

    // 2000 ms each unless a test shortens them.
    void setTimeOuts(int sendMs, int replyMs);
    // The line's timing; the port's own, when it has one, replaces it at each OpenPort.
    void setTiming(const LinkTiming& timing);
    [[nodiscard]] const LinkTiming& timing() const { return timing_; }

    [[nodiscard]] SerialPortInterface& port() { return port_; }

    // Told of every exchange from now on; nullptr to stop. Not owned.
    void setObserver(ExchangeObserver* observer) { observer_ = observer; }
    // A request that could not be sent because the port is closed, for the observer.
    void ReportUnsent(const QByteArray& request);

    // The silence a line keeps between two frames: 3.5 characters at the line's speed, in
    // milliseconds rounded up.
    [[nodiscard]] static int InterFrameGapMs(const SerialSettings& settings);

    // Received bytes kept beyond this are dropped (a babbling line cannot exhaust memory).
    static constexpr qsizetype kMaxPending = 4096;

private:
    // again: the port was lost and is opened the way the last OpenPort did.
    [[nodiscard]] Status Open(bool again);
    // One turn of a wait: let pending events run, blocking only after the first turn.
    static void WaitTurn(bool first);
    // Lets the event loop run for this long.
    void Pause(int milliseconds);
    // Moves what the port has received into pending_ and drops a local echo of the request.
    void PullInput();
    [[nodiscard]] qsizetype ReceivedCount() const;
    // Lets the previous frame's silence run out before a new request goes on the line; bytes
    // heard meanwhile belong to the previous frame and are dropped.
    void WaitForQuietLine();
    void Report(const QByteArray& reply, bool timedOut);
    void NoteBytesHeard();
    void ReportTrailing();

    SerialPortInterface& port_;
    const SerialSettings& settings_;
    std::array<QTimer, 4> timeOut_;  // slots 1..3 used
    std::array<bool, 4> timedOut_{};
    int sendMs_ = 2000;
    int replyMs_ = 2000;
    LinkTiming timing_;
    QByteArray lastRequest_;
    QByteArray pending_;         // received, not yet handed out
    bool echoPossible_ = false;  // pending_ may still turn out to start with lastRequest_
    bool wantOpen_ = false;      // OpenPort was called and ClosePort not since
    QElapsedTimer lastHeard_;    // since the end of the last wait for a reply

    ExchangeObserver* observer_ = nullptr;
    ExchangeRecord record_;  // the exchange under way, for the observer
    QElapsedTimer sentClock_;
    bool replyTaken_ = false;  // the last exchange's reply was taken; later bytes trail it
};

}  // namespace merival

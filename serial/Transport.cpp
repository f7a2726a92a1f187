#include "serial/Transport.h"

#include <QCoreApplication>
#include <QDateTime>

#include "serial/FrameLog.h"

namespace merival {

Q_LOGGING_CATEGORY(lcFrames, "merival.frames", QtWarningMsg)

Transport::Transport(SerialPortInterface& port, const SerialSettings& settings, QObject* parent)
    : QObject(parent), port_(port), settings_(settings) {
    for (size_t slot = 1; slot < timeOut_.size(); ++slot) {
        QTimer& timer = timeOut_[slot];
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this, slot] {
            timedOut_[slot] = true;
            timeOut_[slot].stop();
        });
    }
}

Status Transport::OpenPort() {
    return Open(false);
}

Status Transport::Open(bool again) {
    wantOpen_ = true;
    pending_.clear();
    if (port_.isOpen()) {
        port_.close();
    }
    const QString name = QStringLiteral("COM%1").arg(settings_.Port);
    if (!port_.setPortNumber(settings_.Port)) {
        return Status::Error(QStringLiteral("Numéro de port refusé : %1.").arg(name));
    }
    const QString settingsText = SettingsString(settings_);
    if (!port_.setSettings(settingsText)) {
        return Status::Error(
            QStringLiteral("Le port %1 refuse les paramètres %2.").arg(name, settingsText));
    }
    port_.setOption2();
    QString error;
    if (!(again ? port_.reopen(&error) : port_.open(&error))) {
        if (error.isEmpty()) {
            error = QStringLiteral("Impossible d'ouvrir le port %1.").arg(name);
        }
        return Status::Error(error);
    }
    if (const std::optional<LinkTiming> timing = port_.timing()) {
        setTiming(*timing);
    }
    if (timing_.pauseAfterOpenMs > 0) {
        // Some converters and instruments lose what arrives just after the line opens.
        Pause(timing_.pauseAfterOpenMs);
        port_.discardInput();
    }
    return Status::Ok();
}

void Transport::Pause(int milliseconds) {
    bool done = false;
    QTimer::singleShot(std::chrono::milliseconds(milliseconds), Qt::PreciseTimer, this,
                       [&done] { done = true; });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void Transport::ClosePort() {
    wantOpen_ = false;
    pending_.clear();
    port_.close();
}

bool Transport::IsOpen() const {
    return port_.isOpen();
}

bool Transport::EnsureOpen() {
    if (port_.isOpen()) {
        return true;
    }
    if (!wantOpen_) {
        return false;
    }
    const Status status = Open(true);
    if (!status.ok()) {
        qCDebug(lcFrames) << "reopen failed:" << status.message;
    }
    return status.ok();
}

void Transport::ClearInput() {
    ReportTrailing();
    pending_.clear();
    echoPossible_ = false;
    if (port_.isOpen()) {
        port_.discardInput();
    }
}

void Transport::SendFrame(const QByteArray& frame) {
    lastRequest_ = frame;
    echoPossible_ = pending_.isEmpty();
    record_ = {};
    if (!port_.isOpen()) {
        return;
    }
    WaitForQuietLine();
    if (!port_.isOpen()) {
        return;
    }
    qCDebug(lcFrames).noquote() << "sent" << frame.toHex(' ');
    if (observer_ != nullptr) {
        record_.time = QDateTime::currentMSecsSinceEpoch();
        sentClock_.start();
    }
    replyTaken_ = false;
    port_.write(frame);
}

void Transport::ReportUnsent(const QByteArray& request) {
    lastRequest_ = request;
    record_ = {};
    Report({}, false);
}

void Transport::NoteBytesHeard() {
    if (observer_ == nullptr || !sentClock_.isValid()) {
        return;
    }
    record_.lastByteMs = static_cast<int>(sentClock_.elapsed());
    if (record_.firstByteMs < 0) {
        record_.firstByteMs = record_.lastByteMs;
    }
}

void Transport::ReportTrailing() {
    if (observer_ == nullptr || !replyTaken_ || !port_.isOpen()) {
        return;
    }
    QByteArray bytes = pending_;
    if (port_.inBufferCount() > 0) {
        bytes.append(port_.readAll());
    }
    if (!bytes.isEmpty()) {
        observer_->trailing(bytes.left(kMaxPending));
    }
}

void Transport::Report(const QByteArray& reply, bool timedOut) {
    if (observer_ == nullptr) {
        return;
    }
    if (record_.time == 0) {
        record_.time = QDateTime::currentMSecsSinceEpoch();
    }
    record_.port = settings_.Port;
    record_.request = lastRequest_;
    record_.reply = reply;
    record_.timedOut = timedOut;
    record_.portClosed = !port_.isOpen();
    record_.network = port_.networkFacts();
    if (reply.isEmpty()) {
        record_.firstByteMs = record_.lastByteMs = -1;
    }
    observer_->exchanged(record_);
    record_ = {};
    sentClock_.invalidate();
}

int Transport::InterFrameGapMs(const SerialSettings& settings) {
    const int baud = BaudRate(settings);
    if (baud <= 0) {
        return 0;
    }
    const int bitsPerCharacter =
        1 + 8 + (settings.ParityIndex == 0 ? 0 : 1) + (settings.StopBitsIndex == 1 ? 2 : 1);
    // 3.5 characters, rounded up to whole milliseconds.
    return (35 * bitsPerCharacter * 1000 + 10 * baud - 1) / (10 * baud);
}

void Transport::WaitForQuietLine() {
    if (!lastHeard_.isValid()) {
        return;
    }
    // Bytes heard in the silence are the previous frame still coming: the silence starts
    // again, within the reply time-out, so that even a babbling line gets its request.
    QElapsedTimer waiting;
    waiting.start();
    for (;;) {
        const qint64 remaining =
            InterFrameGapMs(settings_) + timing_.pauseBetweenMs - lastHeard_.elapsed();
        if (remaining <= 0) {
            return;
        }
        bool quiet = false;
        QTimer::singleShot(std::chrono::milliseconds(remaining), Qt::PreciseTimer, this,
                           [&quiet] { quiet = true; });
        while (!quiet) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const bool heard = port_.isOpen() && port_.inBufferCount() > 0;
        ReportTrailing();
        if (heard) {
            port_.discardInput();
        }
        pending_.clear();
        echoPossible_ = true;
        if (!heard || waiting.elapsed() >= replyMs_) {
            return;
        }
        lastHeard_.start();
    }
}

void Transport::StartTimeOut(int slot, int milliseconds) {
    if (slot < 1 || slot >= static_cast<int>(timeOut_.size())) {
        return;
    }
    QTimer& timer = timeOut_[static_cast<size_t>(slot)];
    timer.stop();
    timer.setInterval(milliseconds);
    timer.start();
    timedOut_[static_cast<size_t>(slot)] = false;
}

bool Transport::TimedOut(int slot) const {
    if (slot < 1 || slot >= static_cast<int>(timedOut_.size())) {
        return false;
    }
    return timedOut_[static_cast<size_t>(slot)];
}

void Transport::setTimeOuts(int sendMs, int replyMs) {
    sendMs_ = sendMs;
    replyMs_ = replyMs;
}

void Transport::setTiming(const LinkTiming& timing) {
    timing_ = timing;
    replyMs_ = timing.replyMs;
}

void Transport::WaitTurn(bool first) {
    // Never with a time limit: that variant ignores WaitForMoreEvents and spins. The armed
    // single-shot slot is the event that ends the wait at the latest.
    QCoreApplication::processEvents(first ? QEventLoop::AllEvents : QEventLoop::WaitForMoreEvents);
}

void Transport::PullInput() {
    if (port_.isOpen() && port_.inBufferCount() > 0) {
        const QByteArray bytes = port_.readAll();
        const qsizetype room = kMaxPending - pending_.size();
        pending_.append(bytes.left(qMax<qsizetype>(room, 0)));
        NoteBytesHeard();
    }
    if (echoPossible_ && !pending_.isEmpty()) {
        // A 2-wire adapter hears its own request first. A reply cannot start with the request
        // (its byte count differs from the request's register number high byte 0).
        if (pending_.startsWith(lastRequest_)) {
            pending_.remove(0, lastRequest_.size());
            echoPossible_ = false;
            record_.echoDropped = true;
            // The reply starts after the echo.
            record_.firstByteMs = pending_.isEmpty() ? -1 : record_.lastByteMs;
            record_.lastByteMs = record_.firstByteMs;
            qCDebug(lcFrames) << "echo dropped";
        } else if (!lastRequest_.startsWith(pending_)) {
            echoPossible_ = false;
        }
    }
}

qsizetype Transport::ReceivedCount() const {
    // Bytes that may still be the start of an echo are not a reply yet.
    if (echoPossible_ && !pending_.isEmpty()) {
        return 0;
    }
    return pending_.size() + (port_.isOpen() ? port_.inBufferCount() : 0);
}

ReplyResult Transport::ReadReply(int n) {
    record_.expectedLength = n;
    if (!port_.isOpen()) {
        Report({}, false);
        return {};
    }

    StartTimeOut(1, sendMs_);
    for (bool first = true;; first = false) {
        WaitTurn(first);
        if (!port_.isOpen() || port_.outBufferCount() == 0 || TimedOut(1)) {
            break;
        }
    }
    if (TimedOut(1) && port_.isOpen()) {
        port_.discardOutput();
    }

    StartTimeOut(1, replyMs_);
    for (bool first = true;; first = false) {
        WaitTurn(first);
        if (!port_.isOpen() || TimedOut(1)) {
            break;
        }
        PullInput();
        if (ReceivedCount() >= n) {
            break;
        }
    }
    timeOut_[1].stop();
    lastHeard_.start();
    // The time-out is tested first: a reply completed in the turn that timed out is late.
    if (TimedOut(1) || !port_.isOpen()) {
        qCDebug(lcFrames) << "no reply," << pending_.size() << "byte(s) received";
        Report(pending_, TimedOut(1));
        return {};
    }

    ReplyResult result;
    result.ok = true;
    result.reply = pending_;
    pending_.clear();
    if (port_.inBufferCount() > 0) {
        result.reply.append(port_.readAll());
        NoteBytesHeard();
    }
    echoPossible_ = false;
    qCDebug(lcFrames).noquote() << "received" << result.reply.toHex(' ');
    Report(result.reply, false);
    replyTaken_ = true;
    return result;
}

}  // namespace merival

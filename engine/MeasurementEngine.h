#pragma once

#include <QChar>
#include <QList>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

#include "base/Mailbox.h"
#include "base/Status.h"
#include "config/ChannelStore.h"
#include "engine/Capability.h"
#include "measure/ChannelReading.h"
#include "serial/SerialPortInterface.h"
#include "serial/SerialSettings.h"

class QThread;

namespace merival {

class ExchangeLog;
class RegisterReader;
class Transport;
struct MeasureState;

// One line's measurement: the transport and its port, the cycle and its tick, the silent
// stations and the exchange log. On the desktop and in merival-poll it runs on a thread of its
// own with its own event loop, so that nothing a window does (a modal box, a slow slot) can
// hold a pass. Commands come in from the owner's thread; readings, value texts, pass ends and
// stop requests go out as queued signals, and the capabilities get every reading and pass end
// on the engine's thread.
class MeasurementEngine : public QObject {
    Q_OBJECT
public:
    // On a thread of its own, with a transport on `port` (the real serial port when null).
    explicit MeasurementEngine(std::unique_ptr<SerialPortInterface> port, QChar decimalSeparator,
                               int line = 0, QObject* parent = nullptr);
    // On the caller's thread, over parts the caller keeps: window tests that script the
    // exchanges and act in the middle of them.
    MeasurementEngine(Transport& transport, RegisterReader& reader, const ChannelStore& store,
                      MeasureState& state, QChar decimalSeparator, QObject* parent = nullptr);
    // The pass in progress ends after its current channel; the port is closed.
    ~MeasurementEngine() override;

    // Opens the port with these settings (closing it first) and says how it went. The only
    // command that waits for the engine: opening a port takes a few milliseconds.
    Status openPort(const SerialSettings& settings);
    void closePort();
    // The stations to poll, from the next pass on.
    void setChannels(const ChannelRecords& records);
    // See MeasurementCycle::setSilentStations.
    void setSilentStations(int passes, qint64 intervalMs);
    // Who gets the readings and pass ends; none of the previous ones is called once this
    // returns.
    void setCapabilities(const QList<Capability*>& capabilities);

    // The one-second tick of the cycle, kept by the engine.
    void startTicks(int intervalMs);
    void stopTicks();
    [[nodiscard]] bool ticking() const { return ticking_; }
    [[nodiscard]] int tickInterval() const { return tickMs_; }
    // One tick now (a pass, or stopPending when a stop is marked).
    void tick();
    // ABANDON: the pass in progress ends after its current channel and no other starts.
    void requestStop();
    void clearStop();
    // Ticks are ignored while held (the close question is on screen).
    void setHeld(bool held);

    // The port number the engine holds open, 0 when closed.
    [[nodiscard]] int heldPort() const;
    [[nodiscard]] bool passInProgress() const;
    [[nodiscard]] int line() const { return line_; }
    // Readable from any thread; written by the engine.
    [[nodiscard]] ExchangeLog& exchangeLog();

Q_SIGNALS:
    // "HS" for a silent station; CR LF between the lines of multi-line texts.
    void valueText(int channel, const QString& text);
    void reading(const merival::ChannelReading& reading);
    void passFinished(const merival::PassEnd& pass);
    // A tick found the stop marked: the owner carries the stop out.
    void stopPending();

private:
    class Worker;
    // f on the engine's thread, waiting for it.
    void Call(const std::function<void()>& f);
    // f on the engine's thread, without waiting.
    void Post(std::function<void()> f);
    void ConnectWorker();

    int line_ = 0;
    QThread* thread_ = nullptr;  // null: on the caller's thread
    Worker* worker_ = nullptr;
    std::unique_ptr<Mailbox> box_;  // on thread_: calls to the worker
    std::atomic<bool> ticking_ = false;
    std::atomic<int> tickMs_ = 1000;
};

}  // namespace merival

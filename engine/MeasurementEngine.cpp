#include "engine/MeasurementEngine.h"

#include <QThread>
#include <QTimer>
#include <mutex>

#include "diagnostics/ExchangeLog.h"
#include "instruments/MeasurementResults.h"
#include "instruments/Polling.h"
#include "measure/MeasureState.h"
#include "measure/MeasurementCycle.h"
#include "serial/LinePort.h"
#include "serial/Transport.h"

namespace merival {

// Everything that runs on the engine's thread. Its parts are made and destroyed there, so
// that their timers and socket notifiers belong to that thread.
class MeasurementEngine::Worker : public QObject {
public:
    Worker(MeasurementEngine& engine, QChar decimal) : engine_(engine), decimal_(decimal) {}

    // Threaded: the parts are the worker's own.
    void Build(std::unique_ptr<SerialPortInterface> port) {
        ownPort_ = port ? std::move(port) : MakePort();
        ownTransport_ = std::make_unique<Transport>(*ownPort_, settings_);
        ownReader_ = std::make_unique<TransportRegisterReader>(*ownTransport_);
        ownStore_ = std::make_unique<ChannelStore>();
        log_ = std::make_unique<ExchangeLog>();
        ownTransport_->setObserver(log_.get());
        Wire(*ownTransport_, *ownReader_, *ownStore_, ownState_);
    }

    // On the caller's thread, over the caller's parts.
    void Borrow(Transport& transport, RegisterReader& reader, const ChannelStore& store,
                MeasureState& state) {
        log_ = std::make_unique<ExchangeLog>();
        Wire(transport, reader, store, state);
    }

    void TearDown() {
        ticker_.reset();
        cycle_.reset();
        if (ownTransport_) {
            ownTransport_->setObserver(nullptr);
            ownTransport_->ClosePort();
        }
        ownReader_.reset();
        ownTransport_.reset();
        ownPort_.reset();
        ownStore_.reset();
    }

    void Tick() {
        if (!held_) {
            cycle_->Minuterie1_Timer();
        }
    }

    void NotePort() { heldPort_ = transport_->IsOpen() ? transport_->port().portNumber() : 0; }

    SerialSettings settings_;  // what the own transport opens with
    Transport* transport_ = nullptr;
    MeasureState* state_ = nullptr;
    ChannelStore* ownStore_ptr() { return ownStore_.get(); }
    std::unique_ptr<MeasurementCycle> cycle_;
    std::unique_ptr<QTimer> ticker_;
    std::unique_ptr<ExchangeLog> log_;
    QList<Capability*> capabilities_;
    bool held_ = false;
    std::atomic<int> heldPort_ = 0;
    std::atomic<bool> inPass_ = false;

private:
    void Wire(Transport& transport, RegisterReader& reader, const ChannelStore& store,
              MeasureState& state) {
        transport_ = &transport;
        state_ = &state;
        cycle_ = std::make_unique<MeasurementCycle>(store, reader, results_, state, decimal_);
        ticker_ = std::make_unique<QTimer>();
        connect(ticker_.get(), &QTimer::timeout, this, [this] { Tick(); });
        MeasurementCycle* cycle = cycle_.get();
        connect(cycle, &MeasurementCycle::polling, this, [this](int n) { log_->setChannel(n); });
        connect(cycle, &MeasurementCycle::passStarted, this, [this] { inPass_ = true; });
        connect(cycle, &MeasurementCycle::valueText, this,
                [this](int n, const QString& text) { Q_EMIT engine_.valueText(n, text); });
        connect(cycle, &MeasurementCycle::reading, this, [this](ChannelReading reading) {
            reading.line = engine_.line();
            for (Capability* capability : capabilities_) {
                capability->takeReading(reading);
            }
            Q_EMIT engine_.reading(reading);
        });
        connect(cycle, &MeasurementCycle::passFinished, this, [this] {
            inPass_ = false;
            log_->setChannel(-1);
            NotePort();
            const PassEnd pass{engine_.line(), QDateTime::currentDateTimeUtc()};
            for (Capability* capability : capabilities_) {
                capability->passFinished(pass);
            }
            Q_EMIT engine_.passFinished(pass);
        });
        connect(cycle, &MeasurementCycle::stopPending, this,
                [this] { Q_EMIT engine_.stopPending(); });
    }

    MeasurementEngine& engine_;
    QChar decimal_;
    MeasurementResults results_;
    MeasureState ownState_;
    std::unique_ptr<SerialPortInterface> ownPort_;
    std::unique_ptr<Transport> ownTransport_;
    std::unique_ptr<TransportRegisterReader> ownReader_;
    std::unique_ptr<ChannelStore> ownStore_;
};

MeasurementEngine::MeasurementEngine(std::unique_ptr<SerialPortInterface> port,
                                     QChar decimalSeparator, int line, QObject* parent)
    : QObject(parent), line_(line) {
    thread_ = new QThread(this);
    thread_->setObjectName(QStringLiteral("ligne %1").arg(line));
    worker_ = new Worker(*this, decimalSeparator);
    worker_->moveToThread(thread_);
    box_ = std::make_unique<Mailbox>();
    box_->moveToThread(thread_);
    if (auto* object = dynamic_cast<QObject*>(port.get())) {
        object->moveToThread(thread_);
    }
    StartThread(*thread_);
    Worker* worker = worker_;
    auto* given = port.release();
    Call([worker, given] { worker->Build(std::unique_ptr<SerialPortInterface>(given)); });
}

MeasurementEngine::MeasurementEngine(Transport& transport, RegisterReader& reader,
                                     const ChannelStore& store, MeasureState& state,
                                     QChar decimalSeparator, QObject* parent)
    : QObject(parent) {
    worker_ = new Worker(*this, decimalSeparator);
    worker_->Borrow(transport, reader, store, state);
}

MeasurementEngine::~MeasurementEngine() {
    Worker* worker = worker_;
    if (thread_ != nullptr) {
        // Taken by the thread as it ends and by this one after the wait, so that the teardown
        // is seen here (the thread sanitizer cannot see inside QThread::wait). Connected before
        // the call below, which hands the connection over to the thread.
        std::mutex ended;
        connect(
            thread_, &QThread::finished, worker,
            [worker, &ended] {
                const std::lock_guard lock(ended);
                worker->TearDown();
            },
            Qt::DirectConnection);
        // The closed port ends the exchange under way at once; the stop ends its pass.
        Call([worker] {
            worker->state_->StopKey = worker->state_->EscapeKey;
            worker->ticker_->stop();
            worker->transport_->ClosePort();
        });
        thread_->quit();
        thread_->wait();
        const std::lock_guard lock(ended);
    } else {
        worker->TearDown();
    }
    delete worker;
}

void MeasurementEngine::Call(const std::function<void()>& f) {
    if (thread_ == nullptr || QThread::currentThread() == thread_) {
        f();
        return;
    }
    box_->Call(f);
}

void MeasurementEngine::Post(std::function<void()> f) {
    if (thread_ == nullptr) {
        f();
        return;
    }
    box_->Post(std::move(f));
}

Status MeasurementEngine::openPort(const SerialSettings& settings) {
    Status status;
    Worker* worker = worker_;
    const bool own = thread_ != nullptr;
    Call([&] {
        if (own) {
            worker->settings_ = settings;
        }
        status = worker->transport_->OpenPort();
        worker->NotePort();
    });
    return status;
}

void MeasurementEngine::closePort() {
    Worker* worker = worker_;
    Call([worker] {
        worker->transport_->ClosePort();
        worker->NotePort();
    });
}

void MeasurementEngine::setChannels(const ChannelRecords& records) {
    Worker* worker = worker_;
    Post([worker, records] {
        if (ChannelStore* store = worker->ownStore_ptr()) {
            store->setRecords(records);
        }
    });
}

void MeasurementEngine::setSilentStations(int passes, qint64 intervalMs) {
    Worker* worker = worker_;
    Post([worker, passes, intervalMs] { worker->cycle_->setSilentStations(passes, intervalMs); });
}

void MeasurementEngine::setCapabilities(const QList<Capability*>& capabilities) {
    Worker* worker = worker_;
    Call([worker, capabilities] { worker->capabilities_ = capabilities; });
}

void MeasurementEngine::startTicks(int intervalMs) {
    ticking_ = true;
    tickMs_ = intervalMs;
    Worker* worker = worker_;
    Post([worker, intervalMs] { worker->ticker_->start(intervalMs); });
}

void MeasurementEngine::stopTicks() {
    ticking_ = false;
    Worker* worker = worker_;
    Post([worker] { worker->ticker_->stop(); });
}

void MeasurementEngine::tick() {
    Worker* worker = worker_;
    Post([worker] { worker->Tick(); });
}

void MeasurementEngine::requestStop() {
    Worker* worker = worker_;
    // Waited for: once it returns, a pass is either under way (and ends after its current
    // channel) or none will start.
    Call([worker] { worker->state_->StopKey = worker->state_->EscapeKey; });
}

void MeasurementEngine::clearStop() {
    Worker* worker = worker_;
    Post([worker] { worker->state_->StopKey.clear(); });
}

void MeasurementEngine::setHeld(bool held) {
    Worker* worker = worker_;
    Post([worker, held] { worker->held_ = held; });
}

int MeasurementEngine::heldPort() const {
    if (thread_ == nullptr) {
        worker_->NotePort();
    }
    return worker_->heldPort_;
}

bool MeasurementEngine::passInProgress() const {
    return thread_ == nullptr ? worker_->state_->PollInProgress : worker_->inPass_.load();
}

ExchangeLog& MeasurementEngine::exchangeLog() {
    return *worker_->log_;
}

}  // namespace merival

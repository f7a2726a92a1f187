#include "publish/PublishingCapability.h"

#include <QSysInfo>
#include <QThread>

#include "publish/Publisher.h"

namespace merival {

PublishingCapability::PublishingCapability(QDir files, QObject* parent)
    : QObject(parent), files_(std::move(files)) {}

PublishingCapability::~PublishingCapability() {
    stop();
    for (QThread* thread : std::as_const(stopping_)) {
        Ended(thread);
    }
}

void PublishingCapability::Ended(QThread* thread) {
    thread->wait();
    { const std::lock_guard lock(ended_); }
    delete thread;
}

void PublishingCapability::readSettings(const QSettings& ini) {
    // The reading enters and leaves its group: the settings are left as they were.
    settings_ = WithFilesIn(LoadPublishSettings(const_cast<QSettings&>(ini)), files_);
}

void PublishingCapability::restart(const PublishSettings& settings) {
    stop();
    settings_ = WithFilesIn(settings, files_);
    start();
}

void PublishingCapability::start() {
    startStatus_ = Status::Ok();
    if (thread_ != nullptr || !settings_.usable()) {
        return;
    }
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("publication"));
    auto* home = new Mailbox;
    home->moveToThread(thread_);
    StartThread(*thread_);
    // Made on its thread, so that the link's timers and queued calls belong there.
    const PublishSettings settings = settings_;
    const int generation = generation_;
    Status status;
    Publisher* made = nullptr;
    home->Call([this, home, settings, generation, &status, &made] {
        auto* publisher = new Publisher(settings, QSysInfo::machineHostName(), home);
        made = publisher;
        connect(
            publisher, &Publisher::stateChanged, publisher,
            [this, generation](LinkState state, const QString& text) {
                news_.Post([this, generation, state, text] {
                    if (generation == generation_) {
                        Q_EMIT stateChanged(state, text);
                    }
                });
            },
            Qt::DirectConnection);
        status = publisher->Start();
    });
    startStatus_ = status;
    const std::lock_guard lock(feedMutex_);
    home_ = home;
    publisher_ = made;
}

void PublishingCapability::stop() {
    if (thread_ == nullptr) {
        return;
    }
    QThread* thread = std::exchange(thread_, nullptr);
    Mailbox* home = nullptr;
    {
        // Nothing of the old link reaches the owner any more, nor it the readings.
        const std::lock_guard lock(feedMutex_);
        home = std::exchange(home_, nullptr);
        publisher_ = nullptr;
    }
    ++generation_;
    stopping_.append(thread);
    // The thread deletes what it holds as it ends: the publisher says "hors ligne" there.
    connect(
        thread, &QThread::finished, thread,
        [this, home] {
            const std::lock_guard lock(ended_);
            delete home;
        },
        Qt::DirectConnection);
    connect(thread, &QThread::finished, this, [this, thread] {
        if (stopping_.removeOne(thread)) {
            Ended(thread);
        }
    });
    home->Post([] { QThread::currentThread()->quit(); });
}

void PublishingCapability::takeReading(const ChannelReading& reading) {
    const std::lock_guard lock(feedMutex_);
    if (home_ != nullptr) {
        home_->Post([publisher = publisher_, reading] { publisher->publish(reading); });
    }
}

}  // namespace merival

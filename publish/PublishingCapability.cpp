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
        thread->wait();
        delete thread;
    }
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
    home_ = new Mailbox;
    home_->moveToThread(thread_);
    thread_->start();
    // Made on its thread, so that the link's timers and queued calls belong there.
    const PublishSettings settings = settings_;
    QObject* home = home_;
    Status status;
    Publisher* made = nullptr;
    home_->Call([this, home, settings, &status, &made] {
        auto* publisher = new Publisher(settings, QSysInfo::machineHostName(), home);
        made = publisher;
        connect(publisher, &Publisher::stateChanged, this, &PublishingCapability::stateChanged);
        connect(this, &PublishingCapability::readingTaken, publisher, &Publisher::publish);
        status = publisher->Start();
    });
    startStatus_ = status;
    publisher_ = made;
}

void PublishingCapability::stop() {
    if (thread_ == nullptr) {
        return;
    }
    QThread* thread = std::exchange(thread_, nullptr);
    Mailbox* home = std::exchange(home_, nullptr);
    Publisher* publisher = std::exchange(publisher_, nullptr);
    // Nothing of the old link reaches the owner any more, nor it the readings.
    disconnect(publisher, nullptr, this, nullptr);
    disconnect(this, nullptr, publisher, nullptr);
    stopping_.append(thread);
    connect(thread, &QThread::finished, this, [this, thread] {
        if (stopping_.removeOne(thread)) {
            thread->wait();
            delete thread;
        }
    });
    // The thread deletes what it holds as it ends: the publisher says "hors ligne" there.
    home->Post([home] {
        home->deleteLater();
        QThread::currentThread()->quit();
    });
}

void PublishingCapability::takeReading(const ChannelReading& reading) {
    Q_EMIT readingTaken(reading);
}

}  // namespace merival

#include "alarms/AlarmsCapability.h"

#include <QThread>

namespace merival {

AlarmsCapability::AlarmsCapability(QString journalPath, QObject* parent)
    : QObject(parent), journalPath_(std::move(journalPath)) {}

AlarmsCapability::~AlarmsCapability() = default;

void AlarmsCapability::readSettings(const QSettings& ini) {
    warning_ = Status::Ok();
    // The reading enters and leaves its group: the settings are left as they were.
    setSettings(LoadAlarmSettings(const_cast<QSettings&>(ini), &warning_));
}

void AlarmsCapability::setSettings(const AlarmSettings& settings) {
    settings_ = settings;
    if (alarms_) {
        alarms_->setSettings(settings);
    }
}

void AlarmsCapability::start() {
    if (alarms_) {
        return;
    }
    alarms_ = std::make_unique<Alarms>(settings_, journalPath_);
}

void AlarmsCapability::stop() {
    alarms_.reset();
}

void AlarmsCapability::takeReading(const ChannelReading& reading) {
    const auto feed = [this, reading] {
        if (alarms_) {
            alarms_->Feed(reading);
        }
    };
    if (QThread::currentThread() == thread()) {
        feed();
    } else {
        mailbox_.Post(feed);  // from the engine's thread
    }
}

}  // namespace merival

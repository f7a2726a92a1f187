#include "alarms/AlarmsCapability.h"

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
    connect(this, &AlarmsCapability::readingTaken, alarms_.get(), &Alarms::Feed);
}

void AlarmsCapability::stop() {
    alarms_.reset();
}

void AlarmsCapability::takeReading(const ChannelReading& reading) {
    Q_EMIT readingTaken(reading);
}

}  // namespace merival

#include "engine/Capabilities.h"

#include <QSettings>

#include "alarms/AlarmsCapability.h"
#include "engine/MeasurementEngine.h"
#include "history/HistoryCapability.h"
#include "notify/Notifier.h"
#include "publish/PublishingCapability.h"

namespace merival {

Capabilities::Capabilities(MeasurementEngine& engine, const Choice& choice) : engine_(engine) {
    if (choice.history) {
        history_ = Add(std::make_unique<HistoryCapability>(choice.databasePath));
    }
    // Before the alarms: it keeps each reading first, so that an event carries its reading.
    if (choice.alarms && choice.notifications) {
        notifier_ = Add(std::make_unique<Notifier>(choice.databasePath));
    }
    if (choice.alarms) {
        alarms_ = Add(std::make_unique<AlarmsCapability>(choice.databasePath));
    }
    if (choice.publishing) {
        publishing_ = Add(std::make_unique<PublishingCapability>(choice.iniDirectory));
    }
    diagnostics_ =
        Add(std::make_unique<DiagnosticsCapability>(engine.exchangeLog(), choice.console));
}

Capabilities::~Capabilities() {
    stop();
}

template <typename T>
T* Capabilities::Add(std::unique_ptr<T> capability) {
    T* added = capability.get();
    list_.push_back(std::move(capability));
    return added;
}

void Capabilities::readSettings(const QSettings& ini) {
    for (const auto& capability : list_) {
        capability->readSettings(ini);
    }
    // The reading enters and leaves its group: the settings are left as they were.
    const AlarmSettings line = LoadAlarmSettings(const_cast<QSettings&>(ini));
    engine_.setSilentStations(line.lossPasses, qRound64(line.silentIntervalSeconds * 1000));
}

void Capabilities::start() {
    if (started_) {
        return;
    }
    started_ = true;
    QList<Capability*> all;
    for (const auto& capability : list_) {
        capability->start();
        all << capability.get();
    }
    // The alarm chain is made by its start: its events are followed from then on.
    if (notifier_ != nullptr && alarms_->alarms() != nullptr) {
        QObject::connect(alarms_->alarms(), &Alarms::happened, notifier_, &Notifier::Notify);
        QObject::connect(notifier_, &Notifier::failed, alarms_->alarms(), &Alarms::failed);
    }
    engine_.setCapabilities(all);
}

void Capabilities::stop() {
    if (!started_) {
        return;
    }
    started_ = false;
    engine_.setCapabilities({});
    for (auto it = list_.rbegin(); it != list_.rend(); ++it) {
        (*it)->stop();
    }
}

}  // namespace merival

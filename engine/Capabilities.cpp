#include "engine/Capabilities.h"

#include <QFileInfo>
#include <QSettings>

#include "alarms/AlarmJournal.h"
#include "alarms/Alarms.h"
#include "alarms/AlarmsCapability.h"
#include "base/IniFile.h"
#include "diagnostics/ExchangeLog.h"
#include "engine/MeasurementEngine.h"
#include "history/HistoryCapability.h"
#include "history/HistoryRecorder.h"
#include "history/Storage.h"
#include "notify/Notifier.h"
#include "publish/PublishingCapability.h"
#include "web/WebView.h"

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
    if (choice.web) {
        WebView::Sources sources;
        DiagnosticsCapability* diagnostics = diagnostics_;
        sources.stats = [diagnostics] { return diagnostics->log().stats(); };
        if (HistoryCapability* history = history_) {
            sources.droppedPasses = [history] {
                const HistoryRecorder* recorder = history->recorder();
                return recorder != nullptr ? recorder->droppedPasses() : -1LL;
            };
        }
        sources.historyPath = choice.databasePath.isEmpty() ? HistoryPath() : choice.databasePath;
        sources.iniDirectory = QFileInfo(IniPath()).absoluteDir();
        web_ = Add(std::make_unique<WebView>(std::move(sources)));
        if (alarms_ == nullptr) {
            webJournal_ = std::make_unique<AlarmJournal>(choice.databasePath);
            QObject::connect(web_, &WebView::journalRequested, webJournal_.get(),
                             &AlarmJournal::Append);
        }
    }
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
        if (capability.get() == web_) {
            WireWeb();
        }
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

void Capabilities::WireWeb() {
    Alarms* alarms = alarms_ != nullptr ? alarms_->alarms() : nullptr;
    if (alarms == nullptr) {
        return;
    }
    web_->setAlarmsAvailable(true);
    for (int n = 0; n < kChannelCount; ++n) {
        web_->setAlarmState(n, alarms->engine().State(n));
    }
    QObject::connect(alarms, &Alarms::stateChanged, web_, &WebView::setAlarmState);
    QObject::connect(web_, &WebView::acknowledgeRequested, alarms, &Alarms::AcknowledgeAll);
    QObject::connect(web_, &WebView::journalRequested, &alarms->journal(), &AlarmJournal::Append);
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

#pragma once

#include <QDir>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

#include "diagnostics/DiagnosticsCapability.h"
#include "engine/Capability.h"

class QSettings;

namespace merival {

class AlarmJournal;
class AlarmsCapability;
class HistoryCapability;
class MeasurementEngine;
class Notifier;
class PublishingCapability;
class WebView;

// What watches one line, listed once: the desktop program and merival-poll build the same
// list (the console chooses which). The next capability is one more entry here.
class Capabilities {
public:
    struct Choice {
        bool history = true;
        bool alarms = true;
        bool notifications = true;  // only with the alarms: it sends their events
        bool publishing = true;
        bool web = false;  // [Web] is read all the same: Actif=false serves nothing
        DiagnosticsConsole console;
        QDir iniDirectory = QDir::current();  // files named by [Publication] are relative to it
        QString databasePath;                 // empty: historique.sqlite of the working directory
    };

    Capabilities(MeasurementEngine& engine, const Choice& choice);
    // Stopped, and out of the engine's hands first.
    ~Capabilities();
    Capabilities(const Capabilities&) = delete;
    Capabilities& operator=(const Capabilities&) = delete;

    // Every section of merival.ini, and the line's own: the silent stations' pace.
    void readSettings(const QSettings& ini);
    // Started, then handed to the engine.
    void start();
    void stop();

    [[nodiscard]] HistoryCapability* history() const { return history_; }
    [[nodiscard]] AlarmsCapability* alarms() const { return alarms_; }
    [[nodiscard]] Notifier* notifier() const { return notifier_; }
    [[nodiscard]] PublishingCapability* publishing() const { return publishing_; }
    [[nodiscard]] DiagnosticsCapability& diagnostics() const { return *diagnostics_; }
    [[nodiscard]] WebView* web() const { return web_; }

private:
    template <typename T>
    T* Add(std::unique_ptr<T> capability);
    // The alarm chain is made anew at each start: the web view follows the current one.
    void WireWeb();

    MeasurementEngine& engine_;
    std::vector<std::unique_ptr<Capability>> list_;
    bool started_ = false;
    HistoryCapability* history_ = nullptr;
    AlarmsCapability* alarms_ = nullptr;
    Notifier* notifier_ = nullptr;
    PublishingCapability* publishing_ = nullptr;
    DiagnosticsCapability* diagnostics_ = nullptr;
    WebView* web_ = nullptr;
    // Where the web view journals its logins when there is no alarm chain.
    std::unique_ptr<AlarmJournal> webJournal_;
};

}  // namespace merival

// The web view in the composition root: its server started with the main window, fed by the
// measurement window's cycle, acknowledging and journaling through the alarm chain.

#include <QFileInfo>

#include "base/IniFile.h"
#include "diagnostics/ExchangeLog.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryRecorder.h"
#include "history/windows/HistoryMenu.h"
#include "measure/MeasurementCycle.h"
#include "shell/App.h"
#include "shell/AppAlarms.h"
#include "web/WebView.h"

namespace merival {

void App::SetUpWeb() {
    WebView::Sources sources;
    sources.stats = [this] { return exchangeLog_->stats(); };
    sources.droppedPasses = [this] {
        const HistoryRecorder* recorder = history_ ? history_->recorder() : nullptr;
        return recorder != nullptr ? recorder->droppedPasses() : -1LL;
    };
    sources.historyPath = HistoryPath();
    sources.iniDirectory = QFileInfo(IniPath()).absoluteDir();
    web_ = std::make_unique<WebView>(std::move(sources));
    web_->readSettings(*OpenIni());
    Alarms& alarms = *alarms_->alarms;
    web_->setAlarmsAvailable(true);
    for (int n = 0; n < kChannelCount; ++n) {
        web_->setAlarmState(n, alarms.engine().State(n));
    }
    connect(&alarms, &Alarms::stateChanged, web_.get(), &WebView::setAlarmState);
    connect(web_.get(), &WebView::acknowledgeRequested, &alarms, &Alarms::AcknowledgeAll);
    connect(web_.get(), &WebView::journalRequested, &alarms.journal(), &AlarmJournal::Append);
    connect(web_.get(), &WebView::failed, this, &App::ReportAlarmFailure);
    web_->start();
}

void App::ConnectWeb(MeasurementCycle& cycle) {
    WebView* web = web_.get();
    if (web == nullptr) {
        return;
    }
    connect(&cycle, &MeasurementCycle::reading, web, &WebView::takeReading);
    connect(&cycle, &MeasurementCycle::passFinished, web, [web] {
        web->passFinished({0, QDateTime::currentDateTimeUtc()});
    });
}

}  // namespace merival

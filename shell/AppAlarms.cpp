// The alarms in the composition root: the chain fed by the measurement window's readings,
// the "Alarmes" menu and its windows.

#include "shell/AppAlarms.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

#include "base/IniFile.h"
#include "base/Operator.h"
#include "measure/MeasurementCycle.h"
#include "measure/windows/F_Mesure.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"

namespace merival {
namespace {

void ApplyToCycle(MeasurementCycle& cycle, const AlarmSettings& s) {
    cycle.setSilentStations(s.lossPasses, qRound64(s.silentIntervalSeconds * 1000));
}

RowAlarm RowFor(AlarmState state) {
    switch (state) {
        case AlarmState::Normal:
            break;
        case AlarmState::ActiveUnacknowledged:
            return RowAlarm::Unacknowledged;
        case AlarmState::ActiveAcknowledged:
            return RowAlarm::Acknowledged;
        case AlarmState::ReturnedUnacknowledged:
            return RowAlarm::ReturnedUnacknowledged;
    }
    return RowAlarm::None;
}

}  // namespace

void App::SetUpAlarms() {
    alarms_ = std::make_unique<AppAlarms>();
    // A damaged file as a whole is reported at start; here only values of this section.
    const auto ini = OpenIni();
    Status warning;
    const AlarmSettings settings = LoadAlarmSettings(*ini, &warning);
    if (!warning.ok()) {
        op_->message(warning.message, AppTitle(), OperatorIcon::Exclamation);
    }
    alarms_->alarms = std::make_unique<Alarms>(settings);
    Alarms& alarms = *alarms_->alarms;
    connect(&alarms, &Alarms::failed, this, &App::ReportAlarmFailure);
    connect(&alarms, &Alarms::happened, this, [this](const AlarmEvent& e) {
        if (e.raisesAlarm()) {
            op_->beep();
        }
        if (alarms_->journalWindow && alarms_->journalWindow->isVisible()) {
            alarms_->journalWindow->Refresh();
        }
    });

    alarms_->settingsDialog = std::make_unique<AlarmSettingsDialog>(
        store_, *op_, decimalSeparator_,
        [this](const AlarmSettings& saved) {
            alarms_->alarms->setSettings(saved);
            if (F_Mesure* mesure = measureWindow()) {
                ApplyToCycle(mesure->cycle(), saved);
            }
        },
        [this](int channel) { return alarms_->alarms->engine().MainUnit(channel); });
    alarms_->journalWindow = std::make_unique<AlarmJournalWindow>(alarms.journal(), *op_);
    for (QWidget* window : {static_cast<QWidget*>(alarms_->settingsDialog.get()),
                            static_cast<QWidget*>(alarms_->journalWindow.get())}) {
        window->setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    }

    QAction* seuils = main_->Alarmes->addAction(QStringLiteral("&Seuils…"));
    seuils->setObjectName(QStringLiteral("Seuils"));
    connect(seuils, &QAction::triggered, this, [this] {
        SetMessageParent(alarms_->settingsDialog.get());
        alarms_->settingsDialog->ShowFromMenu();
    });
    QAction* journal = main_->Alarmes->addAction(QStringLiteral("&Journal"));
    journal->setObjectName(QStringLiteral("Journal"));
    connect(journal, &QAction::triggered, this, [this] {
        SetMessageParent(alarms_->journalWindow.get());
        alarms_->journalWindow->ShowFromMenu();
    });
}

void App::ReportAlarmFailure(const QString& message) {
    // A message box opened under a pass would hold the pass, and the measurement, until the
    // operator answers it: it waits for the pass to end.
    if (state_.PollInProgress) {
        QTimer::singleShot(100, this, [this, message] { ReportAlarmFailure(message); });
        return;
    }
    if (!ending_) {
        op_->beep();
        op_->message(message, AppTitle(), OperatorIcon::Exclamation);
    }
}

void App::ConnectAlarms(F_Mesure* window) {
    Alarms& alarms = *alarms_->alarms;
    ApplyToCycle(window->cycle(), alarms.engine().settings());
    connect(&window->cycle(), &MeasurementCycle::reading, &alarms, &Alarms::Feed);
    for (int n = 0; n < kChannelCount; ++n) {
        window->setRowAlarm(n, RowFor(alarms.engine().State(n)));
    }
    connect(&alarms, &Alarms::stateChanged, window, [window](int channel, AlarmState state) {
        window->setRowAlarm(channel, RowFor(state));
    });
    connect(window, &F_Mesure::acknowledge, &alarms, &Alarms::AcknowledgeAll);
}

}  // namespace merival

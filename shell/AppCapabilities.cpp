// The desktop side of the capabilities: their menu entries and windows on the main window.
// The capabilities themselves are listed once, in engine/Capabilities.

#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include "alarms/AlarmsCapability.h"
#include "alarms/windows/AlarmJournalWindow.h"
#include "alarms/windows/AlarmSettingsDialog.h"
#include "base/IniFile.h"
#include "base/Operator.h"
#include "diagnostics/windows/TraficLigne.h"
#include "engine/Capabilities.h"
#include "engine/MeasurementEngine.h"
#include "history/windows/HistoryMenu.h"
#include "measure/windows/F_Mesure.h"
#include "notify/Notifier.h"
#include "notify/windows/AlarmReportWindow.h"
#include "notify/windows/NotifySettingsDialog.h"
#include "publish/PublishingCapability.h"
#include "publish/windows/PublishDialog.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"
#include "web/WebView.h"

namespace merival {
namespace {

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

QAction* AddEntry(QMenu& menu, const QString& text, const QString& name) {
    QAction* action = menu.addAction(text);
    action->setObjectName(name);
    return action;
}

}  // namespace

void App::AttachCapabilities() {
    const std::unique_ptr<QSettings> ini = OpenIni();
    capabilities_->readSettings(*ini);
    if (WebView* web = capabilities_->web()) {
        connect(web, &WebView::failed, this, &App::Report);
    }
    capabilities_->start();
    historyMenu_ = std::make_unique<HistoryMenu>(*main_->Historique, *capabilities_->history(),
                                                 *op_, decimalSeparator_);
    AttachAlarms();
    AttachNotifications();
    AttachPublishing();
    AttachDiagnostics();
}

void App::AttachAlarms() {
    AlarmsCapability& capability = *capabilities_->alarms();
    // A damaged file as a whole is reported at start; here only values of this section.
    if (!capability.warning().ok()) {
        op_->message(capability.warning().message, AppTitle(), OperatorIcon::Exclamation);
    }
    Alarms& alarms = *capability.alarms();
    connect(&alarms, &Alarms::failed, this, &App::Report);
    connect(&alarms, &Alarms::happened, this, [this](const AlarmEvent& e) {
        if (e.raisesAlarm()) {
            op_->beep();
        }
    });
    alarmSettings_ = std::make_unique<AlarmSettingsDialog>(
        store_, *op_, decimalSeparator_,
        [this, &capability](const AlarmSettings& saved) {
            capability.setSettings(saved);
            engine_->setSilentStations(saved.lossPasses,
                                       qRound64(saved.silentIntervalSeconds * 1000));
        },
        [&alarms](int channel) { return alarms.engine().MainUnit(channel); });
    alarmJournal_ = std::make_unique<AlarmJournalWindow>(alarms.journal(), *op_);
    for (QWidget* window :
         std::initializer_list<QWidget*>{alarmSettings_.get(), alarmJournal_.get()}) {
        window->setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    }
    connect(AddEntry(*main_->Alarmes, QStringLiteral("&Seuils…"), QStringLiteral("Seuils")),
            &QAction::triggered, this, [this] {
                SetMessageParent(alarmSettings_.get());
                alarmSettings_->ShowFromMenu();
            });
    connect(AddEntry(*main_->Alarmes, QStringLiteral("&Journal"), QStringLiteral("Journal")),
            &QAction::triggered, this, [this] {
                SetMessageParent(alarmJournal_.get());
                alarmJournal_->ShowFromMenu();
            });
}

void App::AttachNotifications() {
    Notifier& notifier = *capabilities_->notifier();
    connect(&notifier, &Notifier::summary, alarmJournal_.get(),
            &AlarmJournalWindow::setDeliveryText);
    notifySettings_ = std::make_unique<NotifySettingsDialog>(notifier, *op_);
    connect(notifySettings_.get(), &NotifySettingsDialog::saved, this,
            [&notifier] { notifier.readSettings(*OpenIni()); });
    alarmReport_ = std::make_unique<AlarmReportWindow>();
    for (QWidget* window :
         std::initializer_list<QWidget*>{notifySettings_.get(), alarmReport_.get()}) {
        window->setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    }
    connect(AddEntry(*main_->Alarmes, QStringLiteral("&Notifications…"),
                     QStringLiteral("Notifications")),
            &QAction::triggered, this, [this] {
                SetMessageParent(notifySettings_.get());
                notifySettings_->ShowFromMenu();
            });
    connect(AddEntry(*main_->Alarmes, QStringLiteral("&Rapport"), QStringLiteral("Rapport")),
            &QAction::triggered, this, [this] {
                SetMessageParent(alarmReport_.get());
                alarmReport_->ShowFromMenu();
            });
}

void App::ShowAlarmsIn(F_Mesure* window) {
    Alarms* alarms = capabilities_->alarms()->alarms();
    if (alarms == nullptr) {
        return;
    }
    for (int n = 0; n < kChannelCount; ++n) {
        window->setRowAlarm(n, RowFor(alarms->engine().State(n)));
    }
    connect(alarms, &Alarms::stateChanged, window, [window](int channel, AlarmState state) {
        window->setRowAlarm(channel, RowFor(state));
    });
    connect(window, &F_Mesure::acknowledge, alarms, &Alarms::AcknowledgeAll);
}

void App::AttachPublishing() {
    PublishingCapability& capability = *capabilities_->publishing();
    publishDialog_ = std::make_unique<PublishDialog>(*op_);
    main_->Config->addAction(QStringLiteral("&Publication MQTT"), publishDialog_.get(),
                             [this] { publishDialog_->ShowFromMenu(); });
    // The status bar also names the working folder: only the link's own label comes and goes.
    auto* state = new QLabel(main_.get());
    state->setObjectName(QStringLiteral("EtatPublication"));
    main_->statusBar()->addWidget(state);
    state->setVisible(capability.settings().usable());
    // The label is the context: nothing reaches it once the main window is gone.
    // The measurement window, maximised over the status bar, shows the link on a line of its own.
    MERIVAL* main = main_.get();
    connect(&capability, &PublishingCapability::stateChanged, state,
            [state, main](LinkState, const QString& text) {
                state->setText(QStringLiteral("MQTT : ") + text);
                main->setLinkState(state->text());
            });
    connect(publishDialog_.get(), &PublishDialog::saved, this,
            [&capability, state, main](const PublishSettings& saved) {
                capability.restart(saved);
                state->setVisible(capability.settings().usable());
                if (!capability.settings().usable()) {
                    main->setLinkState({});
                }
            });
}

void App::AttachDiagnostics() {
    connect(AddEntry(*main_->Diagnostic, QStringLiteral("&Trafic de la ligne"),
                     QStringLiteral("TraficLigne")),
            &QAction::triggered, this, [this] {
                if (ending_) {
                    return;
                }
                if (!trafic_) {
                    trafic_ =
                        std::make_unique<TraficLigne>(capabilities_->diagnostics().log(), *op_);
                    trafic_->setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
                }
                SetMessageParent(trafic_.get());
                ShowWindow(trafic_.get());
            });
}

}  // namespace merival

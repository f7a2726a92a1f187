// Notifications in the composition root: the notifier fed by the alarm events and the
// readings, its two entries in the "Alarmes" menu, and its line in the journal window.

#include <QAction>
#include <QMenu>

#include "alarms/Alarms.h"
#include "alarms/windows/AlarmJournalWindow.h"
#include "base/IniFile.h"
#include "notify/Notifier.h"
#include "notify/windows/AlarmReportWindow.h"
#include "notify/windows/NotifySettingsDialog.h"
#include "shell/App.h"
#include "shell/AppAlarms.h"
#include "shell/MERIVAL.h"

namespace merival {

class AppNotifications : public QObject {
public:
    AppNotifications(App& app, MERIVAL& main, Operator& op, Alarms& alarms,
                     AlarmJournalWindow& journal)
        : QObject(&app), dialog_(notifier_, op) {
        connect(&alarms, &Alarms::happened, &notifier_, &Notifier::Notify);
        connect(&app, &App::reading, &notifier_,
                [this](const ChannelReading& r) { notifier_.takeReading(r); });
        connect(&notifier_, &Notifier::summary, &journal, &AlarmJournalWindow::setDeliveryText);
        connect(&notifier_, &Notifier::failed, &alarms, &Alarms::failed);
        connect(&dialog_, &NotifySettingsDialog::saved, this,
                [this] { notifier_.readSettings(*OpenIni()); });
        for (QWidget* window : {static_cast<QWidget*>(&dialog_), static_cast<QWidget*>(&report_)}) {
            window->setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
        }
        QAction* settings = main.Alarmes->addAction(QStringLiteral("&Notifications…"));
        settings->setObjectName(QStringLiteral("Notifications"));
        connect(settings, &QAction::triggered, this, [this] { dialog_.ShowFromMenu(); });
        QAction* report = main.Alarmes->addAction(QStringLiteral("&Rapport"));
        report->setObjectName(QStringLiteral("Rapport"));
        connect(report, &QAction::triggered, this, [this] { report_.ShowFromMenu(); });
        notifier_.readSettings(*OpenIni());
        notifier_.start();
    }

private:
    Notifier notifier_;
    NotifySettingsDialog dialog_;
    AlarmReportWindow report_;
};

void App::SetUpNotifications() {
    new AppNotifications(*this, *main_, *op_, *alarms_->alarms, *alarms_->journalWindow);
}

}  // namespace merival

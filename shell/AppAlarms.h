#pragma once

#include <memory>

#include "alarms/Alarms.h"
#include "alarms/windows/AlarmJournalWindow.h"
#include "alarms/windows/AlarmSettingsDialog.h"

namespace merival {

// What App keeps for the alarms: the chain and its two windows.
struct AppAlarms {
    std::unique_ptr<Alarms> alarms;
    std::unique_ptr<AlarmSettingsDialog> settingsDialog;
    std::unique_ptr<AlarmJournalWindow> journalWindow;
};

}  // namespace merival

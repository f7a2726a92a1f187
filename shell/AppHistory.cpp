#include "history/windows/HistoryMenu.h"
#include "measure/MeasurementCycle.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"

namespace merival {

void App::SetUpHistory() {
    history_ = std::make_unique<HistoryMenu>(*main_->Historique, *op_, decimalSeparator_);
}

void App::ConnectHistory(MeasurementCycle& cycle) {
    HistoryMenu* history = history_.get();
    if (history == nullptr) {
        return;
    }
    connect(&cycle, &MeasurementCycle::reading, history, &HistoryMenu::Add);
    connect(&cycle, &MeasurementCycle::passFinished, history, &HistoryMenu::EndPass);
}

}  // namespace merival

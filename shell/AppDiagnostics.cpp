// The diagnostics in the composition root: every exchange of the one transport goes to the
// log; the measurement cycle says whose exchange it is; the window hangs from "Diagnostic".
#include <QMenu>

#include "diagnostics/ExchangeLog.h"
#include "diagnostics/windows/TraficLigne.h"
#include "measure/MeasurementCycle.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"

namespace merival {

void App::SetUpDiagnostics() {
    exchangeLog_ = std::make_unique<ExchangeLog>();
    transport_->setObserver(exchangeLog_.get());
}

void App::AddDiagnosticMenu() {
    QAction* trafic = main_->Diagnostic->addAction(QStringLiteral("&Trafic de la ligne"));
    trafic->setObjectName(QStringLiteral("TraficLigne"));
    connect(trafic, &QAction::triggered, this, [this] { ShowTrafic(); });
}

void App::WatchChannels(MeasurementCycle& cycle) {
    ExchangeLog* log = exchangeLog_.get();
    connect(&cycle, &MeasurementCycle::polling, log, &ExchangeLog::setChannel);
    connect(&cycle, &MeasurementCycle::passFinished, log, [log] { log->setChannel(-1); });
}

void App::ShowTrafic() {
    if (ending_) {
        return;
    }
    if (!trafic_) {
        trafic_ = std::make_unique<TraficLigne>(*exchangeLog_, *op_);
        trafic_->setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    }
    SetMessageParent(trafic_.get());
    trafic_->show();
    trafic_->raise();
    trafic_->activateWindow();
}

}  // namespace merival

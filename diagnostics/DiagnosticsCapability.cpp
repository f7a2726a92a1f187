#include "diagnostics/DiagnosticsCapability.h"

#include "diagnostics/ExchangeLog.h"

namespace merival {

DiagnosticsCapability::DiagnosticsCapability(ExchangeLog& log, DiagnosticsConsole console)
    : log_(log), console_(std::move(console)) {}

DiagnosticsCapability::~DiagnosticsCapability() {
    delete watching_;
}

void DiagnosticsCapability::start() {
    if (!console_.trace || watching_ != nullptr) {
        return;
    }
    // On the owner's thread: the log's signals come queued from the engine, in order.
    watching_ = new QObject;
    QObject::connect(&log_, &ExchangeLog::recorded, watching_, [this](const ExchangeEvent& e) {
        PrintHeld();
        held_ = e;
    });
    QObject::connect(&log_, &ExchangeLog::amended, watching_, [this](const ExchangeEvent& e) {
        if (held_ && held_->seq == e.seq) {
            held_ = e;
        }
    });
}

void DiagnosticsCapability::stop() {
    delete std::exchange(watching_, nullptr);
    PrintHeld();
    if (console_.stats && console_.print) {
        QList<QStringList> rows = {StatsHeadings()};
        const auto stats = log_.stats();
        for (int n = 0; n < kChannelCount; ++n) {
            rows << StatsCells(n, stats[static_cast<size_t>(n)]);
        }
        console_.print(AlignedTable(rows));
    }
}

void DiagnosticsCapability::PrintHeld() {
    if (held_ && console_.print) {
        console_.print(TraceLine(*held_) + u'\n');
    }
    held_.reset();
}

}  // namespace merival

#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "diagnostics/Exchange.h"
#include "engine/Capability.h"

namespace merival {

class ExchangeLog;

// What the console asks of the diagnostics.
struct DiagnosticsConsole {
    bool trace = false;  // one line per exchange
    bool stats = false;  // the statistics table at stop
    std::function<void(const QString&)> print;
};

// The diagnostics as a capability: the exchanges reach the line's log inside the engine,
// before their readings; this watches that log. On the console it can trace every exchange
// and give the statistics at the end, through a sink for the text.
class DiagnosticsCapability : public Capability {
public:
    explicit DiagnosticsCapability(ExchangeLog& log, DiagnosticsConsole console = {});
    ~DiagnosticsCapability() override;

    void readSettings(const QSettings&) override {}
    void start() override;
    // Prints the exchange held back and the statistics (console).
    void stop() override;
    void takeReading(const ChannelReading&) override {}
    void passFinished(const PassEnd&) override {}

    [[nodiscard]] ExchangeLog& log() { return log_; }

private:
    void PrintHeld();

    ExchangeLog& log_;
    DiagnosticsConsole console_;
    QObject* watching_ = nullptr;  // context of the trace connections
    // An exchange is printed when the next one starts: bytes that trail its reply count in it.
    std::optional<ExchangeEvent> held_;
};

}  // namespace merival

#pragma once

#include <QChar>
#include <QObject>
#include <functional>
#include <memory>

#include "config/ChannelStore.h"
#include "instruments/MeasurementResults.h"
#include "instruments/Polling.h"
#include "measure/ChannelReading.h"
#include "measure/MeasureState.h"
#include "serial/SerialSettings.h"
#include "serial/Transport.h"

class QCoreApplication;

namespace merival {

struct AppAlarms;
class AppPublishing;
class ConfLS;
class ConfigW;
class ExchangeLog;
class MeasurementCycle;
class TraficLigne;
class Extraction;
class F_Mesure;
class HistoryMenu;
class MERIVAL;
class Operator;
class QtOperator;
class SerialPortInterface;
class MeasurementCycle;

// Replaceable parts of the program, for tests and tools. Empty members take the real ones.
struct AppOptions {
    Operator* op = nullptr;                     // the real message boxes
    std::unique_ptr<SerialPortInterface> port;  // the real serial port (MSComm1)
    std::function<void(int)> exit;              // QCoreApplication::exit
    QChar decimalSeparator;                     // the system locale's
};

// The composition root: creates the one store, settings, shared state and serial port, and
// the windows, each with references to what it works on.
class App : public QObject {
    Q_OBJECT
public:
    explicit App(AppOptions options = {});
    ~App() override;

    // The start-up window's load step: the configuration dialog is shown.
    void Start();
    // Creates the main window on first use (its load step runs then), else shows it.
    void ShowMainWindow();
    // Ends the program at once: no handler of any window runs any more, the port is closed.
    void EndApplication();
    [[nodiscard]] bool Ending() const { return ending_; }

    [[nodiscard]] ChannelStore& store() { return store_; }
    [[nodiscard]] SerialSettings& settings() { return settings_; }
    [[nodiscard]] MeasureState& state() { return state_; }
    [[nodiscard]] MeasurementResults& results() { return results_; }
    [[nodiscard]] Transport& transport() { return *transport_; }
    [[nodiscard]] SerialPortInterface& port() { return *port_; }
    [[nodiscard]] Operator& op() { return *op_; }
    [[nodiscard]] QChar decimalSeparator() const { return decimalSeparator_; }
    [[nodiscard]] ConfigW* configW() const { return config_.get(); }
    [[nodiscard]] MERIVAL* mainWindow() const { return main_.get(); }
    [[nodiscard]] F_Mesure* measureWindow() const;
    [[nodiscard]] HistoryMenu* history() const { return history_.get(); }
    [[nodiscard]] ExchangeLog& exchangeLog() { return *exchangeLog_; }
    [[nodiscard]] TraficLigne* traficWindow() const { return trafic_.get(); }

    // Qt's own texts in French (Oui/Non). False when the translation is not installed.
    static bool InstallFrenchTranslation(QCoreApplication& application);
    // The decimal separator of the system locale.
    [[nodiscard]] static QChar SystemDecimalSeparator();

Q_SIGNALS:
    // Every channel of every pass of the measurement window, for the history, the alarms and
    // the publisher.
    void reading(const merival::ChannelReading& reading);

private:
    F_Mesure* CreateMeasureWindow();
    void ShowSerialLink();
    void ShowExtraction(bool resetMode);
    void SetMessageParent(QWidget* window);
    // AppAlarms.cpp: the alarm chain and the "Alarmes" menu; the measurement window's readings.
    void SetUpAlarms();
    void ConnectAlarms(F_Mesure* window);
    void ReportAlarmFailure(const QString& message);
    void WarnOfDamagedIni();
    // AppHistory.cpp: the "Historique" menu, fed with the measurement window's readings.
    void SetUpHistory();
    void ConnectHistory(MeasurementCycle& cycle);
    // Alarm notifications and the alarm report (shell/AppNotify.cpp).
    void SetUpNotifications();
    // Its menu entry, the publisher and its state in the status bar (shell/AppPublish.cpp).
    void SetUpPublishing();
    // Diagnostics (AppDiagnostics.cpp): the log on the transport, the menu, the cycle's hook.
    void SetUpDiagnostics();
    void AddDiagnosticMenu();
    void WatchChannels(MeasurementCycle& cycle);
    void ShowTrafic();

    ChannelStore store_;
    SerialSettings settings_;
    MeasureState state_;
    MeasurementResults results_;
    std::unique_ptr<ExchangeLog> exchangeLog_;  // outlives the transport that reports to it
    std::unique_ptr<SerialPortInterface> port_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<TransportRegisterReader> reader_;
    std::unique_ptr<QtOperator> ownOp_;
    Operator* op_ = nullptr;
    std::function<void(int)> exit_;
    QChar decimalSeparator_;
    bool ending_ = false;
    AppPublishing* publishing_ = nullptr;  // child of this object

    std::unique_ptr<AppAlarms> alarms_;

    // Declared last: the windows go before what they refer to.
    std::unique_ptr<ConfigW> config_;
    std::unique_ptr<MERIVAL> main_;
    std::unique_ptr<ConfLS> serialLink_;
    std::unique_ptr<Extraction> extraction_;
    std::unique_ptr<HistoryMenu> history_;
    std::unique_ptr<TraficLigne> trafic_;
};

}  // namespace merival

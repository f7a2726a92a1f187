#pragma once

#include <QChar>
#include <QObject>
#include <functional>
#include <memory>

#include "base/Status.h"
#include "config/ChannelStore.h"
#include "measure/MeasureState.h"
#include "serial/SerialPortInterface.h"
#include "serial/SerialSettings.h"

class QCoreApplication;
class QLabel;

namespace merival {

class AlarmJournalWindow;
class AlarmReportWindow;
class AlarmSettingsDialog;
class Capabilities;
class ConfLS;
class ConfigW;
class Extraction;
class ExchangeLog;
class F_Mesure;
class HistoryMenu;
class MERIVAL;
class MeasurementEngine;
class NotifySettingsDialog;
class Operator;
class PublishDialog;
class QtOperator;
class TraficLigne;

// Replaceable parts of the program, for tests and tools. Empty members take the real ones.
struct AppOptions {
    Operator* op = nullptr;                     // the real message boxes
    std::unique_ptr<SerialPortInterface> port;  // the real serial port (MSComm1)
    std::function<void(int)> exit;              // QCoreApplication::exit
    QChar decimalSeparator;                     // the system locale's
};

// The composition root. On the window thread: the channel store, the serial settings and the
// windows. The line's engine runs on its own thread and gets copies of the store and the
// settings when they change; the capabilities watch it, and their menus and windows attach
// to the main window (AppCapabilities.cpp).
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
    [[nodiscard]] MeasurementEngine& engine() { return *engine_; }
    [[nodiscard]] Capabilities& capabilities() { return *capabilities_; }
    [[nodiscard]] Operator& op() { return *op_; }
    [[nodiscard]] QChar decimalSeparator() const { return decimalSeparator_; }
    [[nodiscard]] ConfigW* configW() const { return config_.get(); }
    [[nodiscard]] MERIVAL* mainWindow() const { return main_.get(); }
    [[nodiscard]] F_Mesure* measureWindow() const;
    [[nodiscard]] HistoryMenu* history() const { return historyMenu_.get(); }
    [[nodiscard]] ExchangeLog& exchangeLog();
    [[nodiscard]] TraficLigne* traficWindow() const { return trafic_.get(); }

    // Qt's own texts in French (Oui/Non). False when the translation is not installed.
    static bool InstallFrenchTranslation(QCoreApplication& application);
    // The decimal separator of the system locale.
    [[nodiscard]] static QChar SystemDecimalSeparator();

private:
    F_Mesure* CreateMeasureWindow();
    void ShowSerialLink();
    void ShowExtraction(bool resetMode);
    void SetMessageParent(QWidget* window);
    void Report(const QString& message);
    void WarnOfDamagedIni();
    Status iniStatus_;  // merival.ini as read at start
    // AppCapabilities.cpp: each capability's menu entries and windows on the main window.
    void AttachCapabilities();
    void AttachAlarms();
    void AttachNotifications();
    void AttachPublishing();
    void AttachDiagnostics();
    void ShowAlarmsIn(F_Mesure* window);
    void ShowWindow(QWidget* window);

    ChannelStore store_;
    SerialSettings settings_;
    MeasureState state_;
    std::unique_ptr<QtOperator> ownOp_;
    Operator* op_ = nullptr;
    std::function<void(int)> exit_;
    QChar decimalSeparator_;
    bool ending_ = false;

    std::unique_ptr<MeasurementEngine> engine_;
    std::unique_ptr<Capabilities> capabilities_;  // watches the engine: goes before it

    // Declared last: the windows go before what they refer to.
    std::unique_ptr<ConfigW> config_;
    std::unique_ptr<MERIVAL> main_;
    std::unique_ptr<ConfLS> serialLink_;
    std::unique_ptr<Extraction> extraction_;
    std::unique_ptr<HistoryMenu> historyMenu_;
    std::unique_ptr<AlarmSettingsDialog> alarmSettings_;
    std::unique_ptr<AlarmJournalWindow> alarmJournal_;
    std::unique_ptr<NotifySettingsDialog> notifySettings_;
    std::unique_ptr<AlarmReportWindow> alarmReport_;
    std::unique_ptr<PublishDialog> publishDialog_;
    std::unique_ptr<TraficLigne> trafic_;
};

}  // namespace merival

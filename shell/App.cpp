#include "shell/App.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "alarms/windows/AlarmJournalWindow.h"
#include "alarms/windows/AlarmSettingsDialog.h"
#include "base/IniFile.h"
#include "base/Operator.h"
#include "config/windows/ConfigW.h"
#include "diagnostics/windows/TraficLigne.h"
#include "engine/Capabilities.h"
#include "engine/MeasurementEngine.h"
#include "history/windows/HistoryMenu.h"
#include "logger/windows/Extraction.h"
#include "measure/windows/F_Mesure.h"
#include "notify/windows/AlarmReportWindow.h"
#include "notify/windows/NotifySettingsDialog.h"
#include "publish/windows/PublishDialog.h"
#include "serial/SerialPortInterface.h"
#include "serial/windows/ConfLS.h"
#include "shell/MERIVAL.h"
#include "shell/QtOperator.h"
#include "web/WebSettings.h"

namespace merival {

App::App(AppOptions options)
    : op_(options.op), exit_(std::move(options.exit)), decimalSeparator_(options.decimalSeparator) {
    if (op_ == nullptr) {
        ownOp_ = std::make_unique<QtOperator>();
        op_ = ownOp_.get();
    }
    if (!exit_) {
        exit_ = [](int code) { QCoreApplication::exit(code); };
    }
    if (decimalSeparator_.isNull()) {
        decimalSeparator_ = SystemDecimalSeparator();
    }
    // The program ends through EndApplication only; hiding the last window is not an end.
    QApplication::setQuitOnLastWindowClosed(false);

    engine_ = std::make_unique<MeasurementEngine>(std::move(options.port), decimalSeparator_);
    Capabilities::Choice choice;
    {
        // Read once: Qt caches a parsed file, so a later reader would not see it was damaged.
        const std::unique_ptr<QSettings> ini = OpenIni();
        choice.web = LoadWebSettings(*ini).active;
        if (QFileInfo::exists(IniPath())) {
            iniStatus_ = IniStatus(*ini);
        }
    }
    capabilities_ = std::make_unique<Capabilities>(*engine_, choice);
    // The engine works on a copy of the channels, renewed at every change.
    auto copyChannels = [this] { engine_->setChannels(store_.Records()); };
    connect(&store_, &ChannelStore::recordChanged, this, copyChannels);
    copyChannels();

    config_ =
        std::make_unique<ConfigW>(store_, settings_, state_, *op_, [this] { ShowMainWindow(); });
}

App::~App() {
    // Windows first, while what they show still exists; then the capabilities, which let go
    // of the engine; the engine last, which closes the port.
    trafic_.reset();
    publishDialog_.reset();
    alarmReport_.reset();
    notifySettings_.reset();
    alarmJournal_.reset();
    alarmSettings_.reset();
    historyMenu_.reset();
    extraction_.reset();
    serialLink_.reset();
    main_.reset();
    config_.reset();
    capabilities_.reset();
    engine_.reset();
}

void App::Start() {
    SetMessageParent(config_.get());
    config_->Form_Load();
    WarnOfDamagedIni();
}

void App::WarnOfDamagedIni() {
    // The added capabilities fall back to their defaults; the operator must know why.
    if (!iniStatus_.ok()) {
        op_->beep();
        op_->message(iniStatus_.message, AppTitle(), OperatorIcon::Exclamation);
    }
}

void App::SetMessageParent(QWidget* window) {
    if (ownOp_) {
        ownOp_->setParentWindow(window);
    }
}

void App::Report(const QString& message) {
    // A box on the window thread holds no pass: the engine has a thread of its own.
    if (!ending_) {
        op_->beep();
        op_->message(message, AppTitle(), OperatorIcon::Exclamation);
    }
}

void App::ShowMainWindow() {
    if (ending_) {
        return;
    }
    if (!main_) {
        MainWindowCommands commands;
        commands.createMeasureWindow = [this] { return CreateMeasureWindow(); };
        commands.showConfiguration = [this] {
            // Created at start-up; it comes back with its current values.
            SetMessageParent(config_.get());
            config_->showMaximized();
            config_->raise();
            config_->activateWindow();
        };
        commands.showSerialLink = [this] { ShowSerialLink(); };
        commands.showLoggerReset = [this] { ShowExtraction(true); };
        commands.showLoggerExport = [this] { ShowExtraction(false); };
        commands.endApplication = [this] { EndApplication(); };
        main_ = std::make_unique<MERIVAL>(store_, state_, *op_, std::move(commands));
        SetMessageParent(main_.get());
        AttachCapabilities();
        main_->Form_Load();
        return;
    }
    SetMessageParent(main_.get());
    ShowWindow(main_.get());
}

void App::ShowWindow(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

F_Mesure* App::CreateMeasureWindow() {
    MeasureWindowContext context{store_,
                                 state_,
                                 settings_,
                                 *engine_,
                                 *op_,
                                 [this] { ShowMainWindow(); },
                                 [this] { EndApplication(); }};
    auto* window = new F_Mesure(std::move(context));
    window->setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    SetMessageParent(window);
    connect(window, &F_Mesure::unloaded, this, [this] { SetMessageParent(main_.get()); });
    ShowAlarmsIn(window);
    return window;
}

F_Mesure* App::measureWindow() const {
    return main_ ? main_->MeasureWindow() : nullptr;
}

ExchangeLog& App::exchangeLog() {
    return engine_->exchangeLog();
}

void App::ShowSerialLink() {
    if (!serialLink_) {
        serialLink_ = std::make_unique<ConfLS>(settings_, *engine_, *op_);
    }
    SetMessageParent(serialLink_.get());
    serialLink_->ShowFromMenu();
}

void App::ShowExtraction(bool resetMode) {
    if (!extraction_) {
        extraction_ = std::make_unique<Extraction>(*op_);
    }
    SetMessageParent(extraction_.get());
    extraction_->ShowInMode(resetMode ? Extraction::Mode::Reset : Extraction::Mode::Export);
}

void App::EndApplication() {
    if (ending_) {
        return;
    }
    ending_ = true;
    // A pass in progress leaves after its current channel; the closed port ends its wait.
    state_.StopKey = state_.EscapeKey;
    if (F_Mesure* mesure = measureWindow()) {
        mesure->Halt();
    }
    engine_->closePort();
    for (QWidget* window : std::initializer_list<QWidget*>{
             config_.get(), main_.get(), serialLink_.get(), extraction_.get(), trafic_.get(),
             alarmSettings_.get(), alarmJournal_.get(), notifySettings_.get(), alarmReport_.get(),
             publishDialog_.get()}) {
        if (window != nullptr) {
            window->hide();
        }
    }
    exit_(0);
}

bool App::InstallFrenchTranslation(QCoreApplication& application) {
    auto* translator = new QTranslator(&application);
    if (!translator->load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QChar App::SystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.at(0);
}

}  // namespace merival

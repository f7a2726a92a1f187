#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>

class QAction;
class QLabel;
class QMenu;

namespace merival {

class ChannelStore;
class F_Mesure;
class Operator;
struct MeasureState;

// What the menu commands reach beyond the main window; the composition root fills it.
struct MainWindowCommands {
    // A new measurement window, not loaded yet.
    std::function<F_Mesure*()> createMeasureWindow;
    std::function<void()> showConfiguration;
    std::function<void()> showSerialLink;
    std::function<void()> showLoggerReset;
    std::function<void()> showLoggerExport;
    // Ends the program at once.
    std::function<void()> endApplication;
};

// The frame of the application: the menu bar and the logo.
class MERIVAL : public QMainWindow {
    Q_OBJECT
public:
    MERIVAL(const ChannelStore& store, MeasureState& state, Operator& op,
            MainWindowCommands commands, QWidget* parent = nullptr);
    ~MERIVAL() override;

    // First show: caption, logo, maximised.
    void Form_Load();
    void Quitter_Click();
    void LS_Click();
    void ConfApp_Click();
    // Starts measuring: opens the measurement window, or wakes the open one.
    void Mesure_Click();
    void RAZfich_Click();
    void Extract_Click();

    // The measurement window while one is open (null after ABANDON).
    [[nodiscard]] F_Mesure* MeasureWindow() const;
    // Shown in the measurement window too, which covers the status bar while measuring.
    void setLinkState(const QString& text);

    QLabel* Picture1 = nullptr;
    QMenu* Fichier = nullptr;
    QAction* Quitter = nullptr;
    QMenu* Config = nullptr;
    QAction* LS = nullptr;
    QAction* ConfApp = nullptr;
    QAction* Mesure = nullptr;
    QMenu* Logger = nullptr;
    QAction* RAZfich = nullptr;
    QAction* Extract = nullptr;
    // Menus of the capabilities beyond the logger; the composition root fills them, and one
    // left empty is not shown.
    QMenu* Historique = nullptr;
    QMenu* Alarmes = nullptr;
    QMenu* Diagnostic = nullptr;

protected:
    // Closing the main window ends the program (Form_Unload).
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CentreLogo();

    const ChannelStore& store_;
    MeasureState& state_;
    Operator& op_;
    MainWindowCommands commands_;
    QPointer<F_Mesure> mesure_;
    QString linkState_;
};

}  // namespace merival

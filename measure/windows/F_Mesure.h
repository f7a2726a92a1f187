#pragma once

#include <QChar>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

#include "config/AppInfo.h"
#include "measure/PaneLayout.h"

class QLabel;
class QFrame;
class QPushButton;

namespace merival {

class ChannelStore;
class MeasurementEngine;
class Operator;
struct MeasureState;
struct SerialSettings;

// What the measurement window works with; every reference outlives the window.
struct MeasureWindowContext {
    const ChannelStore& store;
    MeasureState& state;
    const SerialSettings& settings;
    MeasurementEngine& engine;
    Operator& op;
    std::function<void()> showMainWindow;
    // Ends the program at once (close box answered Yes).
    std::function<void()> endApplication;
};

// How a row shows its channel's alarm.
enum class RowAlarm { None, Unacknowledged, Acknowledged, ReturnedUnacknowledged };

// The window's one-second tick. The line's engine keeps it on its own thread, so that nothing
// the windows do can delay a pass; starting and stopping it is the window's.
class MeasureTicker {
public:
    MeasureTicker(MeasurementEngine& engine, const MeasureState& state)
        : engine_(engine), state_(state) {}
    void setInterval(int ms) { interval_ = ms; }
    [[nodiscard]] int interval() const { return interval_; }
    void start();
    void start(int ms) {
        interval_ = ms;
        start();
    }
    void stop();
    [[nodiscard]] bool isActive() const;

private:
    MeasurementEngine& engine_;
    const MeasureState& state_;
    int interval_ = 0;
};

// The live values of the selected channels, one row each; the one-second tick and the
// passes are the line's engine's. Destroys itself when ABANDON stops the measurement.
class F_Mesure : public QWidget {
    Q_OBJECT
public:
    explicit F_Mesure(MeasureWindowContext context, QWidget* parent = nullptr);
    ~F_Mesure() override;

    // Caption, layout of the rows, port opening. Runs once, right after creation.
    void Form_Load();
    // Row visibility and tag captions from the channel store.
    void Form_Paint();
    // ABANDON: marks the stop; outside a pass also stops the timer, closes the port, unloads
    // the window and shows the main window.
    void Commande1_Click();
    void Minuterie1_Timer();

    // The program is ending: no handler of this window runs any more.
    void Halt();
    [[nodiscard]] bool Unloaded() const { return unloaded_; }
    // A value in alarm turns red, blinking until acknowledged; one back to normal but not
    // acknowledged blinks amber. Acquitter shows while something waits for acknowledgement.
    void setRowAlarm(int channel, RowAlarm alarm);
    [[nodiscard]] RowAlarm rowAlarm(int channel) const {
        return rowAlarm_.at(static_cast<size_t>(channel));
    }
    // A line of its own under the rows, for the state of what goes on beside the measurement
    // (the publication's link); empty hides it.
    void setLinkState(const QString& text);

    MeasureTicker Minuterie1;
    std::array<QLabel*, kChannelCount> Etiquette1{};
    std::array<QLabel*, kChannelCount> Etiquette3{};
    std::array<QLabel*, kChannelCount> Dessin1{};
    std::array<QLabel*, 2> Etiquette2{};
    QWidget* Feuille = nullptr;  // holds every control, centred in the window
    QFrame* Cadre1 = nullptr;
    QLabel* Dessin2 = nullptr;
    QPushButton* Commande1 = nullptr;
    QPushButton* Acquitter = nullptr;
    QLabel* EtatLiaison = nullptr;
    QTimer Clignotement;  // the blinking of rows waiting for acknowledgement

    // Geometry chosen at design time (twips); the rows move only through LayOutChannelPanes.
    static constexpr int kFrameLeft = 240;
    static constexpr int kFrameWidth = 9360;
    static constexpr int kPictureLeft = 360;
    static constexpr int kPictureWidth = 1320;
    static constexpr int kTagLeft = 1800;
    static constexpr int kTagWidth = 3960;
    static constexpr int kValueLeft = 5940;

Q_SIGNALS:
    // Form_Unload ran: the window is gone for its owner (deleted later).
    void unloaded();
    // Acquitter was clicked.
    void acknowledge();

protected:
    void paintEvent(QPaintEvent* event) override;
    // The close box: Form_QueryUnload, then Form_Unload.
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void PlaceRows(const PaneLayout& layout);
    void PlaceLinkState();
    void Form_Unload();
    // Lines too long for the label end in "…"; the whole tag is then its tooltip.
    void SetTagText(int channel, const QString& title);
    void SetValueText(int channel, const QString& text);
    void ShowAlarms();
    [[nodiscard]] int X(int twips) const;
    [[nodiscard]] int Y(int twips) const;

    MeasureWindowContext context_;
    PaneDesign design_;
    bool programUnload_ = false;  // the close comes from ABANDON, not from the operator
    bool unloaded_ = false;
    bool halted_ = false;
    std::array<RowAlarm, kChannelCount> rowAlarm_{};
    QPalette valuePalette_;  // a row without alarm
    bool blinkOn_ = true;
    bool asking_ = false;  // the close question is on screen
};

}  // namespace merival

#pragma once

#include <QChar>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "instruments/MeasurementResults.h"
#include "measure/ChannelReading.h"
#include "measure/MeasureState.h"
#include "measure/SilentStations.h"

namespace merival {

class ChannelStore;
class RegisterReader;

// The once-per-second pass over channels 0 to 3. The measurement window (or merival-poll)
// owns the timer and calls Minuterie1_Timer on each tick; value texts leave through
// valueText.
class MeasurementCycle : public QObject {
    Q_OBJECT
public:
    MeasurementCycle(const ChannelStore& store, RegisterReader& reader, MeasurementResults& results,
                     MeasureState& state, QChar decimalSeparator, QObject* parent = nullptr);

    // The tick: a pass when no stop is pending; otherwise stopPending() (the ABANDON action).
    // A tick that arrives during a pass starts nothing.
    void Minuterie1_Timer();
    // One pass over channels 0 to 3; does nothing when a pass is already running.
    void RunMeasurementCycle();

    // Ticks and calls that found a pass running and started nothing.
    [[nodiscard]] int droppedTicks() const { return droppedTicks_; }
    // After that many HS in a row a station is asked once per interval and reads HS meanwhile;
    // 0 (the default) asks every station on every pass. Otherwise, a pass that an unanswered
    // exchange made last a second or more is followed at once by the next one, for the sake of
    // the stations that answered in it.
    void setSilentStations(int passes, qint64 intervalMs) { silent_.setLimits(passes, intervalMs); }

Q_SIGNALS:
    // Before the exchange of a channel, so that watchers of the line know whose it is.
    void polling(int channel);
    // "HS" for a silent station; CR LF between the lines of multi-line texts.
    void valueText(int channel, const QString& text);
    // Right after valueText: the same pass of the same channel, for recorders and watchers.
    void reading(const merival::ChannelReading& reading);
    void stopPending();
    // Around every pass; passFinished comes once PollInProgress is false again.
    void passStarted();
    void passFinished();

private:
    const ChannelStore& store_;
    RegisterReader& reader_;
    MeasurementResults& results_;
    MeasureState& state_;
    QChar decimalSeparator_;
    int droppedTicks_ = 0;
    SilentStations silent_;
    QElapsedTimer clock_;
    qint64 passStartMs_ = 0;
    bool unanswered_ = false;  // with silent stations watched, an exchange of this pass failed

    void PollChannel(int n);
};

}  // namespace merival

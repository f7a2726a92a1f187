#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <array>

#include "alarms/AlarmSettings.h"
#include "measure/ChannelReading.h"

namespace merival {

// The life cycle of a channel's alarm.
enum class AlarmState { Normal, ActiveUnacknowledged, ActiveAcknowledged, ReturnedUnacknowledged };

// The event texts, as journaled and passed to the command.
namespace alarm_event {
inline const QString kHigh = QStringLiteral("Seuil haut");
inline const QString kLow = QStringLiteral("Seuil bas");
inline const QString kLoss = QStringLiteral("Perte de communication");
inline const QString kReturn = QStringLiteral("Retour à la normale");
inline const QString kAcknowledge = QStringLiteral("Acquittement");
// A reading in another unit than the limits: said once, until the unit is back.
[[nodiscard]] QString UnitMismatch(const QString& readingUnit, const QString& limitsUnit);
}  // namespace alarm_event

struct AlarmEvent {
    QDateTime time;  // UTC
    int channel = 0;
    QString tag;
    QString text;  // the value text on one line
    QString event;

    [[nodiscard]] bool raisesAlarm() const {
        return event == alarm_event::kHigh || event == alarm_event::kLow ||
               event == alarm_event::kLoss;
    }
    bool operator==(const AlarmEvent&) const = default;
};

// Pure alarm logic over the readings of channels 0 to 3. A channel has one alarm at a time;
// its cause is a limit on the main value (numbers[0]) or a loss of communication. Limits are
// compared only with a main value in their unit; the on-delay runs on the readings' steady
// clock and starts again after a loss of communication.
class AlarmEngine {
public:
    explicit AlarmEngine(AlarmSettings settings = {});

    // The events this reading causes, in order.
    [[nodiscard]] QList<AlarmEvent> Feed(const ChannelReading& reading);
    // Acknowledges every channel waiting for it; one event per channel acknowledged.
    [[nodiscard]] QList<AlarmEvent> AcknowledgeAll(const QDateTime& now);

    // New limits count from the next reading; states are kept.
    void setSettings(const AlarmSettings& settings);
    [[nodiscard]] const AlarmSettings& settings() const { return settings_; }
    [[nodiscard]] AlarmState State(int channel) const;
    // The unit of the channel's main value in its latest reading; empty before one.
    [[nodiscard]] QString MainUnit(int channel) const;

private:
    enum class Cause { None, High, Low, Loss };
    struct Channel {
        AlarmState state = AlarmState::Normal;
        Cause shown = Cause::None;  // the cause of the current alarm
        Cause limit = Cause::None;  // the limit condition established after deadband and delay
        Cause pending = Cause::None;
        qint64 pendingSinceMs = 0;  // steady clock
        int silentPasses = 0;
        QString tag;
        QString text;
        QString mainUnit;
        QString limitsUnit;  // the settings' unit, else that of the first value compared
        bool unitReported = false;
    };

    [[nodiscard]] Cause LimitTarget(const Channel& c, int channel, double value) const;
    // The limit condition after this reading; a value in another unit than the limits is not
    // compared, and the first of a run of them gives the event that says so.
    [[nodiscard]] QList<AlarmEvent> UpdateLimit(Channel& c, int channel,
                                                const ChannelReading& reading);
    [[nodiscard]] QList<AlarmEvent> Apply(Channel& c, int channel, Cause cause,
                                          const QDateTime& time);

    AlarmSettings settings_;
    std::array<Channel, kChannelCount> channels_{};
};

}  // namespace merival

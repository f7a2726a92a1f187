#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QMutex>
#include <array>
#include <functional>

#include "alarms/AlarmEngine.h"
#include "config/AppInfo.h"
#include "diagnostics/Exchange.h"
#include "history/HistoryQuery.h"
#include "measure/ChannelReading.h"

namespace merival {

// What the web view shows of the line: the readings of the last whole pass and what the other
// capabilities already know. Copied whole; nothing here asks the line anything.
struct LiveSnapshot {
    QList<ChannelReading> readings;  // the last pass, in polling order
    std::array<AlarmState, kChannelCount> alarms{};
    bool alarmsOn = false;  // the alarm chain runs
    std::array<ChannelStats, kChannelCount> stats{};
    bool statsOn = false;
    long long droppedPasses = -1;  // -1: nothing is recorded
    qint64 passes = 0;
    QDateTime lastPass;  // UTC
};

// Filled on the engine thread (readings, pass ends) and the alarms' thread, read by the
// server: a short lock around copies only.
class LiveState {
public:
    void Take(const ChannelReading& reading);
    // The pass's readings become the shown ones; `stats` and `dropped` as they are now.
    void EndPass(const QDateTime& time,
                 const std::optional<std::array<ChannelStats, kChannelCount>>& stats,
                 long long dropped);
    void SetAlarm(int channel, AlarmState state);
    [[nodiscard]] LiveSnapshot Snapshot() const;

private:
    mutable QMutex mutex_;
    QList<ChannelReading> pass_;  // engine thread only
    LiveSnapshot shown_;
};

// "normale", "active", "acquittee", "retour".
[[nodiscard]] QString AlarmStateName(AlarmState state);

// The current readings: an array of the MQTT messages' objects.
[[nodiscard]] QByteArray ReadingsJson(const LiveSnapshot& snapshot);
// What the live page gets at each pass: the pass, and per channel the MQTT object with the
// value text's lines as shown ("lignes") and the alarm state ("alarme").
[[nodiscard]] QByteArray PassJson(const LiveSnapshot& snapshot);
// The line's statistics: the diagnostics window's headings ("entetes") and per channel that
// exchanged ("voies") its cells and counters.
[[nodiscard]] QByteArray StatsJson(const LiveSnapshot& snapshot);
// Prometheus text format 0.0.4.
[[nodiscard]] QByteArray MetricsText(const LiveSnapshot& snapshot);

[[nodiscard]] QJsonArray JournalJson(const QList<AlarmEvent>& events);
// Curves for the chart: per series its segments as [[t_ms, y], ...].
[[nodiscard]] QByteArray TrendJson(const TrendData& data);

}  // namespace merival

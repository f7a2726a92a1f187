#include "alarms/AlarmEngine.h"

namespace merival {

AlarmEngine::AlarmEngine(AlarmSettings settings) : settings_(std::move(settings)) {}

AlarmState AlarmEngine::State(int channel) const {
    return channel >= 0 && channel < kChannelCount ? channels_[channel].state : AlarmState::Normal;
}

// The limit condition the value asks for, with the deadband keeping an established one.
AlarmEngine::Cause AlarmEngine::LimitTarget(const Channel& c, int channel, double value) const {
    const ChannelAlarmSettings& s = settings_.channels[channel];
    if (s.high && (value > *s.high || (c.limit == Cause::High && value >= *s.high - s.deadband))) {
        return Cause::High;
    }
    if (s.low && (value < *s.low || (c.limit == Cause::Low && value <= *s.low + s.deadband))) {
        return Cause::Low;
    }
    return Cause::None;
}

void AlarmEngine::UpdateLimit(Channel& c, int channel, const ChannelReading& reading) {
    if (reading.numbers.isEmpty()) {
        return;  // a reading with no main value says nothing about the limits
    }
    const Cause target = LimitTarget(c, channel, reading.numbers.first().value);
    if (target == c.limit || target == Cause::None) {
        c.limit = target;
        c.pending = Cause::None;
        return;
    }
    if (c.pending != target) {
        c.pending = target;
        c.pendingSince = reading.time;
    }
    const double delayMs = settings_.channels[channel].delaySeconds * 1000;
    if (static_cast<double>(c.pendingSince.msecsTo(reading.time)) >= delayMs) {
        c.limit = target;
        c.pending = Cause::None;
    }
}

QList<AlarmEvent> AlarmEngine::Feed(const ChannelReading& reading) {
    const int n = reading.channel;
    if (n < 0 || n >= kChannelCount) {
        return {};
    }
    Channel& c = channels_[n];
    c.tag = reading.tag;
    c.text = SingleLineText(reading.text);
    if (reading.ok) {
        c.silentPasses = 0;
        UpdateLimit(c, n, reading);
    } else {
        ++c.silentPasses;
    }
    const bool lost = !reading.ok && settings_.lossPasses > 0 &&
                      (c.silentPasses >= settings_.lossPasses || c.shown == Cause::Loss);
    return Apply(c, n, lost ? Cause::Loss : c.limit, reading.time);
}

QList<AlarmEvent> AlarmEngine::Apply(Channel& c, int channel, Cause cause, const QDateTime& time) {
    if (cause == c.shown) {
        return {};
    }
    c.shown = cause;
    QString event;
    switch (cause) {
        case Cause::None:
            event = alarm_event::kReturn;
            c.state = c.state == AlarmState::ActiveAcknowledged
                          ? AlarmState::Normal
                          : AlarmState::ReturnedUnacknowledged;
            break;
        case Cause::High:
            event = alarm_event::kHigh;
            break;
        case Cause::Low:
            event = alarm_event::kLow;
            break;
        case Cause::Loss:
            event = alarm_event::kLoss;
            break;
    }
    if (cause != Cause::None) {
        c.state = AlarmState::ActiveUnacknowledged;
    }
    return {AlarmEvent{time, channel, c.tag, c.text, event}};
}

QList<AlarmEvent> AlarmEngine::AcknowledgeAll(const QDateTime& now) {
    QList<AlarmEvent> events;
    for (int n = 0; n < kChannelCount; ++n) {
        Channel& c = channels_[n];
        if (c.state == AlarmState::ActiveUnacknowledged) {
            c.state = AlarmState::ActiveAcknowledged;
        } else if (c.state == AlarmState::ReturnedUnacknowledged) {
            c.state = AlarmState::Normal;
        } else {
            continue;
        }
        events.append({now, n, c.tag, c.text, alarm_event::kAcknowledge});
    }
    return events;
}

}  // namespace merival

#include "alarms/AlarmEngine.h"

namespace merival {

QString alarm_event::UnitMismatch(const QString& readingUnit, const QString& limitsUnit) {
    return QStringLiteral("Seuils non comparés : valeur en « %1 », seuils en « %2 »")
        .arg(readingUnit, limitsUnit);
}

AlarmEngine::AlarmEngine(AlarmSettings settings) {
    setSettings(settings);
}

void AlarmEngine::setSettings(const AlarmSettings& settings) {
    settings_ = settings;
    for (int n = 0; n < kChannelCount; ++n) {
        channels_[n].limitsUnit = settings.channels[n].unit;
        channels_[n].unitReported = false;
    }
}

QString AlarmEngine::MainUnit(int channel) const {
    return channel >= 0 && channel < kChannelCount ? channels_[channel].mainUnit : QString();
}

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

QList<AlarmEvent> AlarmEngine::UpdateLimit(Channel& c, int channel, const ChannelReading& reading) {
    if (reading.numbers.isEmpty()) {
        return {};
    }
    const ReadingNumber& main = reading.numbers.first();
    c.mainUnit = main.unit;
    const ChannelAlarmSettings& s = settings_.channels[channel];
    if (!s.low && !s.high) {
        c.limit = Cause::None;
        c.pending = Cause::None;
        return {};
    }
    if (!main.value) {
        return {};  // no main value says nothing about the limits
    }
    if (c.limitsUnit.isEmpty()) {
        c.limitsUnit = main.unit;
    }
    if (main.unit != c.limitsUnit) {
        c.pending = Cause::None;
        if (c.unitReported) {
            return {};
        }
        c.unitReported = true;
        return {AlarmEvent{reading.time, channel, c.tag, c.text,
                           alarm_event::UnitMismatch(main.unit, c.limitsUnit)}};
    }
    c.unitReported = false;
    const Cause target = LimitTarget(c, channel, *main.value);
    if (target == c.limit || target == Cause::None) {
        c.limit = target;
        c.pending = Cause::None;
        return {};
    }
    if (c.pending != target) {
        c.pending = target;
        c.pendingSinceMs = reading.steadyMs;
    }
    if (static_cast<double>(reading.steadyMs - c.pendingSinceMs) >= s.delaySeconds * 1000) {
        c.limit = target;
        c.pending = Cause::None;
    }
    return {};
}

QList<AlarmEvent> AlarmEngine::Feed(const ChannelReading& reading) {
    const int n = reading.channel;
    if (n < 0 || n >= kChannelCount) {
        return {};
    }
    Channel& c = channels_[n];
    c.tag = reading.tag;
    c.text = SingleLineText(reading.text);
    QList<AlarmEvent> events;
    if (reading.ok) {
        c.silentPasses = 0;
        events = UpdateLimit(c, n, reading);
    } else {
        ++c.silentPasses;
    }
    const bool lost = !reading.ok && settings_.lossPasses > 0 &&
                      (c.silentPasses >= settings_.lossPasses || c.shown == Cause::Loss);
    if (lost) {
        // What the limits were doing before is stale: the on-delay starts again.
        c.limit = Cause::None;
        c.pending = Cause::None;
    }
    events += Apply(c, n, lost ? Cause::Loss : c.limit, reading.time);
    return events;
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

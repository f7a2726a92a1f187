#include "alarms/Alarms.h"

namespace merival {

Alarms::Alarms(const AlarmSettings& settings, const QString& journalPath, QObject* parent)
    : QObject(parent), engine_(settings), journal_(journalPath) {
    command_.setCommand(settings.command, settings.arguments);
    connect(&journal_, &AlarmJournal::failed, this, &Alarms::failed);
    connect(&command_, &AlarmCommand::failed, this, &Alarms::failed);
}

void Alarms::setSettings(const AlarmSettings& settings) {
    engine_.setSettings(settings);
    command_.setCommand(settings.command, settings.arguments);
}

void Alarms::Feed(const ChannelReading& reading) {
    Publish(engine_.Feed(reading));
}

void Alarms::AcknowledgeAll() {
    Publish(engine_.AcknowledgeAll(QDateTime::currentDateTimeUtc()));
}

void Alarms::Publish(const QList<AlarmEvent>& events) {
    for (const AlarmEvent& e : events) {
        journal_.Append(e);
        command_.Run(e);
        Q_EMIT happened(e);
        Q_EMIT stateChanged(e.channel, engine_.State(e.channel));
    }
}

}  // namespace merival

#pragma once

#include <QObject>
#include <memory>

#include "alarms/AlarmCommand.h"
#include "alarms/AlarmEngine.h"
#include "alarms/AlarmJournal.h"

namespace merival {

// The alarm chain fed by readings: the engine, then for each event the journal and the
// command. Nothing here waits on the disk or on the command.
class Alarms : public QObject {
    Q_OBJECT
public:
    // The journal path defaults to JournalPath().
    explicit Alarms(const AlarmSettings& settings, const QString& journalPath = {},
                    QObject* parent = nullptr);

    void Feed(const merival::ChannelReading& reading);
    // Acknowledges every alarm waiting for it.
    void AcknowledgeAll();
    void setSettings(const AlarmSettings& settings);

    [[nodiscard]] const AlarmEngine& engine() const { return engine_; }
    [[nodiscard]] AlarmJournal& journal() { return journal_; }
    [[nodiscard]] AlarmCommand& command() { return command_; }

Q_SIGNALS:
    void happened(const merival::AlarmEvent& event);
    // After the events of a channel changed its state.
    void stateChanged(int channel, merival::AlarmState state);
    // A French message from the journal or the command.
    void failed(const QString& message);

private:
    void Publish(const QList<AlarmEvent>& events);

    AlarmEngine engine_;
    AlarmJournal journal_;
    AlarmCommand command_;
};

}  // namespace merival

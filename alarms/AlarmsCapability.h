#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "alarms/Alarms.h"
#include "base/Mailbox.h"
#include "base/Status.h"
#include "engine/Capability.h"

namespace merival {

// The alarms as a capability: every reading goes to the alarm chain, which lives on the
// owner's thread (its events reach windows, the journal and the command from there).
class AlarmsCapability : public QObject, public Capability {
    Q_OBJECT
public:
    // Empty path: the journal of historique.sqlite in the working directory.
    explicit AlarmsCapability(QString journalPath = {}, QObject* parent = nullptr);
    ~AlarmsCapability() override;

    // The [Alarmes] section; a value that cannot be read is left at its default and said in
    // warning().
    void readSettings(const QSettings& ini) override;
    void start() override;
    void stop() override;
    void takeReading(const ChannelReading& reading) override;
    void passFinished(const PassEnd&) override {}

    void setSettings(const AlarmSettings& settings);
    [[nodiscard]] const AlarmSettings& settings() const { return settings_; }
    [[nodiscard]] const Status& warning() const { return warning_; }
    // Null before start and after stop.
    [[nodiscard]] Alarms* alarms() const { return alarms_.get(); }

private:
    Mailbox mailbox_{this};  // readings from the engine's thread
    QString journalPath_;
    AlarmSettings settings_;
    Status warning_;
    std::unique_ptr<Alarms> alarms_;
};

}  // namespace merival

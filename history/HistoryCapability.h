#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <memory>

#include "engine/Capability.h"
#include "history/HistoryRecorder.h"

namespace merival {

// The history as a capability: every reading of every pass into "historique.sqlite", one
// transaction per pass, while the [Historique] section says so. The menu turns it on and off.
class HistoryCapability : public QObject, public Capability {
    Q_OBJECT
public:
    // Empty path: historique.sqlite of the working directory.
    explicit HistoryCapability(QString databasePath = {}, QObject* parent = nullptr);
    ~HistoryCapability() override;

    void readSettings(const QSettings& ini) override;
    // Records when the settings say so.
    void start() override;
    void stop() override;
    void takeReading(const ChannelReading& reading) override;
    void passFinished(const PassEnd& pass) override;

    // Starts or stops the recorder now (the menu's check mark); the setting is the caller's.
    void setRecording(bool on);
    [[nodiscard]] bool recording() const;
    [[nodiscard]] const HistorySettings& settings() const { return settings_; }
    [[nodiscard]] QString databasePath() const { return databasePath_; }
    // Null while not recording (tests and tools wait on it).
    [[nodiscard]] HistoryRecorder* recorder() const { return recorder_.get(); }

Q_SIGNALS:
    // The file was refused or a write failed: recording has stopped. French text.
    void failed(const QString& message);
    // Writing is held up; the recorder keeps trying and resumes by itself. French text.
    void troubled(const QString& message);

private:
    QString databasePath_;
    HistorySettings settings_;
    // The engine's thread adds to the recorder while the owner's may replace it.
    mutable QMutex mutex_;
    std::unique_ptr<HistoryRecorder> recorder_;
};

}  // namespace merival

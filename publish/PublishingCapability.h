#pragma once

#include <QDir>
#include <QList>
#include <QObject>
#include <QString>
#include <mutex>

#include "base/Mailbox.h"
#include "base/Status.h"
#include "engine/Capability.h"
#include "publish/MqttLink.h"
#include "publish/PublishSettings.h"

class QThread;

namespace merival {

class Publisher;

// Publishing as a capability: a publisher on a thread of its own, so that neither the
// readings nor a stop (which waits for the broker to take the last message, up to a few
// seconds) ever wait on the owner's thread.
class PublishingCapability : public QObject, public Capability {
    Q_OBJECT
public:
    // Files named in the settings are relative to `files` (the directory of merival.ini).
    explicit PublishingCapability(QDir files = QDir::current(), QObject* parent = nullptr);
    // Waits for the links still stopping (the end of the program).
    ~PublishingCapability() override;

    // The [Publication] section.
    void readSettings(const QSettings& ini) override;
    // Connects when the settings are usable; startStatus() says whether a file failed.
    void start() override;
    // Returns at once: the link says "hors ligne" and disconnects on its own thread.
    void stop() override;
    void takeReading(const ChannelReading& reading) override;
    void passFinished(const PassEnd&) override {}

    // New settings (the publication dialog): the old link stops, the new one starts.
    void restart(const PublishSettings& settings);
    [[nodiscard]] const PublishSettings& settings() const { return settings_; }
    [[nodiscard]] const Status& startStatus() const { return startStatus_; }
    [[nodiscard]] bool running() const { return thread_ != nullptr; }
    // Links stopping in the background.
    [[nodiscard]] int stopping() const { return static_cast<int>(stopping_.size()); }

Q_SIGNALS:
    void stateChanged(merival::LinkState state, const QString& text);

private:
    // After the wait for a stopping thread: what it deleted as it ended is seen done here.
    void Ended(QThread* thread);

    QDir files_;
    PublishSettings settings_;
    Status startStatus_;
    QThread* thread_ = nullptr;
    Mailbox news_{this};       // the link's state, back on this object's thread
    int generation_ = 0;       // bumped at each stop: news of an older link is dropped
    std::mutex feedMutex_;     // home_ and publisher_ are read on the engine's thread
    Mailbox* home_ = nullptr;  // lives on thread_, parent of the publisher
    Publisher* publisher_ = nullptr;
    std::mutex ended_;  // held by a stopping thread while it deletes its publisher
    QList<QThread*> stopping_;
};

}  // namespace merival

#pragma once

#include <QObject>
#include <QThread>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "base/Mailbox.h"
#include "engine/Capability.h"
#include "notify/Delivery.h"
#include "notify/DeliveryPlan.h"
#include "notify/NotifySettings.h"

namespace merival {

class NotifyWorker;

// Alarm events out by e-mail and webhook. Events are handed to a thread of its own which
// groups, sends, retries and stores their state: nothing here waits on the network.
class Notifier : public QObject, public Capability {
    Q_OBJECT
public:
    // The database defaults to "historique.sqlite" of the working directory.
    explicit Notifier(const QString& databasePath = {}, QObject* parent = nullptr);
    ~Notifier() override;

    // Section [Notifications]; file names relative to the ini file's folder.
    void readSettings(const QSettings& ini) override;
    void start() override;
    void stop() override;
    // Keeps the latest reading of each channel, for the webhook's JSON.
    void takeReading(const ChannelReading& reading) override;
    void passFinished(const PassEnd&) override {}

    // Queues the event if the settings ask for it (any thread that owns this object).
    void Notify(const merival::AlarmEvent& event);

    void setSettings(const NotifySettings& settings);
    [[nodiscard]] const NotifySettings& settings() const { return settings_; }
    // For tests: shorter delays.
    void setRules(const DeliveryRules& rules);

    // A test message with these settings, by every way they enable, on a thread of its own;
    // answered by tested().
    void Test(const NotifySettings& settings);

Q_SIGNALS:
    // Counts per state and the latest reply, for the journal window.
    void summary(const QString& text);
    void failed(const QString& message);
    // The server's answer to Test, in French, one line per way.
    void tested(bool ok, const QString& answer);

private:
    void Configure();

    QString databasePath_;
    NotifySettings settings_;
    DeliveryRules rules_;
    QString station_;
    std::atomic<bool> cancel_{false};
    Mailbox news_{this};  // from the worker and the test, back on this object's thread
    QThread thread_;
    NotifyWorker* worker_ = nullptr;
    std::unique_ptr<Mailbox> box_;  // on thread_: calls to the worker
    std::mutex readingsMutex_;
    std::array<std::optional<ChannelReading>, kChannelCount> readings_;
    std::atomic<bool> ending_{false};  // ends a test under way at destruction
    std::unique_ptr<QThread> testThread_;
};

}  // namespace merival

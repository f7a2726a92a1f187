#pragma once

#include <QList>
#include <QObject>
#include <QTimer>
#include <atomic>

#include "notify/NotifySettings.h"
#include "notify/NotifyStore.h"

namespace merival {

// Lives on the notifier's thread: keeps the queue, plans and sends, and stores every state.
// The queue in memory is the truth; the table keeps it across a restart.
class NotifyWorker : public QObject {
    Q_OBJECT
public:
    NotifyWorker(const QString& databasePath, const std::atomic<bool>* cancel);

    void Configure(const merival::NotifySettings& settings, const merival::DeliveryRules& rules,
                   const QString& station);
    void Add(const merival::Notification& notification);
    // Loads what was still waiting at the last stop; once, before the first Add.
    void Resume();

Q_SIGNALS:
    // The line of text for the journal window.
    void summary(const QString& text);
    void failed(const QString& message);

private:
    void Process();
    // One try of the batch; the sent ones leave the queue, the others wait or are given up.
    void Try(const QString& way, QList<QueuedDelivery> batch, qint64 nowMs);
    void Report(const Status& status);
    [[nodiscard]] bool Usable(const QString& way) const;

    NotifyStore store_;
    const std::atomic<bool>* cancel_;
    NotifySettings settings_;
    DeliveryRules rules_;
    QString station_;
    QList<QueuedDelivery> queue_;
    QList<std::pair<QString, qint64>> sent_;  // way and time of the messages of the last hour
    QTimer wake_;
    bool reported_ = false;
    bool resumed_ = false;
    qint64 unstored_ = 0;  // negative ids of deliveries the file did not take
};

}  // namespace merival

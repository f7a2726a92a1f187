#pragma once

#include <QList>
#include <QString>

#include "base/Status.h"
#include "notify/DeliveryPlan.h"
#include "notify/NotifyMessages.h"

namespace merival {

// The two ways an event goes out, as stored.
inline const QString kByMail = QStringLiteral("courriel");
inline const QString kByWebhook = QStringLiteral("webhook");

// Delivery states, as stored and shown.
namespace delivery_state {
inline const QString kWaiting = QStringLiteral("en attente");
inline const QString kRetry = QStringLiteral("nouvel essai");
inline const QString kSent = QStringLiteral("envoyé");
inline const QString kGivenUp = QStringLiteral("abandonné");
}  // namespace delivery_state

// One event on its way by one way.
struct QueuedDelivery {
    QString way;
    Notification notification;
    PendingDelivery pending;
};

// Table journal_notifications of "historique.sqlite", beside the alarm journal: the state of
// every event's delivery, and the queue that survives a restart. Used on one thread, which
// owns the connection of the given name.
class NotifyStore {
public:
    NotifyStore(QString path, QString connection);
    ~NotifyStore();
    NotifyStore(const NotifyStore&) = delete;
    NotifyStore& operator=(const NotifyStore&) = delete;

    // Opens the file on first use; a refusal is reported by each call that needs it.
    [[nodiscard]] Status Open();
    // Every delivery still waiting, oldest first.
    [[nodiscard]] Status Waiting(QList<QueuedDelivery>* out);
    // Times of the messages sent by that way since sinceMs.
    [[nodiscard]] Status SentSince(const QString& way, qint64 sinceMs, QList<qint64>* out);
    // Stores a new delivery and gives it its id.
    [[nodiscard]] Status Add(QueuedDelivery* d, qint64 nowMs);
    // The new state of deliveries after a try, with the server's reply.
    [[nodiscard]] Status Update(const QList<QueuedDelivery>& ds, const QString& state,
                                const QString& reply, qint64 nowMs);
    // Counts per state and the latest reply, in French, for the journal window.
    [[nodiscard]] QString Summary();

private:
    QString path_;
    QString connection_;
    bool open_ = false;
};

}  // namespace merival

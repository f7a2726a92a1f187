#include "notify/NotifyWorker.h"

#include <QDateTime>

#include "notify/Delivery.h"

namespace merival {
namespace {

constexpr qint64 kHourMs = 3600000;

qint64 Now() {
    return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace

NotifyWorker::NotifyWorker(const QString& databasePath, const std::atomic<bool>* cancel)
    : store_(databasePath, QStringLiteral("merival-notifications")), cancel_(cancel), wake_(this) {
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::CoarseTimer);
    connect(&wake_, &QTimer::timeout, this, &NotifyWorker::Process);
}

void NotifyWorker::Configure(const NotifySettings& settings, const DeliveryRules& rules,
                             const QString& station) {
    settings_ = settings;
    rules_ = rules;
    station_ = station;
    Process();
}

bool NotifyWorker::Usable(const QString& way) const {
    return way == kByMail ? settings_.mailUsable() : settings_.webhookUsable();
}

void NotifyWorker::Resume() {
    if (std::exchange(resumed_, true)) {
        return;
    }
    QList<QueuedDelivery> waiting;
    Report(store_.Waiting(&waiting));
    queue_ = waiting + queue_;
    for (const QString& way : {kByMail, kByWebhook}) {
        QList<qint64> times;
        if (store_.SentSince(way, Now() - kHourMs, &times).ok()) {
            for (qint64 t : times) {
                sent_.append({way, t});
            }
        }
    }
    Q_EMIT summary(store_.Summary());
    Process();
}

void NotifyWorker::Add(const Notification& notification) {
    const qint64 now = Now();
    for (const QString& way : {kByMail, kByWebhook}) {
        if (!Usable(way)) {
            continue;
        }
        QueuedDelivery d{way, notification, {}};
        d.pending.nextMs = now + rules_.groupMs;
        // Kept in memory all the same when the file refuses it: the event still goes out.
        const Status added = store_.Add(&d, now);
        Report(added);
        if (!added.ok()) {
            d.notification.id = d.pending.id = --unstored_;
        }
        queue_.append(d);
    }
    Process();
}

void NotifyWorker::Report(const Status& status) {
    if (status.ok()) {
        reported_ = false;
    } else if (!std::exchange(reported_, true)) {
        Q_EMIT failed(status.message);
    }
}

void NotifyWorker::Process() {
    bool changed = false;
    std::optional<qint64> wake;
    for (const QString& way : {kByMail, kByWebhook}) {
        for (;;) {
            if (cancel_->load()) {
                return;
            }
            const qint64 now = Now();
            QList<QueuedDelivery> mine;
            QList<PendingDelivery> pending;
            for (const QueuedDelivery& d : std::as_const(queue_)) {
                if (d.way == way) {
                    mine.append(d);
                    pending.append(d.pending);
                }
            }
            if (!mine.isEmpty() && !Usable(way)) {
                // The way was switched off: its events end here, with the reason.
                Report(store_.Update(mine, delivery_state::kGivenUp,
                                     QStringLiteral("envoi désactivé dans les réglages"), now));
                queue_.removeIf([&](const QueuedDelivery& d) { return d.way == way; });
                changed = true;
                break;
            }
            QList<qint64> times;
            sent_.removeIf([&](const auto& s) { return s.second <= now - kHourMs; });
            for (const auto& [w, t] : std::as_const(sent_)) {
                if (w == way) {
                    times.append(t);
                }
            }
            const DeliveryPlan plan = PlanDelivery(pending, times, now, rules_);
            if (plan.send.isEmpty()) {
                if (plan.wakeMs) {
                    wake = wake ? std::min(*wake, *plan.wakeMs) : *plan.wakeMs;
                }
                break;
            }
            QList<QueuedDelivery> batch;
            for (const QueuedDelivery& d : std::as_const(mine)) {
                if (plan.send.contains(d.pending.id)) {
                    batch.append(d);
                }
            }
            Try(way, batch, now);
            changed = true;
        }
    }
    if (changed) {
        Q_EMIT summary(store_.Summary());
    }
    if (wake) {
        wake_.start(int(std::clamp<qint64>(*wake - Now(), 0, kHourMs)));
    } else {
        wake_.stop();
    }
}

void NotifyWorker::Try(const QString& way, QList<QueuedDelivery> batch, qint64 nowMs) {
    QList<Notification> notifications;
    for (const QueuedDelivery& d : std::as_const(batch)) {
        notifications.append(d.notification);
    }
    // Sent in order; in the JSON form of the webhook each event is its own request, and those
    // accepted before a failure are not sent again.
    QList<QueuedDelivery> done;
    SendResult result;
    if (way == kByMail) {
        result = SendMail(
            settings_,
            MailMessage(settings_, notifications, station_, QDateTime::currentDateTime()), cancel_);
        if (result.ok) {
            done = std::exchange(batch, {});
        }
    } else if (settings_.webhookFormat == WebhookFormat::Text) {
        result = PostWebhook(settings_, WebhookText(notifications, station_), cancel_);
        if (result.ok) {
            done = std::exchange(batch, {});
        }
    } else {
        while (!batch.isEmpty()) {
            result = PostWebhook(settings_, batch.first().notification.json, cancel_);
            if (!result.ok) {
                break;
            }
            done.append(batch.takeFirst());
        }
    }
    const auto forget = [this](const QList<QueuedDelivery>& ds) {
        queue_.removeIf([&](const QueuedDelivery& q) {
            return std::any_of(ds.begin(), ds.end(), [&](const QueuedDelivery& d) {
                return d.way == q.way && d.pending.id == q.pending.id &&
                       d.notification == q.notification;
            });
        });
    };
    if (!done.isEmpty()) {
        sent_.append({way, nowMs});
        for (QueuedDelivery& d : done) {
            ++d.pending.tries;
        }
        Report(store_.Update(done, delivery_state::kSent, result.reply, nowMs));
        forget(done);
    }
    if (batch.isEmpty()) {
        return;
    }
    if (cancel_->load()) {
        return;  // stopped mid-way: tried again at the next start
    }
    QList<QueuedDelivery> retried;
    QList<QueuedDelivery> givenUp;
    for (QueuedDelivery& d : batch) {
        const std::optional<qint64> next = NextTry(d.pending, nowMs, rules_);
        d.pending.firstFailureMs = d.pending.firstFailureMs > 0 ? d.pending.firstFailureMs : nowMs;
        ++d.pending.tries;
        if (next) {
            d.pending.nextMs = *next;
            retried.append(d);
        } else {
            givenUp.append(d);
        }
    }
    Report(store_.Update(retried, delivery_state::kRetry, result.reply, nowMs));
    Report(store_.Update(givenUp, delivery_state::kGivenUp, result.reply, nowMs));
    if (!givenUp.isEmpty()) {
        Q_EMIT failed(QStringLiteral("%1 événement(s) d'alarme n'ont pas pu partir par %2 après "
                                     "une heure d'essais (%3).")
                          .arg(givenUp.size())
                          .arg(way, result.reply));
    }
    for (QueuedDelivery& q : queue_) {
        for (const QueuedDelivery& r : std::as_const(retried)) {
            if (r.way == q.way && r.notification == q.notification &&
                r.pending.id == q.pending.id) {
                q.pending = r.pending;
            }
        }
    }
    forget(givenUp);
}

}  // namespace merival

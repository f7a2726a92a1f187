#pragma once

#include <QList>
#include <QtGlobal>
#include <optional>

namespace merival {

// Timing of the delivery queue, in milliseconds.
struct DeliveryRules {
    qint64 groupMs = 30000;       // an event waits this long for others to join its message
    int perHour = 20;             // messages per way within any hour
    qint64 firstRetryMs = 10000;  // then doubled at each failure...
    qint64 maxRetryMs = 600000;   // ...up to this
    qint64 giveUpMs = 3600000;    // no retry later than this after the first failure
    int maxBatch = 200;           // events in one message
};

// An event waiting for one way (e-mail or webhook).
struct PendingDelivery {
    qint64 id = 0;
    qint64 nextMs = 0;          // not sent before
    qint64 firstFailureMs = 0;  // 0: never failed
    int tries = 0;
};

struct DeliveryPlan {
    QList<qint64> send;            // ids for one message, oldest first; empty: nothing now
    std::optional<qint64> wakeMs;  // when to plan again if nothing is sent now
};

// As soon as one waiting event is due, every waiting event goes out with it (up to
// maxBatch), unless `perHour` messages already left within the last hour: then they wait for
// the oldest of those to be an hour old. `pending` is in queue order; `sentMs` holds the
// times of the messages already sent.
[[nodiscard]] DeliveryPlan PlanDelivery(const QList<PendingDelivery>& pending,
                                        const QList<qint64>& sentMs, qint64 nowMs,
                                        const DeliveryRules& rules);

// After a failed try at nowMs: when to try again, or nullopt to give up. `d` is the state
// before the try.
[[nodiscard]] std::optional<qint64> NextTry(const PendingDelivery& d, qint64 nowMs,
                                            const DeliveryRules& rules);

}  // namespace merival

#include "notify/DeliveryPlan.h"

#include <algorithm>

namespace merival {
namespace {

constexpr qint64 kHourMs = 3600000;

}  // namespace

DeliveryPlan PlanDelivery(const QList<PendingDelivery>& pending, const QList<qint64>& sentMs,
                          qint64 nowMs, const DeliveryRules& rules) {
    DeliveryPlan plan;
    if (pending.isEmpty()) {
        return plan;
    }
    qint64 firstDue = pending.first().nextMs;
    for (const PendingDelivery& d : pending) {
        firstDue = std::min(firstDue, d.nextMs);
    }
    QList<qint64> recent;
    for (qint64 t : sentMs) {
        if (t > nowMs - kHourMs) {
            recent.append(t);
        }
    }
    std::sort(recent.begin(), recent.end());
    const qsizetype perHour = std::max(rules.perHour, 1);
    const qint64 limitEnds =
        recent.size() >= perHour ? recent[recent.size() - perHour] + kHourMs : 0;
    if (firstDue > nowMs || limitEnds > nowMs) {
        plan.wakeMs = std::max(firstDue, limitEnds);
        return plan;
    }
    for (const PendingDelivery& d : pending) {
        if (plan.send.size() >= rules.maxBatch) {
            break;
        }
        plan.send.append(d.id);
    }
    return plan;
}

std::optional<qint64> NextTry(const PendingDelivery& d, qint64 nowMs, const DeliveryRules& rules) {
    const qint64 first = d.firstFailureMs > 0 ? d.firstFailureMs : nowMs;
    qint64 delay = rules.firstRetryMs;
    for (int i = 0; i < d.tries && delay < rules.maxRetryMs; ++i) {
        delay *= 2;
    }
    const qint64 next = nowMs + std::min(delay, rules.maxRetryMs);
    if (next - first > rules.giveUpMs) {
        return std::nullopt;
    }
    return next;
}

}  // namespace merival

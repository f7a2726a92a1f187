#include "diagnostics/ExchangeLog.h"

namespace merival {

ExchangeLog::ExchangeLog(qsizetype capacity, QObject* parent)
    : QObject(parent), ring_(static_cast<size_t>(std::max<qsizetype>(capacity, 1))) {}

void ExchangeLog::exchanged(const ExchangeRecord& record) {
    ExchangeEvent& slot = ring_[static_cast<size_t>(head_)];
    slot = MakeEvent(record, channel_);
    slot.seq = nextSeq_++;
    head_ = (head_ + 1) % capacity();
    count_ = std::min(count_ + 1, capacity());
    if (channel_ >= 0 && channel_ < kChannelCount) {
        Count(stats_[static_cast<size_t>(channel_)], slot);
    }
    Q_EMIT recorded(slot);
}

std::vector<ExchangeEvent> ExchangeLog::Since(quint64 seq) const {
    const quint64 oldest = nextSeq_ - static_cast<quint64>(count_);
    const quint64 from = std::max(seq + 1, oldest);
    std::vector<ExchangeEvent> events;
    if (from >= nextSeq_) {
        return events;
    }
    events.reserve(static_cast<size_t>(nextSeq_ - from));
    const qsizetype first = head_ - count_ + static_cast<qsizetype>(from - oldest);
    for (quint64 s = from; s < nextSeq_; ++s) {
        const qsizetype i = (first + static_cast<qsizetype>(s - from) + capacity()) % capacity();
        events.push_back(ring_[static_cast<size_t>(i)]);
    }
    return events;
}

void ExchangeLog::Clear() {
    for (ExchangeEvent& e : ring_) {
        e = {};
    }
    count_ = 0;
}

void ExchangeLog::ResetStats() {
    stats_ = {};
}

}  // namespace merival

#include "diagnostics/ExchangeLog.h"

namespace merival {

ExchangeLog::ExchangeLog(qsizetype capacity, QObject* parent)
    : QObject(parent), ring_(static_cast<size_t>(std::max<qsizetype>(capacity, 1))) {}

void ExchangeLog::exchanged(const ExchangeRecord& record) {
    QMutexLocker lock(&mutex_);
    ExchangeEvent& slot = ring_[static_cast<size_t>(head_)];
    slot = MakeEvent(record, channel_);
    slot.seq = nextSeq_++;
    head_ = (head_ + 1) % capacity();
    count_ = std::min(count_ + 1, capacity());
    if (channel_ >= 0 && channel_ < kChannelCount) {
        Count(stats_[static_cast<size_t>(channel_)], slot);
    }
    const ExchangeEvent event = slot;
    lock.unlock();
    Q_EMIT recorded(event);
}

void ExchangeLog::setChannel(int channel) {
    const QMutexLocker lock(&mutex_);
    channel_ = channel;
}

quint64 ExchangeLog::lastSeq() const {
    const QMutexLocker lock(&mutex_);
    return nextSeq_ - 1;
}

qsizetype ExchangeLog::size() const {
    const QMutexLocker lock(&mutex_);
    return count_;
}

quint64 ExchangeLog::amendments() const {
    const QMutexLocker lock(&mutex_);
    return amendments_;
}

std::array<ChannelStats, kChannelCount> ExchangeLog::stats() const {
    const QMutexLocker lock(&mutex_);
    return stats_;
}

std::vector<ExchangeEvent> ExchangeLog::Since(quint64 seq) const {
    const QMutexLocker lock(&mutex_);
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

void ExchangeLog::trailing(const QByteArray& bytes) {
    QMutexLocker lock(&mutex_);
    if (count_ == 0 || bytes.isEmpty()) {
        return;
    }
    ExchangeEvent& last = ring_[static_cast<size_t>((head_ - 1 + capacity()) % capacity())];
    if (last.expectedLength == 0 || last.replyLength < last.expectedLength) {
        return;
    }
    const ExchangeEvent before = last;
    last = WithTrailing(before, bytes);
    if (last.channel >= 0 && last.channel < kChannelCount && last.seq >= statsFrom_) {
        Recount(stats_[static_cast<size_t>(last.channel)], before, last);
    }
    constexpr size_t kAmendmentsKept = 64;
    if (amended_.size() == kAmendmentsKept) {
        amended_.erase(amended_.begin());
    }
    amended_.push_back(last.seq);
    ++amendments_;
    const ExchangeEvent event = last;
    lock.unlock();
    Q_EMIT amended(event);
}

std::vector<ExchangeEvent> ExchangeLog::AmendedSince(quint64 seen) const {
    const QMutexLocker lock(&mutex_);
    std::vector<ExchangeEvent> events;
    const auto fresh = static_cast<size_t>(
        std::min<quint64>(amendments_ - std::min(seen, amendments_), amended_.size()));
    for (size_t i = amended_.size() - fresh; i < amended_.size(); ++i) {
        if (const ExchangeEvent* e = Find(amended_[i])) {
            events.push_back(*e);
        }
    }
    return events;
}

const ExchangeEvent* ExchangeLog::Find(quint64 seq) const {
    if (seq < nextSeq_ - static_cast<quint64>(count_) || seq >= nextSeq_) {
        return nullptr;
    }
    const auto back = static_cast<qsizetype>(nextSeq_ - seq);  // 1: the newest
    return &ring_[static_cast<size_t>((head_ - back + capacity()) % capacity())];
}

void ExchangeLog::Clear() {
    const QMutexLocker lock(&mutex_);
    for (ExchangeEvent& e : ring_) {
        e = {};
    }
    count_ = 0;
}

void ExchangeLog::ResetStats() {
    const QMutexLocker lock(&mutex_);
    stats_ = {};
    statsFrom_ = nextSeq_;
}

}  // namespace merival

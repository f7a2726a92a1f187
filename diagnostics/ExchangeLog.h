#pragma once

#include <QObject>
#include <array>
#include <vector>

#include "config/AppInfo.h"
#include "diagnostics/Exchange.h"
#include "serial/ExchangeObserver.h"

namespace merival {

// The last exchanges of the line in a ring of fixed size, and the statistics per channel.
// Recording copies a few bytes and counts; nothing is formatted until someone looks.
class ExchangeLog : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    static constexpr qsizetype kCapacity = 10000;

    explicit ExchangeLog(qsizetype capacity = kCapacity, QObject* parent = nullptr);

    void exchanged(const ExchangeRecord& record) override;
    void trailing(const QByteArray& bytes) override;
    // The channel whose exchanges follow; -1 when none is being polled.
    void setChannel(int channel) { channel_ = channel; }

    // Events after `seq` still in the ring, oldest first.
    [[nodiscard]] std::vector<ExchangeEvent> Since(quint64 seq) const;
    [[nodiscard]] quint64 lastSeq() const { return nextSeq_ - 1; }
    [[nodiscard]] qsizetype size() const { return count_; }
    [[nodiscard]] qsizetype capacity() const { return static_cast<qsizetype>(ring_.size()); }
    // Forgets the events; the statistics stay.
    void Clear();

    // Exchanges changed after they were recorded, as they are now: the amendments after the
    // first `seen` ones (the latest few only).
    [[nodiscard]] std::vector<ExchangeEvent> AmendedSince(quint64 seen) const;
    [[nodiscard]] quint64 amendments() const { return amendments_; }

    [[nodiscard]] const std::array<ChannelStats, kChannelCount>& stats() const { return stats_; }
    void ResetStats();

Q_SIGNALS:
    void recorded(const merival::ExchangeEvent& event);
    // The last exchange recorded, changed: bytes trailed its reply.
    void amended(const merival::ExchangeEvent& event);

private:
    [[nodiscard]] const ExchangeEvent* Find(quint64 seq) const;

    std::vector<ExchangeEvent> ring_;
    qsizetype head_ = 0;  // where the next event goes
    qsizetype count_ = 0;
    quint64 nextSeq_ = 1;
    int channel_ = -1;
    std::array<ChannelStats, kChannelCount> stats_{};
    quint64 statsFrom_ = 1;  // the first seq the statistics count
    quint64 amendments_ = 0;
    std::vector<quint64> amended_;  // seqs of the latest amendments, oldest first
};

}  // namespace merival

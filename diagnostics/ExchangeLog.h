#pragma once

#include <QMutex>
#include <QObject>
#include <array>
#include <vector>

#include "config/AppInfo.h"
#include "diagnostics/Exchange.h"
#include "serial/ExchangeObserver.h"

namespace merival {

// The last exchanges of the line in a ring of fixed size, and the statistics per channel.
// Recording copies a few bytes and counts; nothing is formatted until someone looks.
// The line's engine records on its thread while windows read on theirs: every member function
// may be called from any thread.
class ExchangeLog : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    static constexpr qsizetype kCapacity = 10000;

    explicit ExchangeLog(qsizetype capacity = kCapacity, QObject* parent = nullptr);

    void exchanged(const ExchangeRecord& record) override;
    void trailing(const QByteArray& bytes) override;
    // The channel whose exchanges follow; -1 when none is being polled.
    void setChannel(int channel);

    // Events after `seq` still in the ring, oldest first.
    [[nodiscard]] std::vector<ExchangeEvent> Since(quint64 seq) const;
    [[nodiscard]] quint64 lastSeq() const;
    [[nodiscard]] qsizetype size() const;
    [[nodiscard]] qsizetype capacity() const { return static_cast<qsizetype>(ring_.size()); }
    // Forgets the events; the statistics stay.
    void Clear();

    // Exchanges changed after they were recorded, as they are now: the amendments after the
    // first `seen` ones (the latest few only).
    [[nodiscard]] std::vector<ExchangeEvent> AmendedSince(quint64 seen) const;
    [[nodiscard]] quint64 amendments() const;

    [[nodiscard]] std::array<ChannelStats, kChannelCount> stats() const;
    void ResetStats();

Q_SIGNALS:
    void recorded(const merival::ExchangeEvent& event);
    // The last exchange recorded, changed: bytes trailed its reply.
    void amended(const merival::ExchangeEvent& event);

private:
    [[nodiscard]] const ExchangeEvent* Find(quint64 seq) const;

    mutable QMutex mutex_;
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

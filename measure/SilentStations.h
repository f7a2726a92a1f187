#pragma once

#include <QtGlobal>
#include <array>

#include "config/AppInfo.h"

namespace merival {

// Which channels a pass asks. After `passes` consecutive unanswered exchanges a channel's
// station is asked only once per interval, so that a dead station no longer holds up the
// others; its first answer puts it back in every pass. When no station answered in the last
// pass (the line itself is down, or back), every station is asked. Times are milliseconds of a
// steady clock. A channel given another station starts afresh.
class SilentStations {
public:
    // passes 0: every channel is asked on every pass.
    void setLimits(int passes, qint64 intervalMs) {
        passes_ = passes;
        intervalMs_ = intervalMs;
    }
    [[nodiscard]] bool enabled() const { return passes_ > 0; }
    void StartPass() {
        answeredLastPass_ = answeredThisPass_;
        answeredThisPass_ = false;
    }
    [[nodiscard]] bool answeredThisPass() const { return answeredThisPass_; }
    [[nodiscard]] bool ShouldAsk(int channel, double address, int block, qint64 nowMs) const;
    // The station has missed enough exchanges to be asked only once per interval.
    [[nodiscard]] bool Lost(int channel, double address, int block) const;
    // The outcome of an exchange that started at startMs.
    void Record(int channel, double address, int block, bool answered, qint64 startMs);

private:
    struct Station {
        double address = -1;
        int block = -1;
        int misses = 0;
        qint64 lastTryMs = 0;
    };

    int passes_ = 0;
    qint64 intervalMs_ = 10000;
    std::array<Station, kChannelCount> stations_{};
    bool answeredLastPass_ = false;
    bool answeredThisPass_ = false;
};

}  // namespace merival

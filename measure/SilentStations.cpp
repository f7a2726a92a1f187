#include "measure/SilentStations.h"

namespace merival {

bool SilentStations::ShouldAsk(int channel, double address, int block, qint64 nowMs) const {
    if (passes_ <= 0 || channel < 0 || channel >= kChannelCount) {
        return true;
    }
    const Station& s = stations_[channel];
    if (s.address != address || s.block != block || s.misses < passes_) {
        return true;
    }
    return nowMs - s.lastTryMs >= intervalMs_;
}

void SilentStations::Record(int channel, double address, int block, bool answered, qint64 startMs) {
    if (channel < 0 || channel >= kChannelCount) {
        return;
    }
    Station& s = stations_[channel];
    if (s.address != address || s.block != block) {
        s = Station{address, block, 0, 0};
    }
    s.misses = answered ? 0 : s.misses + 1;
    s.lastTryMs = startMs;
}

}  // namespace merival

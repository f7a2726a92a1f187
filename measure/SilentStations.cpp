#include "measure/SilentStations.h"

namespace merival {
namespace {

// Ticks jitter by a few milliseconds: a try due on a tick is not put off to the next one.
constexpr qint64 kEarlyMs = 250;

}  // namespace

bool SilentStations::Lost(int channel, double address, int block) const {
    if (passes_ <= 0 || channel < 0 || channel >= kChannelCount) {
        return false;
    }
    const Station& s = stations_[channel];
    return s.address == address && s.block == block && s.misses >= passes_;
}

bool SilentStations::ShouldAsk(int channel, double address, int block, qint64 nowMs) const {
    return !answeredLastPass_ || !Lost(channel, address, block) ||
           nowMs - stations_[channel].lastTryMs + kEarlyMs >= intervalMs_;
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
    answeredThisPass_ = answeredThisPass_ || answered;
    s.lastTryMs = startMs;
}

}  // namespace merival

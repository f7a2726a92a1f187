#pragma once

#include <QDateTime>
#include <QString>

#include "measure/ChannelReading.h"

class QSettings;

namespace merival {

// What one line's pass ended with: the line and when (UTC).
struct PassEnd {
    int line = 0;
    QDateTime time;
};

// Something that watches the measurement: history, alarms, publishing, diagnostics, the web
// view, notifications. The desktop program and merival-poll build the same list of them.
//
// Threads: readSettings, start and stop are called on the thread that owns the capability
// (the window thread on the desktop). takeReading and passFinished are called on the engine
// thread, in the order the line produced them: they must be quick, bounded and never wait on
// a disk, a network, a child process or the window thread (hand the work to a thread or a
// queue of your own).
class Capability {
public:
    virtual ~Capability() = default;

    // Its section of merival.ini; called before start and again when the settings change.
    virtual void readSettings(const QSettings& ini) = 0;
    // start: begin taking readings. stop: let go of what it holds (links, threads, files);
    // it must not block the window thread for long, and may be called without start.
    virtual void start() = 0;
    virtual void stop() = 0;

    virtual void takeReading(const ChannelReading& reading) = 0;
    virtual void passFinished(const PassEnd& pass) = 0;
};

}  // namespace merival

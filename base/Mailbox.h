#pragma once

#include <QObject>
#include <QThread>
#include <deque>
#include <functional>
#include <mutex>

namespace merival {

// Calls handed from any thread to the thread this object lives on, run there in order. They
// wait under our own lock and Qt's event queue carries only a wake-up by name: the thread
// sanitizer sees the hand-over, which it cannot inside Qt. Calls still waiting when the mailbox
// goes are dropped, as queued calls to a deleted object are.
class Mailbox : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void Post(std::function<void()> call);
    // Runs the call on the mailbox's thread and waits for its end, which is then seen by the
    // caller: the replacement for a blocking queued call.
    void Call(const std::function<void()>& call);

private:
    Q_INVOKABLE void Drain();

    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
};

// Starts the thread and returns once it runs. The wait goes through our own lock, so that what
// Qt set up there first (the thread's event dispatcher) is seen by the thread sanitizer as done
// before the caller's next call into it.
void StartThread(QThread& thread);

}  // namespace merival

#include "base/Mailbox.h"

#include <QThread>
#include <condition_variable>

namespace merival {

void Mailbox::Post(std::function<void()> call) {
    // The wake-up is posted under the lock too: a call that ends the mailbox's thread (and
    // deletes the mailbox there) cannot run before this one is done with the mailbox.
    const std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

void Mailbox::Call(const std::function<void()>& call) {
    if (thread() == QThread::currentThread()) {
        call();
        return;
    }
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    Post([&] {
        call();
        const std::lock_guard lock(mutex);
        done = true;
        ended.notify_all();
    });
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return done; });
}

void StartThread(QThread& thread) {
    std::mutex mutex;
    std::condition_variable running;
    bool started = false;
    const QMetaObject::Connection connection = QObject::connect(
        &thread, &QThread::started, &thread,
        [&] {
            const std::lock_guard lock(mutex);
            started = true;
            running.notify_all();
        },
        Qt::DirectConnection);
    thread.start();
    {
        std::unique_lock lock(mutex);
        running.wait(lock, [&] { return started; });
    }
    QObject::disconnect(connection);
}

void Mailbox::Drain() {
    std::deque<std::function<void()>> calls;
    {
        const std::lock_guard lock(mutex_);
        calls.swap(calls_);
    }
    for (const auto& call : calls) {
        call();
    }
}

}  // namespace merival

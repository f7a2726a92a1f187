#include "base/Mailbox.h"

namespace merival {

void Mailbox::Post(std::function<void()> call) {
    {
        const std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
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

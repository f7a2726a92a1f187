#include "base/Mailbox.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <thread>
#include <vector>

namespace merival {
namespace {

// Calls posted from a third thread run on the mailbox's thread, all and in order; Call waits
// for its call, and what the calls did is then seen by the caller.
TEST(Mailbox, CallsFromAnyThreadRunOnItsThreadInOrder) {
    QThread thread;
    Mailbox box;
    box.moveToThread(&thread);
    StartThread(thread);
    std::vector<int> order;
    std::vector<QThread*> ranOn;
    std::thread poster([&] {
        for (int i = 0; i < 200; ++i) {
            box.Post([&, i] {
                order.push_back(i);
                ranOn.push_back(QThread::currentThread());
            });
        }
    });
    poster.join();
    box.Call([&] { ranOn.push_back(QThread::currentThread()); });
    ASSERT_EQ(order.size(), 200u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(std::count(ranOn.begin(), ranOn.end(), &thread), 201);
    thread.quit();
    thread.wait();
}

// On its own thread a Call runs at once (no wait on itself), a Post at the next turn of the
// event loop, and a mailbox deleted before that turn drops what it held.
TEST(Mailbox, OnItsOwnThreadCallRunsAtOncePostLaterAndDeletionDrops) {
    int called = 0;
    int posted = 0;
    {
        Mailbox box;
        box.Call([&] { ++called; });
        EXPECT_EQ(called, 1);
        box.Post([&] { ++posted; });
        EXPECT_EQ(posted, 0);
        QCoreApplication::processEvents();
        EXPECT_EQ(posted, 1);
        box.Post([&] { ++posted; });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(posted, 1);
}

}  // namespace
}  // namespace merival

#include "platform/PollEventLoop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace {

TEST(PollEventLoop, TasksPostedFromOtherThreadsRunOnTheLoopThreadInOrder) {
    PollEventLoop loop;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            loop.Post([&, i] {
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
        }
        loop.Post([&] { loop.Quit(); });
    });
    loop.Run();
    poster.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    for (const auto& id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(PollEventLoop, QuitFromAnotherThreadWakesABlockedRun) {
    PollEventLoop loop;
    std::thread quitter([&] { loop.Quit(); });
    loop.Run();  // returns only because of the Quit
    quitter.join();
    SUCCEED();
}

TEST(PollEventLoop, PumpOneHandlesOneEventAndNeverBlocks) {
    PollEventLoop loop;
    EXPECT_FALSE(loop.PumpOne());
    int ran = 0;
    loop.Post([&] { ++ran; });
    loop.Post([&] { ++ran; });
    EXPECT_TRUE(loop.PumpOne());
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(loop.PumpOne());
    EXPECT_FALSE(loop.PumpOne());
    EXPECT_EQ(ran, 2);
}

TEST(PollEventLoop, WatchesFollowTheirInterestAndMayRemoveThemselves) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    PollEventLoop loop;
    std::vector<unsigned> seen;
    EventLoop::WatchId id = 0;
    id = loop.WatchSocket(fds[0], EventLoop::Readable, [&](unsigned readiness) {
        seen.push_back(readiness);
        char byte;
        [[maybe_unused]] ssize_t n = ::read(fds[0], &byte, 1);
        loop.Unwatch(id);
    });
    EXPECT_EQ(loop.RunFor(0), 0u) << "not readable, and writability was not asked for";
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_EQ(::write(fds[1], "y", 1), 1);
    EXPECT_EQ(loop.RunFor(1000), 1u);
    EXPECT_EQ(loop.WatchCount(), 0u);
    EXPECT_EQ(loop.RunFor(0), 0u);  // the second byte no longer reaches anyone
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], unsigned{EventLoop::Readable});

    const auto writable = loop.WatchSocket(fds[0], 0, [&](unsigned r) { seen.push_back(r); });
    EXPECT_EQ(loop.RunFor(0), 0u);
    loop.SetInterest(writable, EventLoop::Writable);
    EXPECT_TRUE(loop.PumpOne());
    EXPECT_EQ(seen.back(), unsigned{EventLoop::Writable});
    loop.Unwatch(writable);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace

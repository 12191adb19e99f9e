// The GTK event loop (posts from other threads, socket watches, Quit before and during Run)
// and the click sound.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "gtk/ClickSound.h"
#include "gtk/GtkEventLoop.h"

namespace {

TEST(GtkEventLoop, PostsFromWorkersRunInOrderOnTheLoopThread) {
    GtkEventLoop loop;
    std::vector<int> order;
    const auto gui = std::this_thread::get_id();
    bool onGui = true;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            loop.Post([&, i] {
                order.push_back(i);
                onGui = onGui && std::this_thread::get_id() == gui;
                if (i == 49) loop.Quit();
            });
        }
    });
    loop.Run();
    worker.join();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(onGui);
}

TEST(GtkEventLoop, QuitBeforeRunReturnsAtOnce) {
    GtkEventLoop loop;
    loop.Quit();
    loop.Run();  // must not block
    SUCCEED();
}

TEST(GtkEventLoop, SocketWatchSeesDataAndCanRemoveItselfFromItsCallback) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    GtkEventLoop loop;
    int calls = 0;
    unsigned seen = 0;
    EventLoop::WatchId id = 0;
    id = loop.WatchSocket(fds[0], EventLoop::Readable, [&](unsigned readiness) {
        ++calls;
        seen = readiness;
        char buffer[8];
        (void)::read(fds[0], buffer, sizeof buffer);
        loop.Unwatch(id);
        loop.Quit();
    });
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    loop.Run();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(seen & EventLoop::Readable);
    // Nothing fires after Unwatch, even with more data waiting.
    ASSERT_EQ(::write(fds[1], "y", 1), 1);
    for (int i = 0; i < 20; ++i) loop.PumpOne();
    EXPECT_EQ(calls, 1);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(GtkEventLoop, InterestChangesTakeEffect) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    GtkEventLoop loop;
    unsigned seen = 0;
    const auto id = loop.WatchSocket(fds[0], EventLoop::Readable, [&](unsigned readiness) {
        seen |= readiness;
        loop.Quit();
    });
    loop.SetInterest(id, EventLoop::Writable);  // a fresh socket is writable at once
    loop.Run();
    EXPECT_TRUE(seen & EventLoop::Writable);
    loop.Unwatch(id);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace

namespace {

// The click must never block or fail the caller: a missing file plays nothing, and a real one
// plays (or, without a sound device here, quietly does not).
TEST(ClickSound, PlaysAsynchronouslyOrNotAtAll) {
    const char* before = std::getenv("TORVANE_SOUND");
    const std::string saved = before ? before : "";
    ::unsetenv("TORVANE_SOUND");
    ClickSound::Play("/nonexistent/data/sound/beep.wav");
    const auto beep = std::filesystem::path(TORVANE_BINARY_DIR) / "assets/data/sound/beep.wav";
    if (std::filesystem::exists(beep)) {
        for (int i = 0; i < 3; ++i) ClickSound::Play(beep);
        GtkEventLoop loop;
        for (int i = 0; i < 200; ++i) loop.PumpOne();  // lets the pipelines end or fail
    }
    if (before) ::setenv("TORVANE_SOUND", saved.c_str(), 1);
    SUCCEED();
}

}  // namespace

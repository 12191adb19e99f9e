#pragma once
// The GUI thread's event loop on top of GLib's main context, for the window front end:
// socket watches are GLib I/O watches, posted closures run from idle callbacks (GLib's idle
// queue is safe to add to from any thread), PumpOne runs one main-context iteration without
// blocking, Run is a main loop of its own that Quit ends from any thread.

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include <glibmm/main.h>

#include "platform/EventLoop.h"

class GtkEventLoop : public EventLoop {
public:
    GtkEventLoop();
    ~GtkEventLoop() override;
    GtkEventLoop(const GtkEventLoop&) = delete;
    GtkEventLoop& operator=(const GtkEventLoop&) = delete;

    WatchId WatchSocket(int fd, unsigned interest, SocketCallback callback) override;
    void SetInterest(WatchId id, unsigned interest) override;
    void Unwatch(WatchId id) override;
    void Post(std::function<void()> task) override;
    bool PumpOne() override;
    void Run() override;
    void Quit() override;

private:
    struct Watch {
        int Fd = -1;
        unsigned Interest = 0;
        std::shared_ptr<SocketCallback> Callback;
        std::shared_ptr<bool> Alive;
        sigc::connection Connection;
    };
    // Shared with the idle callbacks, which may outlive the loop object by a moment.
    struct PostQueue {
        std::mutex Mutex;
        std::deque<std::function<void()>> Tasks;
        bool Closed = false;
    };

    void Connect(WatchId id, Watch& watch);
    static int RunOnePosted(void* data);
    static void ReleaseQueue(void* data);

    std::map<WatchId, Watch> watches_;
    WatchId nextId_ = 1;
    std::shared_ptr<PostQueue> queue_ = std::make_shared<PostQueue>();
    std::mutex loopMutex_;
    GMainLoop* running_ = nullptr;
    std::atomic<bool> quitPending_{false};
};

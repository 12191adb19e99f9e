#pragma once
// EventLoop on top of poll(): the terminal front end, the tools and the tests run the GUI
// thread's events with it. Posted tasks wake the loop through an eventfd, so Post() and Quit()
// are safe from any thread; everything else belongs to the thread that calls Run()/PumpOne().

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/EventLoop.h"

class PollEventLoop final : public EventLoop {
public:
    PollEventLoop();
    ~PollEventLoop() override;
    PollEventLoop(const PollEventLoop&) = delete;
    PollEventLoop& operator=(const PollEventLoop&) = delete;

    WatchId WatchSocket(int fd, unsigned interest, SocketCallback callback) override;
    void SetInterest(WatchId id, unsigned interest) override;
    void Unwatch(WatchId id) override;

    void Post(std::function<void()> task) override;

    bool PumpOne() override;
    void Run() override;
    void Quit() override;

    // Handles pending events, waiting at most `timeoutMs` (-1: no limit) for the first one.
    // Returns the number handled. For callers that drive the loop themselves.
    std::size_t RunFor(int timeoutMs);

    std::size_t WatchCount() const { return watches_.size(); }

private:
    struct Watch {
        int Fd = -1;
        unsigned Interest = 0;
        SocketCallback Callback;
    };
    struct Ready {
        WatchId Id = 0;
        unsigned Readiness = 0;
    };

    bool RunOnePostedTask();
    bool QuitRequested();
    void DrainWakeCounter();
    // Polls the watches (and the wake descriptor); fills `ready` in a rotating order.
    void PollWatches(int timeoutMs, std::vector<Ready>& ready);
    void Deliver(const Ready& ready);

    int wakeFd_ = -1;
    std::map<WatchId, Watch> watches_;
    WatchId nextId_ = 1;
    std::size_t rotation_ = 0;

    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;
    bool quit_ = false;  // guarded by postedMutex_
};

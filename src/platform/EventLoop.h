#pragma once
// The GUI thread's event source, as the core sees it.
//
// The launcher's core runs nearly everything on one thread (the GUI thread): socket events,
// the FTP session, file restoring. Long work on that thread calls PumpOne() after each unit
// of work so that button handlers still run, re-entrantly. Worker threads never touch the
// window: they Post() a closure that runs later on the GUI thread.
//
// Front ends supply the implementation: the window front end on top of the toolkit's main
// loop, the terminal front end and the tests with PollEventLoop (a poll() loop).

#include <cstdint>
#include <functional>

class EventLoop {
public:
    // Readiness bits handed to a socket watch callback.
    enum Readiness : unsigned { Readable = 1u, Writable = 2u, Hangup = 4u, Error = 8u };

    using WatchId = std::uint64_t;
    // Runs on the GUI thread with the readiness bits that were seen.
    using SocketCallback = std::function<void(unsigned readiness)>;

    virtual ~EventLoop() = default;

    // GUI thread. Calls `callback` whenever `fd` is ready for any of `interest` (Readable
    // and/or Writable); Hangup and Error are always reported. The watch lasts until Unwatch.
    virtual WatchId WatchSocket(int fd, unsigned interest, SocketCallback callback) = 0;
    // GUI thread. Changes what a watch waits for (e.g. Writable only while data is queued).
    virtual void SetInterest(WatchId id, unsigned interest) = 0;
    // GUI thread. Safe from inside the watch's own callback.
    virtual void Unwatch(WatchId id) = 0;

    // Any thread. Queues `task` to run on the GUI thread in posting order.
    virtual void Post(std::function<void()> task) = 0;

    // GUI thread. Handles at most one pending event (a ready socket or a posted task) without
    // blocking. Returns true when something was handled.
    virtual bool PumpOne() = 0;

    // GUI thread. Runs events until Quit() is called (from a handler or, via Post, elsewhere).
    virtual void Run() = 0;
    // Any thread. Makes Run() return once the current event has been handled.
    virtual void Quit() = 0;
};

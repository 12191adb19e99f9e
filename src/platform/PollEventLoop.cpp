#include "platform/PollEventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace {

short PollEventsFor(unsigned interest) {
    short events = 0;
    if (interest & EventLoop::Readable) events |= POLLIN;
    if (interest & EventLoop::Writable) events |= POLLOUT;
    return events;
}

unsigned ReadinessOf(short revents) {
    unsigned readiness = 0;
    if (revents & POLLIN) readiness |= EventLoop::Readable;
    if (revents & POLLOUT) readiness |= EventLoop::Writable;
    if (revents & POLLHUP) readiness |= EventLoop::Hangup;
    if (revents & (POLLERR | POLLNVAL)) readiness |= EventLoop::Error;
    return readiness;
}

}  // namespace

PollEventLoop::PollEventLoop() {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) throw std::runtime_error("eventfd failed");
}

PollEventLoop::~PollEventLoop() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

EventLoop::WatchId PollEventLoop::WatchSocket(int fd, unsigned interest, SocketCallback callback) {
    const WatchId id = nextId_++;
    watches_[id] = Watch{fd, interest, std::move(callback)};
    return id;
}

void PollEventLoop::SetInterest(WatchId id, unsigned interest) {
    auto it = watches_.find(id);
    if (it != watches_.end()) it->second.Interest = interest;
}

void PollEventLoop::Unwatch(WatchId id) {
    watches_.erase(id);
}

void PollEventLoop::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    // A full counter still leaves the descriptor readable, so a failed write loses nothing.
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void PollEventLoop::Quit() {
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        quit_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

bool PollEventLoop::RunOnePostedTask() {
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        if (posted_.empty()) return false;
        task = std::move(posted_.front());
        posted_.pop_front();
    }
    task();
    return true;
}

void PollEventLoop::DrainWakeCounter() {
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
}

void PollEventLoop::PollWatches(int timeoutMs, std::vector<Ready>& ready) {
    std::vector<pollfd> fds;
    std::vector<WatchId> ids;
    fds.reserve(watches_.size() + 1);
    ids.reserve(watches_.size());
    fds.push_back(pollfd{wakeFd_, POLLIN, 0});
    for (const auto& [id, watch] : watches_) {
        fds.push_back(pollfd{watch.Fd, PollEventsFor(watch.Interest), 0});
        ids.push_back(id);
    }
    int n;
    do {
        n = ::poll(fds.data(), fds.size(), timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    if (fds[0].revents & POLLIN) DrainWakeCounter();
    // Start at a rotating offset so one busy socket cannot starve the others in PumpOne.
    const std::size_t count = ids.size();
    if (count == 0) return;
    const std::size_t start = rotation_++ % count;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = (start + k) % count;
        const unsigned readiness = ReadinessOf(fds[i + 1].revents);
        if (readiness != 0) ready.push_back(Ready{ids[i], readiness});
    }
}

void PollEventLoop::Deliver(const Ready& ready) {
    auto it = watches_.find(ready.Id);
    if (it == watches_.end()) return;  // unwatched by an earlier callback of this round
    const unsigned wanted = it->second.Interest | Hangup | Error;
    const unsigned readiness = ready.Readiness & wanted;
    if (readiness == 0) return;
    // The callback may unwatch itself; keep our own copy alive while it runs.
    SocketCallback callback = it->second.Callback;
    callback(readiness);
}

bool PollEventLoop::PumpOne() {
    if (RunOnePostedTask()) return true;
    std::vector<Ready> ready;
    PollWatches(0, ready);
    if (RunOnePostedTask()) return true;
    for (const Ready& r : ready) {
        if (watches_.count(r.Id) != 0) {
            Deliver(r);
            return true;
        }
    }
    return false;
}

bool PollEventLoop::QuitRequested() {
    std::lock_guard<std::mutex> lock(postedMutex_);
    return quit_;
}

std::size_t PollEventLoop::RunFor(int timeoutMs) {
    std::size_t handled = 0;
    while (!QuitRequested() && RunOnePostedTask()) ++handled;
    if (QuitRequested()) return handled;
    std::vector<Ready> ready;
    PollWatches(handled != 0 ? 0 : timeoutMs, ready);
    for (const Ready& r : ready) {
        if (QuitRequested()) return handled;
        if (watches_.count(r.Id) == 0) continue;
        Deliver(r);
        ++handled;
    }
    while (!QuitRequested() && RunOnePostedTask()) ++handled;
    return handled;
}

void PollEventLoop::Run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(postedMutex_);
            if (quit_) {
                quit_ = false;
                return;
            }
        }
        RunFor(-1);
    }
}

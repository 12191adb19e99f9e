#include "gtk/GtkEventLoop.h"

#include <glib.h>

GtkEventLoop::GtkEventLoop() = default;

GtkEventLoop::~GtkEventLoop() {
    for (auto& [id, watch] : watches_) {
        *watch.Alive = false;
        watch.Connection.disconnect();
    }
    std::lock_guard<std::mutex> lock(queue_->Mutex);
    queue_->Closed = true;
    queue_->Tasks.clear();
}

void GtkEventLoop::Connect(WatchId id, Watch& watch) {
    Glib::IOCondition condition = Glib::IO_HUP | Glib::IO_ERR;
    if (watch.Interest & Readable) condition |= Glib::IO_IN | Glib::IO_PRI;
    if (watch.Interest & Writable) condition |= Glib::IO_OUT;
    auto callback = watch.Callback;
    auto alive = watch.Alive;
    (void)id;
    watch.Connection = Glib::signal_io().connect(
        [callback, alive](Glib::IOCondition seen) {
            unsigned readiness = 0;
            if (seen & (Glib::IO_IN | Glib::IO_PRI)) readiness |= Readable;
            if (seen & Glib::IO_OUT) readiness |= Writable;
            if (seen & Glib::IO_HUP) readiness |= Hangup;
            if (seen & (Glib::IO_ERR | Glib::IO_NVAL)) readiness |= Error;
            // The callback and flag are held here: Unwatch from inside must not free them.
            auto keepCallback = callback;
            auto keepAlive = alive;
            (*keepCallback)(readiness);
            return *keepAlive;
        },
        watch.Fd, condition, Glib::PRIORITY_DEFAULT);
}

EventLoop::WatchId GtkEventLoop::WatchSocket(int fd, unsigned interest, SocketCallback callback) {
    const WatchId id = nextId_++;
    Watch& watch = watches_[id];
    watch.Fd = fd;
    watch.Interest = interest;
    watch.Callback = std::make_shared<SocketCallback>(std::move(callback));
    watch.Alive = std::make_shared<bool>(true);
    Connect(id, watch);
    return id;
}

void GtkEventLoop::SetInterest(WatchId id, unsigned interest) {
    auto it = watches_.find(id);
    if (it == watches_.end() || it->second.Interest == interest) return;
    Watch& watch = it->second;
    *watch.Alive = false;
    watch.Connection.disconnect();
    watch.Interest = interest;
    watch.Alive = std::make_shared<bool>(true);
    Connect(id, watch);
}

void GtkEventLoop::Unwatch(WatchId id) {
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    *it->second.Alive = false;
    it->second.Connection.disconnect();
    watches_.erase(it);
}

void GtkEventLoop::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(queue_->Mutex);
        if (queue_->Closed) return;
        queue_->Tasks.push_back(std::move(task));
    }
    // One idle source per task, each holding the queue alive until it has run.
    g_idle_add_full(G_PRIORITY_DEFAULT, &GtkEventLoop::RunOnePosted,
                    new std::shared_ptr<PostQueue>(queue_), &GtkEventLoop::ReleaseQueue);
}

int GtkEventLoop::RunOnePosted(void* data) {
    auto& queue = *static_cast<std::shared_ptr<PostQueue>*>(data);
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(queue->Mutex);
        if (queue->Closed || queue->Tasks.empty()) return G_SOURCE_REMOVE;
        task = std::move(queue->Tasks.front());
        queue->Tasks.pop_front();
    }
    if (task) task();
    return G_SOURCE_REMOVE;
}

void GtkEventLoop::ReleaseQueue(void* data) {
    delete static_cast<std::shared_ptr<PostQueue>*>(data);
}

bool GtkEventLoop::PumpOne() {
    // One iteration: it polls, and dispatches what is ready (a separate pending check first
    // would poll twice).
    return g_main_context_iteration(nullptr, FALSE);
}

void GtkEventLoop::Run() {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    {
        std::lock_guard<std::mutex> lock(loopMutex_);
        if (quitPending_.exchange(false)) {
            g_main_loop_unref(loop);
            return;
        }
        running_ = loop;
    }
    g_main_loop_run(loop);
    {
        std::lock_guard<std::mutex> lock(loopMutex_);
        running_ = nullptr;
    }
    g_main_loop_unref(loop);
}

void GtkEventLoop::Quit() {
    std::lock_guard<std::mutex> lock(loopMutex_);
    if (running_) {
        g_main_loop_quit(running_);  // safe from any thread
    } else {
        quitPending_ = true;
    }
}

// Serial work queues on GLib main contexts.
//
// Contract:
// - post() and postAfter() may be called from any thread. Work posted to one
//   queue runs one item at a time, in the order it became due, on the queue's
//   own thread (a SerialQueue) or on the thread that runs the default main
//   context (the MainQueue).
// - postAfter() returns a handle; cancel() through it guarantees the work will
//   not start afterwards (work already running finishes).
// - pendingCount() counts work posted and not yet finished, timers included,
//   so that a caller can tell when a queue has gone quiet.
// - A SerialQueue's destructor stops its thread after the item that is running;
//   items still queued are dropped.
#pragma once

#include <glib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tessivo {

class QueueTimer;

class Queue {
public:
    virtual ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    const std::string& label() const { return label_; }

    // Any thread.
    void post(std::function<void()> work);
    // Any thread. Runs `work` `seconds` later on this queue.
    std::shared_ptr<QueueTimer> postAfter(double seconds, std::function<void()> work);

    virtual bool isCurrent() const = 0;
    int pendingCount() const { return pending_->load(); }

protected:
    Queue(std::string label, GMainContext* context);
    GMainContext* context() const { return context_; }

private:
    friend class QueueTimer;
    static gboolean runItem(gpointer data);
    std::string label_;
    GMainContext* context_;  // owned by the subclass
    std::shared_ptr<std::atomic<int>> pending_ = std::make_shared<std::atomic<int>>(0);
};

// A delayed item of a queue; cancel() from any thread.
class QueueTimer {
public:
    void cancel();
    ~QueueTimer();
    struct State;

private:
    friend class Queue;
    std::shared_ptr<State> state_;
};

// The program's main thread: the default main context (GTK's main loop, or the
// loop the headless commands run).
class MainQueue final : public Queue {
public:
    MainQueue();
    ~MainQueue() override = default;
    bool isCurrent() const override;

private:
    std::thread::id owner_;
};

// One thread running its own GMainContext.
class SerialQueue final : public Queue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue() override;
    bool isCurrent() const override;

private:
    struct Owned;
    static GMainContext* makeContext();
    GMainLoop* loop_ = nullptr;
    std::thread thread_;
};

// Runs the default main context until `done` returns true (checked after each
// dispatch and at least every `pollSeconds`). For headless commands and tests.
void runMainContextUntil(const std::function<bool()>& done, double pollSeconds = 0.01);

}  // namespace tessivo

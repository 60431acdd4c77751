#include "platform/queue.h"

#include "platform/glib_ptr.h"

#include <mutex>

namespace tessivo {

// State shared by a posted item's GSource callback and its cancel handle. The
// `settled` flag makes "ran" and "cancelled" mutually exclusive, so the
// queue's pending count goes down exactly once for each item.
struct QueueTimer::State {
    // Shared with the queue: an item may still run on the default main context
    // after the MainQueue object that posted it is gone.
    std::shared_ptr<std::atomic<int>> pending;
    std::function<void()> work;
    std::mutex mutex;
    bool settled = false;
    GSource* source = nullptr;  // owned reference, released when settled
};

namespace {

}  // namespace

gboolean Queue::runItem(gpointer data) {
    auto* holder = static_cast<std::shared_ptr<QueueTimer::State>*>(data);
    auto state = *holder;
    {
        std::lock_guard lock(state->mutex);
        if (state->settled) return G_SOURCE_REMOVE;
        state->settled = true;
    }
    auto work = std::move(state->work);
    if (work) work();
    state->pending->fetch_sub(1);
    return G_SOURCE_REMOVE;
}

namespace {

void destroyHolder(gpointer data) {
    delete static_cast<std::shared_ptr<QueueTimer::State>*>(data);
}

}  // namespace

Queue::Queue(std::string label, GMainContext* context)
    : label_(std::move(label)), context_(context) {}

Queue::~Queue() = default;

void Queue::post(std::function<void()> work) {
    postAfter(0, std::move(work));
}

std::shared_ptr<QueueTimer> Queue::postAfter(double seconds, std::function<void()> work) {
    auto state = std::make_shared<QueueTimer::State>();
    state->pending = pending_;
    state->work = std::move(work);
    pending_->fetch_add(1);

    GSource* source = seconds > 0 ? g_timeout_source_new(static_cast<guint>(seconds * 1000.0 + 0.5))
                                  : g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runItem, new std::shared_ptr<QueueTimer::State>(state), destroyHolder);
    state->source = source;
    g_source_attach(source, context_);

    auto timer = std::make_shared<QueueTimer>();
    timer->state_ = state;
    return timer;
}

void QueueTimer::cancel() {
    if (!state_) return;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->settled) return;
        state_->settled = true;
    }
    g_source_destroy(state_->source);
    state_->work = nullptr;
    state_->pending->fetch_sub(1);
}

QueueTimer::~QueueTimer() {
    // The handle going away does not cancel the work: the attached GSource keeps
    // its own reference to the state. Only the creation reference is released.
    if (state_ && state_->source) {
        g_source_unref(std::exchange(state_->source, nullptr));
    }
}

MainQueue::MainQueue() : Queue("main", g_main_context_default()), owner_(std::this_thread::get_id()) {}

bool MainQueue::isCurrent() const { return std::this_thread::get_id() == owner_; }

GMainContext* SerialQueue::makeContext() { return g_main_context_new(); }

SerialQueue::SerialQueue(std::string label) : Queue(std::move(label), makeContext()) {
    loop_ = g_main_loop_new(context(), FALSE);
    thread_ = std::thread([this] {
        g_main_context_push_thread_default(context());
        g_main_loop_run(loop_);
        g_main_context_pop_thread_default(context());
    });
}

SerialQueue::~SerialQueue() {
    // Quit from inside the loop so that the item that is running finishes first.
    GMainLoop* loop = loop_;
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_HIGH);
    g_source_set_callback(source, [](gpointer l) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return G_SOURCE_REMOVE;
    }, loop, nullptr);
    g_source_attach(source, context());
    g_source_unref(source);
    if (thread_.joinable()) thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context());
}

bool SerialQueue::isCurrent() const { return g_main_context_is_owner(context()); }

void runMainContextUntil(const std::function<bool()>& done, double pollSeconds) {
    GMainContext* ctx = g_main_context_default();
    // A periodic wake-up so that `done` is checked even when nothing is dispatched.
    guint interval = static_cast<guint>(pollSeconds * 1000.0 + 0.5);
    if (interval == 0) interval = 1;
    guint id = g_timeout_add(interval, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done()) g_main_context_iteration(ctx, TRUE);
    g_source_remove(id);
}

}  // namespace tessivo

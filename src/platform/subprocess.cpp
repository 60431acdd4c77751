#include "platform/subprocess.h"

#include <gio/gunixinputstream.h>
#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace tessivo {

namespace {

// In the child, between fork and exec: only async-signal-safe calls.
void leadOwnProcessGroup(gpointer) { ::setpgid(0, 0); }

// One output pipe of the child, read on the thread that runs communicate().
struct PipeReader {
    int fd = -1;
    std::string* text = nullptr;
    bool open = false;
    GUniquePtr<GSource> source;

    void start(GInputStream* stream, std::string* into, GMainContext* context) {
        if (!stream || !G_IS_UNIX_INPUT_STREAM(stream)) return;
        fd = g_unix_input_stream_get_fd(G_UNIX_INPUT_STREAM(stream));
        g_unix_set_fd_nonblocking(fd, TRUE, nullptr);
        text = into;
        open = true;
        source.reset(g_unix_fd_source_new(fd, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR)));
        g_source_set_callback(source.get(), G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer data) -> gboolean {
            return static_cast<PipeReader*>(data)->readSome();
        }), this, nullptr);
        g_source_attach(source.get(), context);
    }

    // One read a wake-up, so that the other pipe and the exit get their turn.
    gboolean readSome() {
        char buffer[65536];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                text->append(buffer, static_cast<std::size_t>(n));
                return G_SOURCE_CONTINUE;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return G_SOURCE_CONTINUE;
            open = false;  // end of the stream, or an error that ends it
            return G_SOURCE_REMOVE;
        }
    }

    void stop() {
        if (source) g_source_destroy(source.get());
        source.reset();
    }
};

}  // namespace

Result<std::unique_ptr<Subprocess>> Subprocess::launch(const std::vector<std::string>& argv,
                                                       const std::map<std::string, std::string>& environment,
                                                       Options options) {
    auto flags = options.capture ? GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE)
                                 : G_SUBPROCESS_FLAGS_NONE;
    auto launcher = adoptGObject(g_subprocess_launcher_new(flags));
    for (const auto& [key, value] : environment)
        g_subprocess_launcher_setenv(launcher.get(), key.c_str(), value.c_str(), TRUE);
    // Runs before exec, and the launch returns only once exec has happened, so
    // the group exists as soon as the caller can signal it.
    if (options.ownProcessGroup)
        g_subprocess_launcher_set_child_setup(launcher.get(), leadOwnProcessGroup, nullptr, nullptr);

    std::vector<const gchar*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(a.c_str());
    args.push_back(nullptr);

    GErrorOut error;
    GSubprocess* raw = g_subprocess_launcher_spawnv(launcher.get(), args.data(), error.out());
    if (!raw) return Error{kDomainPlatform, error.get() ? error.get()->code : -1, error.message()};
    auto process = adoptGObject(raw);
    const char* identifier = g_subprocess_get_identifier(process.get());
    pid_t pid = identifier ? static_cast<pid_t>(std::atoi(identifier)) : 0;
    return std::unique_ptr<Subprocess>(new Subprocess(std::move(process), options, pid));
}

ProcessOutput Subprocess::communicate(double drainSeconds) {
    ProcessOutput output;
    GUniquePtr<GMainContext> context(g_main_context_new());
    g_main_context_push_thread_default(context.get());

    PipeReader out, err;
    if (options_.capture) {
        out.start(g_subprocess_get_stdout_pipe(process_.get()), &output.standardOutput, context.get());
        err.start(g_subprocess_get_stderr_pipe(process_.get()), &output.standardError, context.get());
    }

    // The exit is reported on this context (the thread default when asked).
    bool exited = false;
    g_subprocess_wait_async(process_.get(), nullptr, +[](GObject* source, GAsyncResult* result, gpointer data) {
        g_subprocess_wait_finish(G_SUBPROCESS(source), result, nullptr);
        *static_cast<bool*>(data) = true;
    }, &exited);
    while (!exited) g_main_context_iteration(context.get(), TRUE);
    running_.store(false);

    if (out.open || err.open) {
        bool expired = false;
        GUniquePtr<GSource> deadline(g_timeout_source_new(static_cast<guint>(std::max(0.0, drainSeconds) * 1000.0)));
        g_source_set_callback(deadline.get(), +[](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        }, &expired, nullptr);
        g_source_attach(deadline.get(), context.get());
        while ((out.open || err.open) && !expired) g_main_context_iteration(context.get(), TRUE);
        output.pipesHeldOpen = out.open || err.open;
        g_source_destroy(deadline.get());
    }
    out.stop();
    err.stop();
    g_main_context_pop_thread_default(context.get());

    if (g_subprocess_get_if_signaled(process_.get())) {
        output.signaled = true;
        output.status = g_subprocess_get_term_sig(process_.get());
    } else {
        output.status = g_subprocess_get_exit_status(process_.get());
    }
    return output;
}

void Subprocess::sendSignal(int signal) {
    if (running_.load()) g_subprocess_send_signal(process_.get(), signal);
}

void Subprocess::signalGroup(int signal) {
    if (options_.ownProcessGroup && pid_ > 0) ::kill(-pid_, signal);
    else sendSignal(signal);
}

}  // namespace tessivo

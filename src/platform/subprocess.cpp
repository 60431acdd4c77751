#include "platform/subprocess.h"

#include <csignal>

namespace tessivo {

Result<std::unique_ptr<Subprocess>> Subprocess::launch(const std::vector<std::string>& argv,
                                                       const std::map<std::string, std::string>& environment,
                                                       bool capture) {
    auto flags = capture ? GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE)
                         : G_SUBPROCESS_FLAGS_NONE;
    auto launcher = adoptGObject(g_subprocess_launcher_new(flags));
    for (const auto& [key, value] : environment)
        g_subprocess_launcher_setenv(launcher.get(), key.c_str(), value.c_str(), TRUE);

    std::vector<const gchar*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(a.c_str());
    args.push_back(nullptr);

    GErrorOut error;
    GSubprocess* raw = g_subprocess_launcher_spawnv(launcher.get(), args.data(), error.out());
    if (!raw) return Error{kDomainPlatform, error.get() ? error.get()->code : -1, error.message()};
    return std::unique_ptr<Subprocess>(new Subprocess(adoptGObject(raw)));
}

ProcessOutput Subprocess::communicate() {
    ProcessOutput output;
    GBytes* out = nullptr;
    GBytes* err = nullptr;
    GErrorOut error;
    g_subprocess_communicate(process_.get(), nullptr, nullptr, &out, &err, error.out());
    GUniquePtr<GBytes> outOwned(out), errOwned(err);
    auto text = [](GBytes* bytes) {
        if (!bytes) return std::string();
        gsize size = 0;
        auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        return std::string(data ? data : "", size);
    };
    output.standardOutput = text(out);
    output.standardError = text(err);
    g_subprocess_wait(process_.get(), nullptr, nullptr);
    running_.store(false);
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

}  // namespace tessivo

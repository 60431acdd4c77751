#include "cli/bridge_command.h"

#include "app/engine.h"
#ifdef TESSIVO_HAS_GTK
#include "app/gtk/offscreen_render_surface.h"
#endif
#include "platform/log.h"

#include <atomic>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

namespace tessivo {

namespace {

// The main page of the headless bridge: each callback becomes a line
// {"function": NAME, "payload": OBJECT}; each page signal {"script": TEXT}.
class StreamWebView final : public MainWebView {
public:
    explicit StreamWebView(std::ostream& out) : out_(out) {}

    void evaluateScript(const std::string& script) override {
        Json line = Json::object();
        line["script"] = script;
        write(line);
    }

    void deliverCallback(const std::string& function, const std::string& payloadJSON, const std::string&) override {
        Json line = Json::object();
        line["function"] = function;
        line["payload"] = parseJson(payloadJSON).value_or(Json());
        write(line);
    }

    void endLiveBuildPresentation() override {
        Json line = Json::object();
        line["window"] = Json{{"opacity", 1.0}, {"acceptsMouseEvents", true}};
        write(line);
    }

private:
    void write(const Json& line) {
        out_ << line.dump() << '\n';
        out_.flush();
    }
    std::ostream& out_;
};

// Answers the save panel of a render with a fixed path, or as cancelled.
class FixedSavePanel final : public SavePanel {
public:
    explicit FixedSavePanel(std::optional<std::filesystem::path> answer) : answer_(std::move(answer)) {}
    void chooseOutputFile(const SavePanelRequest&,
                          std::function<void(std::optional<std::filesystem::path>)> done) override {
        done(answer_);
    }

private:
    std::optional<std::filesystem::path> answer_;
};

}  // namespace

int runBridgeCommand(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out) {
    std::optional<std::filesystem::path> saveTo;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--save-to" && i + 1 < arguments.size()) {
            saveTo = std::filesystem::absolute(arguments[++i]);
        } else {
            std::cerr << "Option inconnue : " << arguments[i] << "\nUsage : tessivo-cli bridge [--save-to FICHIER]\n";
            return 2;
        }
    }

    auto engine = ExportEngine::create();
    auto view = std::make_shared<StreamWebView>(out);
    FixedSavePanel panel(saveTo);
    engine->setup(view);
    engine->setSavePanel(&panel);
#ifdef TESSIVO_HAS_GTK
    // Renders through the editor's page when a display is there to host it;
    // without one the engine has no page maker, and routes that can draw
    // natively do so.
    if (offscreenDisplayAvailable()) engine->setRenderSurfaceFactory(offscreenRenderSurfaceFactory());
#endif

    // Lines are read on their own thread and handed to the main queue in order;
    // the main thread handles them exactly as messages of the page.
    std::atomic<bool> inputEnded{false};
    std::weak_ptr<ExportEngine> weak = engine;
    Queue& main = engine->mainQueue();
    std::thread reader([&] {
        std::string line;
        long number = 0;
        while (std::getline(in, line)) {
            ++number;
            main.post([weak, line, number] {
                auto engine = weak.lock();
                if (!engine) return;
                auto message = parseJson(line);
                if (!message || !message->is_object()) {
                    if (line.find_first_not_of(" \t\r") != std::string::npos)
                        logLine("bridge: ligne " + std::to_string(number) + " ignorée (pas un objet JSON)");
                    return;
                }
                engine->handleWebMessage(*message);
            });
        }
        inputEnded = true;
    });

    // Idle must hold for a few consecutive checks: work can hop between queues.
    int quietChecks = 0;
    runMainContextUntil([&] {
        if (!inputEnded || !engine->isIdle()) {
            quietChecks = 0;
            return false;
        }
        return ++quietChecks >= 3;
    }, 0.02);
    reader.join();

    engine->shutdown();
    engine.reset();
    return 0;
}

}  // namespace tessivo

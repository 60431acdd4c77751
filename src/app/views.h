// The small interfaces behind which the windowing toolkit lives, so that the
// engine and every operation run headless. The GTK program implements them
// with WebKitGTK and GTK; the headless bridge implements them on standard
// input and output.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tessivo {

// The editor's page in the main window.
class MainWebView {
public:
    virtual ~MainWebView() = default;

    // Main thread. Evaluates `script` in the main page; no result is awaited.
    virtual void evaluateScript(const std::string& script) = 0;

    // Main thread. A web callback: `script` is the complete text to evaluate;
    // `function` and `payloadJSON` are what it carries, for views that record
    // callbacks rather than run them.
    virtual void deliverCallback(const std::string& function, const std::string& payloadJSON,
                                 const std::string& script) {
        (void)function;
        (void)payloadJSON;
        evaluateScript(script);
    }

    // Main thread. Stops delivering the page's messages to the engine.
    virtual void removeMessageHandler() {}
};

struct SavePanelRequest {
    std::string title;          // "Enregistrer la video"
    std::string suggestedName;  // "Kinetype_Render.mov"
    std::string format;         // "mov" → QuickTime, anything else MPEG-4
};

// The save panel of a render.
class SavePanel {
public:
    virtual ~SavePanel() = default;
    // Main thread. Calls `done` once on the main thread: the chosen file, or
    // nullopt when the user cancelled.
    virtual void chooseOutputFile(const SavePanelRequest& request,
                                  std::function<void(std::optional<std::filesystem::path>)> done) = 0;
};

}  // namespace tessivo

// The editor's page in the real main window, for the GUI tests and the
// editor benchmark: the GTK window with a real engine on the staged page
// (build tree resources), the Resolve simulator as Resolve, and the means to
// drive the page as a user does (DOM events on its controls) and to read
// back the page's store, the messages it sent and the simulator's state.
//
// Each session keeps its files in a folder of its own: website data (so the
// page starts on an empty project), settings, the simulator's state.
// HOME, the XDG folders and the Resolve location are set once per process
// (GLib reads them once), inside one scratch folder removed at exit.
#pragma once

#include "app/engine.h"
#include "app/gtk/main_window.h"
#include "platform/json.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessivo::testing {

// Main thread. Runs the main loop until `condition` holds or `seconds` pass;
// returns the condition.
bool waitFor(const std::function<bool()>& condition, double seconds);
void runFor(double seconds);

// Answers the render's save panel with a file chosen in advance (nullopt:
// the user cancels).
class ScriptedSavePanel final : public SavePanel {
public:
    void chooseOutputFile(const SavePanelRequest& request,
                          std::function<void(std::optional<std::filesystem::path>)> done) override;
    std::optional<std::filesystem::path> answer;
    std::vector<SavePanelRequest> requests;
};

class EditorSession {
public:
    // Main thread, GTK initialised. Prepares the process environment on first use.
    EditorSession();
    // Closes the window and removes the session's folder.
    ~EditorSession();
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;

    // Whether GTK has a display; why not in `reason`.
    static bool displayAvailable(std::string* reason);

    const std::filesystem::path& folder() const { return folder_; }
    const std::filesystem::path& simulatorState() const { return simState_; }

    // Runs the simulator's command line on this session's state. False,
    // with its output in error(), when it fails.
    bool sim(const std::vector<std::string>& arguments);
    // The simulator's whole state, as its state file holds it.
    std::optional<Json> simState() const;
    // The current timeline of the simulator: {track label: [{name, start,
    // end}]}, labels like "video 2 Tessivo Lottie".
    std::optional<Json> simTimeline() const;

    // Opens the engine and the window on the staged editor page and waits
    // for window.tessivoEditor and the test helpers. False with error().
    // The page's website data stays in the session's folder from one
    // opening to the next.
    bool open(double seconds = 20);
    // Closes the window as its close button does, then lets go of the engine
    // (the program ending).
    void close();
    bool isOpen() const { return window_ != nullptr; }

    // Runs `body` as the body of an async function in the page (it may
    // await) and returns its value as JSON; nullopt with error() when it
    // throws or does not answer within `seconds`.
    std::optional<Json> run(const std::string& body, double seconds = 10);
    // Runs `body` and expects it to succeed: the value, or null after
    // recording the failure in error().
    Json value(const std::string& body, double seconds = 10);
    // Polls the expression `condition` in the page until it is truthy.
    bool waitUntil(const std::string& condition, double seconds);

    // Envelopes the page posted to the engine, in order.
    const std::vector<Json>& messages() const { return messages_; }
    // The payload of the last message of `type`, or nullopt.
    std::optional<Json> lastMessage(const std::string& type) const;

    // Where a render goes; where a file the page offers for saving goes.
    ScriptedSavePanel& savePanel() { return savePanel_; }
    ScriptedSavePanel& downloadPanel() { return downloadPanel_; }
    ExportEngine& engine() { return *engine_; }
    MainWindow& window() { return *window_; }
    const std::string& error() const { return error_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path simState_;
    ScriptedSavePanel savePanel_;
    ScriptedSavePanel downloadPanel_;
    std::shared_ptr<ExportEngine> engine_;
    std::unique_ptr<MainWindow> window_;
    std::vector<Json> messages_;
    std::string error_;
};

// The JavaScript helpers installed in the page as window.tessivoTest:
// el(testid), click(testid), choose(testid, value), key(key, modifiers, testid),
// clickBlock(id, modifiers), dragBlock(id, dx, dy), frames(n), state().
extern const char* const kPageHelpers;

}  // namespace tessivo::testing

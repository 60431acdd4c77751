// The Exact Web route into Resolve ("exportToResolve"): renders the project
// over the requested range into the render folder, optionally cuts the movie
// into one file per caption block (segment_cutter.h), and runs the insert
// script that imports the movie or its segments and places them on new video
// tracks of the active timeline, the sound effects on a new audio track. It
// answers with one "window.onResolveExportComplete".
//
// Each request carries its own state from the render to the answer, so a
// request accepted while an earlier one is still cutting or inserting cannot
// change what the earlier one places.
#pragma once

#include "delivery/segment_cutter.h"
#include "platform/error.h"
#include "platform/json.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {

class EngineContext;
class RenderJob;

// The text of the insert script (placement functions included).
std::string exactWebInsertScript();

// The clip segments of a request: one per block of "sequences" that overlaps
// ["start", "end"], clipped to it, ordered by start then "trackId".
std::vector<ClipSegment> makeResolveClipSegments(const Json& params);

// "Tessivo_DaVinci_<seconds since 1970>.<format>" in `moviesFolder`/Tessivo/DaVinci
// (created), else in the temporary folder (the failure is logged).
std::filesystem::path makeResolveRenderURL(const std::string& format, const std::filesystem::path& moviesFolder);

// The script arguments: render path, start "%.6f", segments, split flag,
// segment files, sound-effect files.
std::vector<std::string> resolveInsertArguments(const std::filesystem::path& render, double startTime,
                                                const std::vector<ClipSegment>& segments, bool split,
                                                const std::vector<SegmentFile>& segmentFiles, const Json& sfxFiles);

// The warning told with the answer when the render page had to be replaced by
// the native renderer (no display).
inline constexpr const char* kHeadlessRenderWarning =
    "Pas d'affichage disponible : les sous-titres ont été dessinés par le moteur de rendu natif, "
    "pas par la page de l'éditeur.";

class ExactWebDelivery {
public:
    ExactWebDelivery(EngineContext& engine, RenderJob& renderJob);
    ~ExactWebDelivery();
    ExactWebDelivery(const ExactWebDelivery&) = delete;
    ExactWebDelivery& operator=(const ExactWebDelivery&) = delete;

    // Main thread. Ignored (no answer) while a render runs.
    void startExportToResolve(const Json& params);

    // The answer of an export made for another operation: the insert script's
    // result (warnings of the route included) or the error of its run or of
    // its render, with the render path. Called once, on any thread.
    using Answer = std::function<void(Result<Json> outcome, std::string filePath)>;
    // Main thread. As startExportToResolve, but the answer goes to `answer`
    // instead of the page, and a render that ends without its movie (or a
    // render already running) answers too.
    void startExactExport(const Json& params, Answer answer);

    static constexpr double kInsertTimeLimitSeconds = 120;

private:
    struct Request;
    // Main thread: the render of `request` finished.
    void insertRenderedFileIntoResolve(std::shared_ptr<Request> request);
    // Any thread.
    void runResolveInsert(std::shared_ptr<Request> request, std::vector<SegmentFile> segmentFiles,
                          std::string fallbackMessage);

    EngineContext& engine_;
    RenderJob& renderJob_;
};

}  // namespace tessivo

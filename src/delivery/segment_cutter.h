// Cutting a rendered movie into one file per caption block without
// re-encoding: the encoded packets of each time range are copied into a new
// file of the same container (QuickTime, or MPEG-4 for ".mp4"), codec
// parameters and codec tag unchanged, so ProRes 4444 keeps its alpha and its
// "ap4h" tag.
//
// A range [offset, offset + length) of the render takes the frames that start
// inside it (half a 1/60000 s tick of tolerance), at least the frame shown at
// `offset`. A copied range must begin on a key frame: every ProRes frame is
// one, and the H.264 writer is asked to place one at each segment start
// (firstFrameOfRange gives that frame), so the cuts are frame-exact. A range
// that does not begin on a key frame is widened back to the key frame before
// it, so the file still decodes.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

namespace tessivo {

// One caption block that falls in the rendered range.
struct ClipSegment {
    std::string id;
    std::string text;
    double start = 0;  // seconds on the project time line
    double end = 0;
    std::int64_t trackId = 0;
};

// One cut file, as the insert script reads it.
struct SegmentFile {
    std::filesystem::path filePath;
    // Project seconds of its first frame and of the end of its last frame in
    // the render (the block's own times rounded to the frames it holds).
    double start = 0;
    double end = 0;
    std::string text;
};

Json clipSegmentRecords(const std::vector<ClipSegment>& segments);
Json segmentFileRecords(const std::vector<SegmentFile>& files);

// The shortest length a segment is cut with, in seconds.
inline constexpr double kMinimumSegmentSeconds = 0.01;

// Where segment `start` begins in a render that starts at `renderStart`, and
// how long it is cut: offset = max(start - renderStart, 0) with start taken no
// earlier than the render, length = end - start, or kMinimumSegmentSeconds
// when that is no longer.
struct CutRange {
    double start = 0;   // project seconds
    double offset = 0;  // seconds into the render
    double length = 0;
};
CutRange cutRange(const ClipSegment& segment, double renderStart);

// The index of the first frame of a movie at `rate` frames a second that a
// cut starting `offset` seconds in begins with.
std::int64_t firstFrameOfRange(double offset, AVRational rate);

// The frames the writer must code as key frames so that every segment's cut
// is frame-exact: the first frame of each segment's range, sorted, unique,
// within [0, totalFrames).
std::vector<std::int64_t> segmentKeyFrames(const std::vector<ClipSegment>& segments, double renderStart,
                                           double fps, std::int64_t totalFrames);

// The cutting step's errors (domain "Tessivo"): -40 the render cannot be
// opened for cutting, -41 segment n failed (with FFmpeg's reason when it gave
// one), -42 segment n came out in an unexpected state (no frame copied).
Error passthroughUnavailableError();
Error segmentFailedError(int n, const std::string& reason = {});
Error segmentUnexpectedError(int n);

// "<render stem>_Segments" beside the render.
std::filesystem::path segmentFolder(const std::filesystem::path& render);

// Cuts `segments` (ordered by start here) out of `render`, one after the
// other, into segmentFolder(render)/"Tessivo_NNN.<render extension>". An
// existing file there is replaced. Stops at the first failure. Blocking; run
// it on the export queue.
Result<std::vector<SegmentFile>> createResolveSegmentFiles(const std::filesystem::path& render,
                                                           std::vector<ClipSegment> segments, double renderStart);

}  // namespace tessivo

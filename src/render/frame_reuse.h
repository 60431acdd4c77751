// The reuse of unchanged frames, one object per job shared by the two frame
// loops (native and render page). A frame is empty (the job's blank frame,
// made once), static with a key (drawn once, then its buffer is appended again
// while the key stays the same), or dynamic (drawn anew). Drawing buffers are
// recycled once nobody else holds them, so a job allocates a handful of frames.
//
// Threads: plan() and keptKey() may be asked from any thread; the buffers are
// handed out and recorded on the export queue. The page loop plans on the
// main thread, but only once the export queue has recorded its last frame.
#pragma once

#include "render/video_writer.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {

class FrameReuse {
public:
    enum class Kind { Empty, Static, Dynamic };
    enum class Action {
        Blank,  // append the blank frame
        Reuse,  // append the kept static frame again
        Draw,   // draw a new frame into drawingBuffer(), then drawn()
    };

    explicit FrameReuse(VideoWriter& writer) : writer_(writer) {}
    FrameReuse(const FrameReuse&) = delete;
    FrameReuse& operator=(const FrameReuse&) = delete;

    // What a frame of `kind` needs: Reuse when it is static with the key of the
    // kept frame.
    Action plan(Kind kind, const std::optional<std::string>& key) const;
    // The key of the kept static frame, if one is kept.
    std::optional<std::string> keptKey() const;

    // Export queue. The buffer of a Blank or Reuse action; nullptr when the
    // blank frame cannot be made or no frame is kept.
    std::shared_ptr<PixelBuffer> reusedBuffer(Action action);
    // Export queue. A buffer to draw a new frame into (its old pixels are
    // whatever it held); nullptr when no memory is left.
    std::shared_ptr<PixelBuffer> drawingBuffer();
    // Export queue. Records the frame drawn into `buffer`: kept for reuse when
    // static with a key; otherwise the kept frame is let go.
    void drawn(const std::shared_ptr<PixelBuffer>& buffer, Kind kind, const std::optional<std::string>& key);
    // Export queue. Lets go of every buffer.
    void clear();

    // Drawing buffers kept for recycling at most.
    static constexpr size_t kPooledBuffers = VideoWriter::kQueuedFrames + 3;

private:
    VideoWriter& writer_;
    mutable std::mutex mutex_;
    std::optional<std::string> keptKey_;
    std::shared_ptr<PixelBuffer> kept_;
    std::vector<std::shared_ptr<PixelBuffer>> pool_;
};

}  // namespace tessivo

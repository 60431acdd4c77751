// The native frame loop: the whole job on the export queue, each frame drawn
// by a NativeFrameSource (the caption renderer in production) or taken from
// the frame reuse. The writer encodes on its own thread meanwhile.
#pragma once

#include "bridge/caption_sequence.h"
#include "render/render_session.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessivo {

// What the native loop draws. The caption renderer in production; tests and
// the benchmark may put their own frames in its place.
class NativeFrameSource {
public:
    enum class Kind { Empty, Static, Dynamic };
    struct State {
        Kind kind = Kind::Dynamic;
        std::string key;  // for Static: equal keys draw equal pixels
    };
    virtual ~NativeFrameSource() = default;
    virtual State frameState(double time) const = 0;
    // Clears the premultiplied ARGB32 buffer and draws the frame at `time`.
    virtual void drawFrame(double time, unsigned char* data, int stride) = 0;
};
using NativeFrameSourceFactory = std::function<std::unique_ptr<NativeFrameSource>(
    int width, int height, std::vector<NativeTextSequence> sequences)>;

// The caption renderer behind the loop's interface.
std::unique_ptr<NativeFrameSource> makeCaptionFrameSource(int width, int height,
                                                          std::vector<NativeTextSequence> sequences);

// Export queue. Renders every frame of `session`, reporting progress and the
// end to `host` on the main queue; stops early when the job is cancelled or
// the engine is gone. A job without caption blocks is all blank frames.
void runNativeFrameLoop(FrameLoopHost& host, const std::shared_ptr<RenderSession>& session,
                        const NativeFrameSourceFactory& factory);

}  // namespace tessivo

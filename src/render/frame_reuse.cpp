#include "render/frame_reuse.h"

namespace tessivo {

FrameReuse::Action FrameReuse::plan(Kind kind, const std::optional<std::string>& key) const {
    if (kind == Kind::Empty) return Action::Blank;
    std::lock_guard lock(mutex_);
    if (kind == Kind::Static && key && kept_ && keptKey_ == key) return Action::Reuse;
    return Action::Draw;
}

std::optional<std::string> FrameReuse::keptKey() const {
    std::lock_guard lock(mutex_);
    if (!kept_) return std::nullopt;
    return keptKey_;
}

std::shared_ptr<PixelBuffer> FrameReuse::reusedBuffer(Action action) {
    if (action == Action::Blank) return writer_.blankPixelBuffer();
    std::lock_guard lock(mutex_);
    return action == Action::Reuse ? kept_ : nullptr;
}

std::shared_ptr<PixelBuffer> FrameReuse::drawingBuffer() {
    std::lock_guard lock(mutex_);
    // A pooled buffer nobody else holds: not kept, not in the writer's queue.
    for (const auto& buffer : pool_)
        if (buffer.use_count() == 1) return buffer;
    auto buffer = writer_.makePixelBuffer();
    if (buffer && pool_.size() < kPooledBuffers) pool_.push_back(buffer);
    return buffer;
}

void FrameReuse::drawn(const std::shared_ptr<PixelBuffer>& buffer, Kind kind, const std::optional<std::string>& key) {
    std::lock_guard lock(mutex_);
    if (buffer && kind == Kind::Static && key) {
        keptKey_ = key;
        kept_ = buffer;
    } else {
        keptKey_.reset();
        kept_.reset();
    }
}

void FrameReuse::clear() {
    std::lock_guard lock(mutex_);
    keptKey_.reset();
    kept_.reset();
    pool_.clear();
}

}  // namespace tessivo

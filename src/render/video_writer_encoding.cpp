// The writer's encoding thread: the queue between the appending thread and
// the encoder, and the encoding of each queued frame.
#include "render/video_writer.h"

#include <malloc.h>

#include <algorithm>

namespace tessivo {

namespace {

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Which of `rows` macroblock rows (16 lines each) of `buffer` hold a pixel
// that is not fully transparent.
std::vector<bool> visibleRows(const PixelBuffer& buffer, int rows) {
    std::vector<bool> visible(static_cast<std::size_t>(rows), false);
    const int width = buffer.width();
    for (int y = 0; y < buffer.height(); ++y) {
        const std::size_t row = static_cast<std::size_t>(y / 16);
        if (row >= visible.size() || visible[row]) continue;
        const auto* pixels = reinterpret_cast<const std::uint32_t*>(buffer.data() + static_cast<std::ptrdiff_t>(y) * buffer.stride());
        std::uint32_t any = 0;
        for (int x = 0; x < width; ++x) any |= pixels[x];
        visible[row] = any != 0;
    }
    return visible;
}

// Frames of several megabytes are allocated on one thread and released on the
// encoder's threads; glibc's per-thread arenas keep such freed memory, and a
// 1080p render then held five times its live heap. Handing the free memory
// back every few seconds of video keeps the footprint near the live heap at a
// negligible cost (a mapping per frame instead would cost a fifth of the speed).
constexpr std::int64_t kTrimEveryFrames = 120;

}  // namespace

// Appending thread, with queueMutex_ held.
void VideoWriter::startEncodingThread() {
    stopping_ = false;
    encodingThread_ = std::thread([this] { runEncodingThread(); });
}

// The writer's encoding thread: takes the queued frames in order until it is
// stopped and the queue is empty (or, once an error happened, until stopped).
void VideoWriter::runEncodingThread() {
    std::unique_lock lock(queueMutex_);
    while (true) {
        queueChanged_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        if (queue_.empty()) return;
        QueuedFrame frame = std::move(queue_.front());
        queue_.pop_front();
        const bool failedBefore = failure_.has_value();
        const bool carriesBuffer = frame.buffer != nullptr;
        lock.unlock();
        std::optional<Error> failed;
        if (!failedBefore) failed = encodeQueuedFrame(frame);
        releaseBuffer(frame);
        lock.lock();
        if (carriesBuffer) --queuedBuffers_;
        if (failed && !failure_) failure_ = std::move(failed);
        queueChanged_.notify_all();
    }
}

// The writer has read the frame's pixels: the buffer may be written again.
void VideoWriter::releaseBuffer(QueuedFrame& frame) {
    if (!frame.buffer) return;
    if (frame.buffer->unread_.fetch_sub(1, std::memory_order_acq_rel) == 1) frame.buffer->unread_.notify_all();
    frame.buffer.reset();
}

// Encoding thread: converts and encodes one frame (or queues a repeat of a
// kept packet) and writes every packet that is due.
std::optional<Error> VideoWriter::encodeQueuedFrame(QueuedFrame& queued) {
    if (!queued.buffer) {
        pending_.push_back(queued.write);
        ++packetsReused_;
        return writeReadyPackets();
    }
    if (choice_.transparent && !rowEncoderTried_) {
        rowEncoderTried_ = true;
        rowEncoder_ = ProResRowEncoder::create(*encoder_);
    }
    // The macroblock rows with a visible pixel; when they are few, only they
    // are encoded and the frame is assembled (the same bytes, less work).
    std::vector<bool> hasContent;
    if (rowEncoder_ && awaiting_.empty()) {
        hasContent = visibleRows(*queued.buffer, rowEncoder_->rows());
        const auto visible = std::count(hasContent.begin(), hasContent.end(), true);
        if (visible * 4 > static_cast<std::ptrdiff_t>(hasContent.size()) * 3) hasContent.clear();
    }
    Error error;
    AVFramePtr frame = convert(*queued.buffer, &error);
    releaseBuffer(queued);
    if (!frame) return error;
    if (!hasContent.empty()) {
        AVPacketPtr packet = rowEncoder_->encode(*frame, hasContent, &error);
        spareFrame_ = std::move(frame);
        if (!packet) return error;
        queued.write.slot->packet = std::move(packet);
        pending_.push_back(queued.write);
        const std::int64_t encoded = ++framesEncoded_;
        if (encoded % kTrimEveryFrames == 0) malloc_trim(0);
        return writeReadyPackets();
    }
    frame->pts = queued.write.pts;
    frame->pkt_duration = queued.write.duration;
    // The frame object is reused: its picture type is set every time.
    frame->pict_type = queued.keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    const int status = avcodec_send_frame(encoder_.get(), frame.get());
    spareFrame_ = std::move(frame);
    if (status < 0) return Error{kDomainWriter, status, "Encodage: " + avErrorText(status)};
    awaiting_.push_back(queued.write.slot);
    pending_.push_back(queued.write);
    const std::int64_t encoded = ++framesEncoded_;
    if (encoded % kTrimEveryFrames == 0) malloc_trim(0);
    if (auto failed = receivePackets()) return failed;
    return writeReadyPackets();
}

void VideoWriter::stopEncodingThread(bool dropQueued) {
    {
        std::lock_guard lock(queueMutex_);
        if (dropQueued) {
            for (QueuedFrame& frame : queue_) releaseBuffer(frame);
            queue_.clear();
        }
        stopping_ = true;
    }
    queueChanged_.notify_all();
    if (encodingThread_.joinable()) encodingThread_.join();
    std::lock_guard lock(queueMutex_);
    queuedBuffers_ = 0;
}

}  // namespace tessivo

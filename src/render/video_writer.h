// The movie writer of a render job on FFmpeg: container and codec choice,
// premultiplied ARGB32 pixel buffers of the output size, encoding at each
// frame's presentation time, and closing or cancelling the file.
//
// A transparent background gives ProRes 4444 with alpha, anything else H.264
// over opaque black; the format "mov" gives a QuickTime file, anything else
// MPEG-4. The movie is written under a temporary name beside the target and
// renamed over it only once it is complete, so that a failed or cancelled job
// never leaves a file that looks finished (and a file already at the target
// stays until the new one replaces it).
//
// Threading: a writer is used from one thread at a time (the export queue).
#pragma once

#include "platform/error.h"
#include "render/ffmpeg_handles.h"
#include "render/native_handles.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {

// Display names of the two codecs; also the names in the writer's errors.
inline constexpr const char* kProRes4444Name = "ProRes 4444";
inline constexpr const char* kH264Name = "H.264";

// "Codec <name> indisponible pour cette résolution." (code 1) and
// "Le codec <name> n'a pas démarré." (code 2), domain "Kinetype".
Error writerUnavailableError(const std::string& codecName);
Error writerNotStartedError(const std::string& codecName);

struct WriterChoice {
    std::string encoder;      // libavcodec encoder name
    std::string codecName;    // display name
    AVPixelFormat pixelFormat;
    bool transparent;         // frames keep their alpha; else composed over black
    std::string muxer;        // libavformat muxer name
};
// The choice table: by background and by format, independently.
WriterChoice writerChoice(const std::string& background, const std::string& format);

// The frame rate written for `fps`, as an exact fraction: n/1 for a whole
// rate n, n*1000/1001 for the broadcast rates just below one (29.97 gives
// 30000/1001, 23.976 and 23.98 give 24000/1001), each within 2e-4 of its
// value; any other rate, the nearest fraction; 0/1 for a rate that is not
// positive and finite (or above 1000). Frames are timed in units of one frame
// of this rate, so every frame lasts exactly as long.
AVRational exactFrameRate(double fps);

// One frame of the output size: a Cairo ARGB32 surface (premultiplied,
// native-endian, so B,G,R,A bytes on little-endian). Once appended, its
// encoded form may be kept with it, so appending it again costs nothing when
// the codec allows (see VideoWriter::appendPixelBuffer): after drawing into
// an appended buffer again, call markDirty().
class PixelBuffer {
public:
    // A buffer cleared to transparent, or nullptr when it cannot be allocated.
    static std::shared_ptr<PixelBuffer> create(int width, int height);

    unsigned char* data() const { return cairo_image_surface_get_data(surface_.get()); }
    int stride() const { return cairo_image_surface_get_stride(surface_.get()); }
    int width() const { return cairo_image_surface_get_width(surface_.get()); }
    int height() const { return cairo_image_surface_get_height(surface_.get()); }
    cairo_surface_t* surface() const { return surface_.get(); }

    // Call after drawing into data() directly. It also forgets the encoded form
    // kept from an earlier append, so a buffer may be drawn over and appended anew.
    void markDirty() {
        cairo_surface_mark_dirty(surface_.get());
        encoded_.reset();
    }

private:
    friend class VideoWriter;
    struct EncodedSlot;
    explicit PixelBuffer(CairoSurfacePtr surface) : surface_(std::move(surface)) {}
    CairoSurfacePtr surface_;
    std::shared_ptr<EncodedSlot> encoded_;
};

struct VideoWriterSettings {
    // The picture size. H.264 (4:2:0) codes even sides only; an odd side is
    // written one pixel longer (see VideoWriter::codedWidth).
    int width = 1920;
    int height = 1080;
    double fps = 60;  // written as exactFrameRate(fps)
    std::string format = "mov";
    std::string background = "transparent";
    // Frames coded as key frames whatever the group length, sorted: a movie
    // cut without re-encoding at these frames is cut exactly (frames of an
    // intra-only codec are all key frames anyway).
    std::vector<std::int64_t> keyFrames;
};

class VideoWriter {
public:
    // configureWriter: creates the encoder and the file (under its temporary
    // name) and writes the header. Errors: the muxer refusing the codec or the
    // encoder refusing the size is code 1; an encoder that cannot be found or
    // started, code 2; a file that cannot be created, the platform's error.
    static Result<std::unique_ptr<VideoWriter>> configure(const std::filesystem::path& path,
                                                          const VideoWriterSettings& settings);
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    const std::string& codecName() const { return choice_.codecName; }
    bool transparent() const { return choice_.transparent; }
    // True when every frame is coded alone, so a repeated buffer's packet can be
    // written again instead of encoding the frame anew.
    bool reusesPackets() const { return intraOnly_; }
    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& temporaryPath() const { return temporaryPath_; }
    // The size of the coded pictures: the settings' size, made even for
    // 4:2:0 by repeating the last column or row.
    int codedWidth() const { return codedWidth_; }
    int codedHeight() const { return codedHeight_; }
    // The stream's frame rate; frame i is at i / frameRate().
    AVRational frameRate() const { return frameRate_; }

    // A transparent buffer of the output size, or nullptr.
    std::shared_ptr<PixelBuffer> makePixelBuffer() const;
    // The job's empty frame, made on first use: transparent, or opaque black.
    std::shared_ptr<PixelBuffer> blankPixelBuffer();
    // Draws `image` scaled to fill a new buffer over the background; nullptr when
    // no buffer can be made.
    std::shared_ptr<PixelBuffer> drawImage(cairo_surface_t* image) const;

    // Appends `buffer` as frame `frameIndex` (presentation time frameIndex / fps).
    // Frames must come in increasing order.
    std::optional<Error> appendPixelBuffer(const std::shared_ptr<PixelBuffer>& buffer, std::int64_t frameIndex);

    // Flushes the encoder, completes the file and renames it onto the target.
    // On any failure the temporary file is removed and the error returned.
    std::optional<Error> finish();
    // Abandons the file: closes and removes the temporary file. Idempotent.
    void cancel();

    std::int64_t framesAppended() const { return framesAppended_; }
    std::int64_t framesEncoded() const { return framesEncoded_; }
    std::int64_t packetsReused() const { return packetsReused_; }

private:
    struct PendingWrite {
        std::shared_ptr<PixelBuffer::EncodedSlot> slot;
        std::int64_t pts = 0;
        std::int64_t duration = 1;
    };
    VideoWriter() = default;
    std::int64_t presentationTime(std::int64_t frameIndex) const;
    AVFramePtr convert(const PixelBuffer& buffer, Error* error);
    // `buffer` copied into paddedPixels_ at the coded size, its edge repeated.
    const std::uint8_t* padToCodedSize(const PixelBuffer& buffer);
    std::optional<Error> receivePackets();
    std::optional<Error> writeReadyPackets();
    void closeFile();

    WriterChoice choice_;
    VideoWriterSettings settings_;
    std::filesystem::path path_;
    std::filesystem::path temporaryPath_;
    AVCodecContextPtr encoder_;
    AVOutputFormatContextPtr muxer_;
    AVStream* stream_ = nullptr;
    SwsContextPtr scaler_;
    int codedWidth_ = 0;
    int codedHeight_ = 0;
    AVRational frameRate_{0, 1};
    bool intraOnly_ = false;
    bool finished_ = false;
    bool open_ = false;
    std::int64_t lastFrameIndex_ = -1;
    std::shared_ptr<PixelBuffer> blank_;
    // convert()'s copy of an odd-sized picture, reused from frame to frame.
    std::vector<std::uint32_t> paddedPixels_;

    // Frames sent to the encoder whose packet has not come back yet, in order.
    std::deque<std::shared_ptr<PixelBuffer::EncodedSlot>> awaiting_;
    // Frames to write, in presentation order; a repeat shares its slot.
    std::deque<PendingWrite> pending_;
    std::int64_t framesAppended_ = 0;
    std::int64_t framesEncoded_ = 0;
    std::int64_t packetsReused_ = 0;
};

}  // namespace tessivo

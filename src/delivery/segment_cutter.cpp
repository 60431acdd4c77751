#include "delivery/segment_cutter.h"

#include "delivery/export_support.h"
#include "platform/log.h"
#include "render/ffmpeg_handles.h"
#include "render/video_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>

namespace fs = std::filesystem;

namespace tessivo {

namespace {

// Half a tick of the 1/60000 s clock the cut times are expressed in.
constexpr double kTolerance = 0.5 / 60000.0;

std::string ffmpegText(int status) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(status, text, sizeof text);
    return text;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The frames a range takes: indices [first, end) at the movie's rate. A
// range in which no frame starts takes the frame shown at its start.
struct FrameWindow {
    std::int64_t first = 0;
    std::int64_t end = 0;
};

FrameWindow frameWindow(const CutRange& range, AVRational rate) {
    FrameWindow window{firstFrameOfRange(range.offset, rate), firstFrameOfRange(range.offset + range.length, rate)};
    if (window.end <= window.first) {
        window.first = std::max<std::int64_t>(0, window.first - 1);
        window.end = window.first + 1;
    }
    return window;
}

// One output file being written.
class SegmentWriter {
public:
    SegmentWriter(const AVStream& input, fs::path path, const char* muxer)
        : input_(input), path_(std::move(path)), muxer_(muxer) {}

    // Writes a copy of `packet`; the first one opens the file. An empty string is success.
    std::string write(const AVPacket& packet) {
        if (!output_) {
            if (auto failure = open(); !failure.empty()) return failure;
            base_ = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
        }
        AVPacketPtr copy = makeAVPacket();
        if (!copy || av_packet_ref(copy.get(), &packet) < 0) return "mémoire insuffisante";
        if (copy->pts != AV_NOPTS_VALUE) copy->pts -= base_;
        if (copy->dts != AV_NOPTS_VALUE) copy->dts -= base_;
        copy->stream_index = 0;
        copy->pos = -1;
        av_packet_rescale_ts(copy.get(), input_.time_base, output_->streams[0]->time_base);
        if (int status = av_interleaved_write_frame(output_.get(), copy.get()); status < 0) return ffmpegText(status);
        ++written_;
        return {};
    }

    std::string finish() {
        if (!output_) return {};
        if (int status = av_write_trailer(output_.get()); status < 0) return ffmpegText(status);
        output_.reset();
        return {};
    }

    std::int64_t written() const { return written_; }

private:
    std::string open() {
        AVFormatContext* raw = nullptr;
        int status = avformat_alloc_output_context2(&raw, nullptr, muxer_, path_.c_str());
        AVOutputFormatContextPtr output(raw);
        if (status < 0 || !output) return ffmpegText(status);
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (!stream) return "flux de sortie impossible";
        if ((status = avcodec_parameters_copy(stream->codecpar, input_.codecpar)) < 0) return ffmpegText(status);
        // The tag stays as it was: cleared, the muxer would write ProRes 4444 as "apch".
        stream->codecpar->codec_tag = input_.codecpar->codec_tag;
        stream->time_base = input_.time_base;
        stream->avg_frame_rate = input_.avg_frame_rate;
        stream->r_frame_rate = input_.r_frame_rate;
        if ((status = avio_open(&output->pb, path_.c_str(), AVIO_FLAG_WRITE)) < 0) return ffmpegText(status);
        if ((status = avformat_write_header(output.get(), nullptr)) < 0) return ffmpegText(status);
        output_ = std::move(output);
        return {};
    }

    const AVStream& input_;
    fs::path path_;
    const char* muxer_;
    AVOutputFormatContextPtr output_;
    std::int64_t base_ = 0;
    std::int64_t written_ = 0;
};

// Copies the packets of one range from `input` (stream `index`) into `path`.
// An empty string is success; otherwise FFmpeg's reason.
// `held` receives the times (seconds into the render) of the first frame
// written and of the end of the last one.
struct Held {
    std::int64_t written = 0;
    double first = 0;
    double end = 0;
};

std::string cutOne(AVFormatContext* input, int index, const CutRange& range, const fs::path& path,
                   const char* muxer, Held* held) {
    const AVStream& stream = *input->streams[index];
    const double timeBase = av_q2d(stream.time_base);
    const std::int64_t origin = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
    // Frames are told apart by their number at the stream's rate, so that
    // times rounded to a coarse container clock still land on their frame.
    AVRational rate = stream.avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = stream.r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{60000, 1};
    const double fps = av_q2d(rate);
    const FrameWindow window = frameWindow(range, rate);

    const double seekSeconds = std::max(0.0, double(window.first) / fps - kTolerance);
    const auto target = static_cast<std::int64_t>(std::floor(seekSeconds / timeBase)) + origin;
    if (av_seek_frame(input, index, target, AVSEEK_FLAG_BACKWARD) < 0) {
        if (int status = av_seek_frame(input, index, origin, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY); status < 0)
            return ffmpegText(status);
    }

    SegmentWriter writer(stream, path, muxer);
    // The packets before the range since the last key frame: needed when the
    // range starts on a frame that is not a key frame, or takes no frame start.
    std::deque<AVPacketPtr> prefix;
    bool inside = false;
    AVPacketPtr packet = makeAVPacket();
    if (!packet) return "mémoire insuffisante";
    auto flushPrefix = [&](std::size_t keep) -> std::string {
        // Writes the last `keep` packets of the prefix, widened back to a key frame.
        if (keep == 0 || prefix.empty()) {
            prefix.clear();
            return {};
        }
        std::size_t first = prefix.size() - std::min(keep, prefix.size());
        while (first > 0 && !(prefix[first]->flags & AV_PKT_FLAG_KEY)) --first;
        if (first < prefix.size() && !(prefix[first]->flags & AV_PKT_FLAG_KEY))
            logLine("Découpe : le segment " + path.filename().string() + " ne commence pas sur une image clé");
        for (std::size_t i = first; i < prefix.size(); ++i)
            if (auto failure = writer.write(*prefix[i]); !failure.empty()) return failure;
        prefix.clear();
        return {};
    };

    for (;;) {
        int status = av_read_frame(input, packet.get());
        if (status == AVERROR_EOF) break;
        if (status < 0) return ffmpegText(status);
        if (packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        const std::int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const auto frame = static_cast<std::int64_t>(std::llround(double(stamp - origin) * timeBase * fps));
        if (frame >= window.end) {
            av_packet_unref(packet.get());
            break;
        }
        if (frame < window.first) {
            if (packet->flags & AV_PKT_FLAG_KEY) prefix.clear();
            AVPacketPtr kept = makeAVPacket();
            if (!kept) return "mémoire insuffisante";
            av_packet_move_ref(kept.get(), packet.get());
            prefix.push_back(std::move(kept));
            continue;
        }
        if (!inside) {
            inside = true;
            // A range that starts on a key frame needs nothing before it.
            if (auto failure = flushPrefix((packet->flags & AV_PKT_FLAG_KEY) ? 0 : prefix.size()); !failure.empty())
                return failure;
        }
        std::string failure = writer.write(*packet);
        av_packet_unref(packet.get());
        if (!failure.empty()) return failure;
    }
    // The movie ends before the range: its last frame.
    if (!inside && !prefix.empty()) {
        if (auto failure = flushPrefix(1); !failure.empty()) return failure;
    }
    if (auto failure = writer.finish(); !failure.empty()) return failure;
    held->written = writer.written();
    held->first = double(window.first) / fps;
    held->end = double(window.end) / fps;
    return {};
}

}  // namespace

Json clipSegmentRecords(const std::vector<ClipSegment>& segments) {
    Json list = Json::array();
    for (const ClipSegment& s : segments)
        list.push_back(Json{{"id", s.id}, {"text", s.text}, {"start", s.start}, {"end", s.end}, {"trackId", s.trackId}});
    return list;
}

Json segmentFileRecords(const std::vector<SegmentFile>& files) {
    Json list = Json::array();
    for (const SegmentFile& f : files)
        list.push_back(Json{{"filePath", f.filePath.string()}, {"start", f.start}, {"end", f.end}, {"text", f.text}});
    return list;
}

CutRange cutRange(const ClipSegment& segment, double renderStart) {
    CutRange range;
    range.start = std::max(segment.start, renderStart);
    range.offset = std::max(range.start - renderStart, 0.0);
    const double length = segment.end - range.start;
    range.length = length <= kMinimumSegmentSeconds ? kMinimumSegmentSeconds : length;
    return range;
}

std::int64_t firstFrameOfRange(double offset, AVRational rate) {
    // The first frame i with i / rate >= offset, within half a 1/60000 s tick.
    if (rate.num <= 0 || rate.den <= 0) return 0;
    const double fps = av_q2d(rate);
    return std::max<std::int64_t>(0, static_cast<std::int64_t>(std::ceil((offset - kTolerance) * fps)));
}

std::vector<std::int64_t> segmentKeyFrames(const std::vector<ClipSegment>& segments, double renderStart, double fps,
                                           std::int64_t totalFrames) {
    std::vector<std::int64_t> frames;
    const AVRational rate = exactFrameRate(fps);
    for (const ClipSegment& segment : segments) {
        const std::int64_t first = frameWindow(cutRange(segment, renderStart), rate).first;
        frames.push_back(std::clamp<std::int64_t>(first, 0, std::max<std::int64_t>(0, totalFrames - 1)));
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return frames;
}

Error passthroughUnavailableError() {
    return Error{kDomainDelivery, -40, "AVFoundation ne peut pas créer les segments passthrough."};
}

Error segmentFailedError(int n, const std::string& reason) {
    std::string message = "Découpe du segment " + std::to_string(n) + " annulée ou échouée.";
    if (!reason.empty()) message += " (" + reason + ")";
    return Error{kDomainDelivery, -41, message};
}

Error segmentUnexpectedError(int n) {
    return Error{kDomainDelivery, -42, "Découpe du segment " + std::to_string(n) + " dans un état inattendu."};
}

fs::path segmentFolder(const fs::path& render) {
    return render.parent_path() / (render.stem().string() + "_Segments");
}

Result<std::vector<SegmentFile>> createResolveSegmentFiles(const fs::path& render, std::vector<ClipSegment> segments,
                                                           double renderStart) {
    std::string extension = render.extension().string();
    extension = extension.empty() ? "mov" : extension.substr(1);
    const char* muxer = lowered(extension) == "mp4" ? "mp4" : "mov";

    const fs::path folder = segmentFolder(render);
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) return fileSystemError(folder, code);

    std::stable_sort(segments.begin(), segments.end(),
                     [](const ClipSegment& a, const ClipSegment& b) { return a.start < b.start; });
    std::vector<SegmentFile> files;
    if (segments.empty()) return files;

    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, render.c_str(), nullptr, nullptr) < 0) return passthroughUnavailableError();
    AVInputFormatContextPtr input(raw);
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return passthroughUnavailableError();
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (int(i) != index) input->streams[i]->discard = AVDISCARD_ALL;

    for (std::size_t i = 0; i < segments.size(); ++i) {
        const int n = static_cast<int>(i + 1);
        const CutRange range = cutRange(segments[i], renderStart);
        char name[64];
        std::snprintf(name, sizeof name, "Tessivo_%03d.%s", n, extension.c_str());
        const fs::path output = folder / name;
        fs::remove(output, code);  // a failure shows when the file is written
        Held held;
        if (std::string failure = cutOne(input.get(), index, range, output, muxer, &held); !failure.empty()) {
            fs::remove(output, code);
            return segmentFailedError(n, failure);
        }
        if (held.written == 0) return segmentUnexpectedError(n);
        // The file starts with a whole frame, which may begin a little after
        // the block: it is placed where that frame stands in the render, so
        // the cut lines up frame for frame with the movie it came from.
        files.push_back(SegmentFile{output, renderStart + held.first, renderStart + held.end, segments[i].text});
    }
    return files;
}

}  // namespace tessivo

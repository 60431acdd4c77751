#include "lottie/lottie_delivery.h"

#include "bridge/coercion.h"
#include "delivery/export_support.h"
#include "lottie/lottie_document.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <glib.h>
#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace tessivo {

namespace {

struct ZipSourceFree {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using ZipSourcePtr = std::unique_ptr<zip_source_t, ZipSourceFree>;

// zip_discard releases an archive that was not closed (closing writes it).
struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipArchivePtr = std::unique_ptr<zip_t, ZipDiscard>;

struct ZipErrorText {
    zip_error_t error;
    ZipErrorText() { zip_error_init(&error); }
    ~ZipErrorText() { zip_error_fini(&error); }
    ZipErrorText(const ZipErrorText&) = delete;
    ZipErrorText& operator=(const ZipErrorText&) = delete;
    std::string text() { return zip_error_strerror(&error); }
};

bool isIdentifierCharacter(gunichar c) {
    if (c == '-' || c == '_') return true;
    switch (g_unichar_type(c)) {
    case G_UNICODE_LOWERCASE_LETTER:
    case G_UNICODE_MODIFIER_LETTER:
    case G_UNICODE_OTHER_LETTER:
    case G_UNICODE_TITLECASE_LETTER:
    case G_UNICODE_UPPERCASE_LETTER:
    case G_UNICODE_SPACING_MARK:
    case G_UNICODE_ENCLOSING_MARK:
    case G_UNICODE_NON_SPACING_MARK:
    case G_UNICODE_DECIMAL_NUMBER:
    case G_UNICODE_LETTER_NUMBER:
    case G_UNICODE_OTHER_NUMBER:
        return true;
    default:
        return false;
    }
}

bool isMark(gunichar c) {
    GUnicodeType type = g_unichar_type(c);
    return type == G_UNICODE_SPACING_MARK || type == G_UNICODE_ENCLOSING_MARK || type == G_UNICODE_NON_SPACING_MARK;
}

// "Tessivo_Lottie_NNN_<id>.lottie"
std::string archiveName(std::int64_t number, const std::string& identifier) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%03lld", static_cast<long long>(number));
    return "Tessivo_Lottie_" + std::string(digits) + "_" + identifier + ".lottie";
}

}  // namespace

Error lottieError(std::int64_t code, const std::string& detail) {
    switch (code) {
    case kLottieNoBlockError:
        return {kDomainDelivery, code, "Aucun bloc Lottie compatible dans la plage exportée."};
    case kLottieEmptyRangeError:
        return {kDomainDelivery, code, "La plage Lottie est vide."};
    case kLottieNoSequencesError:
        return {kDomainDelivery, code, "Les blocs Lottie sont introuvables."};
    default:
        return {kDomainDelivery, kLottieArchiveError, "Impossible de créer l'archive dotLottie. " + detail};
    }
}

std::filesystem::path defaultLottieBaseFolder() {
    std::filesystem::path movies = moviesDirectory();
    if (movies.empty()) movies = temporaryDirectory();
    return movies / "Tessivo" / "DaVinciLottie";
}

Result<std::filesystem::path> makeResolveLottieFolder(const std::filesystem::path& baseFolder) {
    return createFreshFolder(baseFolder, "Export_" + std::to_string(secondsSince1970()));
}

std::string sanitizeLottieIdentifier(std::string_view identifier) {
    std::string result;
    std::size_t characters = 0;
    const char* p = identifier.data();
    const char* end = p + identifier.size();
    while (p < end) {
        gunichar c = g_utf8_get_char_validated(p, end - p);
        std::size_t length = 1;
        bool keep = false;
        if (c != static_cast<gunichar>(-1) && c != static_cast<gunichar>(-2)) {
            length = static_cast<std::size_t>(g_utf8_next_char(p) - p);
            keep = isIdentifierCharacter(c);
        }
        // A combining mark belongs to the character before it.
        bool startsCharacter = !(keep && isMark(c) && characters > 0);
        if (startsCharacter) {
            if (characters == 48) break;
            ++characters;
        }
        if (keep)
            result.append(p, length);
        else
            result.push_back('-');
        p += length;
    }
    std::size_t first = result.find_first_not_of('-');
    if (first == std::string::npos) return "caption";
    std::size_t last = result.find_last_not_of('-');
    return result.substr(first, last - first + 1);
}

std::string dotLottieManifest() {
    SortedJson animation = {{"id", "caption"},  {"loop", false},      {"autoplay", false},
                            {"speed", 1},       {"direction", 1},     {"playMode", "normal"}};
    SortedJson manifest = {{"version", "1.0"},
                           {"generator", "Tessivo 1.1"},
                           {"animations", SortedJson::array({std::move(animation)})}};
    return *serializeSortedJson(manifest);
}

Result<std::filesystem::path> packageDotLottie(std::string_view manifest, std::string_view document,
                                               const std::filesystem::path& destination) {
    ZipErrorText error;
    // The archive is built in a memory buffer, then written in one atomic step.
    ZipSourcePtr buffer(zip_source_buffer_create(nullptr, 0, 0, &error.error));
    if (!buffer) return lottieError(kLottieArchiveError, error.text());
    zip_source_keep(buffer.get());  // stays ours after the archive closes
    ZipArchivePtr archive(zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error.error));
    if (!archive) {
        zip_source_free(buffer.get());  // drop the reference taken for the failed archive
        return lottieError(kLottieArchiveError, error.text());
    }

    auto addEntry = [&](const char* name, std::string_view data) -> bool {
        zip_source_t* source = zip_source_buffer(archive.get(), data.data(), data.size(), 0);
        if (!source) return false;
        const zip_int64_t index = zip_file_add(archive.get(), name, source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip_source_free(source);
            return false;
        }
        // Stored, not deflated: the documents carry their glyph outlines, and
        // compressing them took most of the time of an export for a few tens
        // of kilobytes saved per clip.
        return zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) == 0;
    };
    if (!addEntry("manifest.json", manifest) || !addEntry("animations/caption.json", document))
        return lottieError(kLottieArchiveError, zip_strerror(archive.get()));
    if (zip_close(archive.get()) < 0) return lottieError(kLottieArchiveError, zip_strerror(archive.get()));
    archive.release();  // closed

    if (zip_source_open(buffer.get()) < 0) return lottieError(kLottieArchiveError, zip_error_strerror(zip_source_error(buffer.get())));
    std::string bytes;
    bool readOk = zip_source_seek(buffer.get(), 0, SEEK_END) == 0;
    zip_int64_t size = readOk ? zip_source_tell(buffer.get()) : -1;
    if (size >= 0 && zip_source_seek(buffer.get(), 0, SEEK_SET) == 0) {
        bytes.resize(static_cast<std::size_t>(size));
        readOk = zip_source_read(buffer.get(), bytes.data(), static_cast<zip_uint64_t>(size)) == size;
    } else {
        readOk = false;
    }
    zip_source_close(buffer.get());
    if (!readOk) return lottieError(kLottieArchiveError, zip_error_strerror(zip_source_error(buffer.get())));

    Error writeError;
    if (!writeFileAtomically(destination, bytes, &writeError))
        return lottieError(kLottieArchiveError, writeError.message);
    return destination;
}

Result<std::vector<LottieClip>> makeResolveLottieClips(const Json& params, const ExportFolderMaker& makeFolder) {
    const double start = finiteDoubleValue(params, "start", 0);
    const double end = finiteDoubleValue(params, "end", start);
    const std::int64_t width = std::max<std::int64_t>(intValue(params, "width", 1920), 1);
    const std::int64_t height = std::max<std::int64_t>(intValue(params, "height", 1080), 1);
    const double fps = std::max(finiteDoubleValue(params, "fps", 60), 1.0);
    if (!(start < end)) return lottieError(kLottieEmptyRangeError);

    const Json* sequences = member(params, "sequences");
    if (!sequences || !sequences->is_array() ||
        !std::all_of(sequences->begin(), sequences->end(), [](const Json& s) { return s.is_object(); }))
        return lottieError(kLottieNoSequencesError);

    Result<std::filesystem::path> folder = [&]() -> Result<std::filesystem::path> {
        if (makeFolder) return makeFolder();
        const Json* debugBase = member(params, "_debugOutputDirectory");
        if (debugBase && debugBase->is_string())
            return makeResolveLottieFolder(std::filesystem::path(debugBase->get<std::string>()) / "Tessivo" / "DaVinciLottie");
        return makeResolveLottieFolder();
    }();
    if (!folder) return folder.error();

    std::vector<const Json*> blocks;
    for (const Json& sequence : *sequences) blocks.push_back(&sequence);
    std::stable_sort(blocks.begin(), blocks.end(), [](const Json* a, const Json* b) {
        return finiteDoubleValue(*a, "startTime", 0) < finiteDoubleValue(*b, "startTime", 0);
    });

    const std::string manifest = dotLottieManifest();
    std::vector<LottieClip> clips;
    for (const Json* block : blocks) {
        const double s = finiteDoubleValue(*block, "startTime", 0);
        const double d = std::max(finiteDoubleValue(*block, "duration", 0.01), 0.01);
        const double clippedStart = std::max(s, start);
        const double clippedEnd = std::min(s + d, end);
        if (!(clippedStart < clippedEnd)) continue;

        const std::int64_t N = std::max<std::int64_t>(nearestFrameCount(fps * (clippedEnd - clippedStart)), 1);
        const std::int64_t D = std::max(N, nearestFrameCount(fps * d));
        const std::int64_t S = std::max<std::int64_t>(nearestFrameCount(fps * (clippedStart - s)), 0);

        const std::string id = sanitizeLottieIdentifier(stringValue(*block, "id", "caption"));
        const std::int64_t n = static_cast<std::int64_t>(clips.size()) + 1;
        std::filesystem::path archivePath = folder.value() / archiveName(n, id);

        auto documentText = makeLottieDocumentText(*block, width, height, fps, D, S, N);
        if (!documentText)
            return Error{kDomainDelivery, kLottieArchiveError,
                         "Impossible de créer l'archive dotLottie. Le document Lottie ne peut pas être écrit."};
        auto packaged = packageDotLottie(manifest, *documentText, archivePath);
        if (!packaged) return packaged.error();

        LottieClip clip;
        clip.filePath = std::move(archivePath);
        clip.start = clippedStart;
        clip.end = clippedEnd;
        clip.duration = clippedEnd - clippedStart;
        clip.durationFrames = N;
        clip.text = stringValue(*block, "text", "");
        clip.font = stringValue(*block, "font", "Helvetica Neue");
        clips.push_back(std::move(clip));
    }
    return clips;
}

Json lottieClipRecords(const std::vector<LottieClip>& clips) {
    Json records = Json::array();
    for (const auto& clip : clips) {
        Json record = Json::object();
        record["filePath"] = clip.filePath.string();
        record["start"] = clip.start;
        record["end"] = clip.end;
        record["duration"] = clip.duration;
        record["durationFrames"] = clip.durationFrames;
        record["text"] = clip.text;
        record["font"] = clip.font;
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace tessivo

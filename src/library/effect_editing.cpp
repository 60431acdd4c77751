#include "library/effect_editing.h"

#include "bridge/coercion.h"
#include "engine_api/engine_context.h"
#include "library/preview_frames.h"
#include "platform/files.h"
#include "resolve/python_runner.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <system_error>

extern const char kCaptureEffectScript[];
extern const char kPreviewEffectScript[];

namespace tessivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCapturedCallback = "window.onFusionEffectCaptured";
constexpr const char* kPreviewedCallback = "window.onFusionEffectPreviewed";
constexpr const char* kUpdatedCallback = "window.onFusionEffectUpdated";
constexpr const char* kDeletedCallback = "window.onFusionEffectDeleted";
constexpr const char* kPreviewWarning =
    "L'aperçu réel n'a pas pu être prélevé dans Resolve. Replace la tête sur le clip puis utilise Actualiser l'aperçu réel.";
// Longer than any name a person types: pasted text, refused rather than cut.
constexpr std::size_t kAbsurdNameLength = 1000;

std::string nowISO8601() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string trimmed(const std::string& text) {
    auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), space);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), space).base();
    return first < last ? std::string(first, last) : std::string();
}

std::size_t characterCount(const std::string& text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text.size();
    return static_cast<std::size_t>(g_utf8_strlen(text.data(), static_cast<gssize>(text.size())));
}

// The first `count` characters of UTF-8 text (bytes when it is not UTF-8).
std::string firstCharacters(const std::string& text, std::size_t count) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text.substr(0, count);
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (std::size_t n = 0; n < count && at < end; ++n) at = g_utf8_next_char(at);
    return std::string(text.data(), static_cast<std::size_t>(std::min(at, end) - text.data()));
}

bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

bool isIncluded(const std::string& id) {
    const auto& included = includedFusionEffectIDs();
    return std::find(included.begin(), included.end(), id) != included.end();
}

Error labelError(const char* message) { return Error{kDomainFusion, kLibraryBadEffectName, message}; }

void removeFolderQuietly(const fs::path& folder) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

std::int64_t unixSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

const char* captureEffectScript() { return kCaptureEffectScript; }
const char* previewEffectScript() { return kPreviewEffectScript; }

Result<EffectLabels> editedEffectLabels(const Json& request, const Json& stored) {
    const Json* name = member(request, "name");
    const Json* category = member(request, "category");
    // A name the request gives is checked as given; an absent one keeps the stored name.
    std::string newName = name ? trimmed(stringValue(name, "")) : trimmed(stringValue(stored, "name", "Effet Fusion"));
    if (name && newName.empty()) return labelError("Le nom de l'effet ne peut pas être vide.");
    if (characterCount(newName) > kAbsurdNameLength) return labelError("Ce nom est beaucoup trop long pour un effet.");
    std::string newCategory = trimmed(category ? stringValue(category, "") : stringValue(stored, "category", "Mes effets"));
    if (hasControlCharacter(newName) || hasControlCharacter(newCategory))
        return labelError("Le nom et la catégorie ne peuvent pas contenir de caractères de contrôle.");
    newName = firstCharacters(newName, 120);
    newCategory = firstCharacters(newCategory, 80);
    if (newName.empty()) newName = "Effet Fusion";
    if (newCategory.empty()) newCategory = "Mes effets";
    return EffectLabels{newName, newCategory};
}

fs::path uniqueTrashFolder(const fs::path& trash, const std::string& id, std::int64_t seconds) {
    const std::string base = id + "-" + std::to_string(seconds);
    std::error_code code;
    fs::path candidate = trash / base;
    for (int n = 2; fs::exists(fs::symlink_status(candidate, code)); ++n) candidate = trash / (base + "-" + std::to_string(n));
    return candidate;
}

void applyPreviewResult(Json& metadata, const Json& result) {
    for (const char* key : {"previewFps", "previewAspectRatio", "previewWidth", "previewHeight"}) {
        if (const Json* value = member(result, key)) {
            metadata[key] = *value;
        } else {
            metadata.erase(key);
        }
    }
    const Json* frames = member(result, "previewFramePaths");
    if (!frames || !frames->is_array()) return;
    std::vector<fs::path> paths;
    for (const auto& frame : *frames) {
        if (!frame.is_string()) return;
        paths.emplace_back(frame.get<std::string>());
    }
    Json shrunk = Json::array();
    for (const auto& path : optimizeFusionPreviewFrames(paths)) shrunk.push_back(path.string());
    metadata["previewFramePaths"] = std::move(shrunk);
}

// Export queue.
void FusionEffectEditing::captureCurrentFusionEffect(const Json& payload) {
    auto fail = [this](const std::string& message) {
        engine_.fusionCallback(kCapturedCallback, Json{{"success", false}, {"error", message}});
    };
    const std::string name = firstCharacters(trimmed(stringValue(payload, "name", "")), 160);
    const std::string category = firstCharacters(trimmed(stringValue(payload, "category", "Mes effets")), 120);
    auto root = store_.fusionLibraryRoot();
    if (!root) return fail(root.error().message);
    std::string uuid = makeUUID();
    std::transform(uuid.begin(), uuid.end(), uuid.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string id = "captured-" + uuid;
    const fs::path folder = root.value() / id;
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        removeFolderQuietly(folder);
        return fail("Accès impossible : " + folder.string() + " (" + code.message() + ")");
    }
    const fs::path templatePath = folder / "template.setting";
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(kCaptureEffectScript, {templatePath.string()}, kCaptureTimeLimit,
                                      [this, weak, id, name, category, folder, templatePath,
                                       root = root.value()](Result<Json> outcome) {
        auto engine = weak.lock();
        if (!engine) {
            // Nobody will finish this effect: leave no folder without metadata.
            removeFolderQuietly(folder);
            return;
        }
        engine->exportQueue().post([this, weak, outcome = std::move(outcome), id, name, category, folder, templatePath, root] {
            auto alive = weak.lock();
            if (!alive) return removeFolderQuietly(folder);
            auto fail = [this, &folder](const std::string& message) {
                removeFolderQuietly(folder);
                engine_.fusionCallback(kCapturedCallback, Json{{"success", false}, {"error", message}});
            };
            if (!outcome) return fail(outcome.error().message);
            const Json& result = outcome.value();
            if (!boolValue(result, "success", false))
                return fail(stringValue(result, "message", "Le clip courant ne contient pas de composition Fusion capturable."));
            Json metadata = result.is_object() ? result : Json::object();
            metadata.erase("success");
            const std::string now = nowISO8601();
            metadata["id"] = id;
            metadata["schemaVersion"] = 1;
            metadata["name"] = name.empty() ? stringValue(result, "clipName", "Effet Fusion capturé") : name;
            metadata["category"] = category.empty() ? "Mes effets" : category;
            metadata["source"] = "captured";
            metadata["templatePath"] = templatePath.string();
            metadata["createdAt"] = now;
            metadata["updatedAt"] = now;
            // Written before the preview run: should the preview never come
            // back, the library still holds a usable effect.
            Error error;
            if (!store_.writeFusionMetadata(metadata, id, root, &error)) return fail(error.message);
            capturePreview(std::move(metadata), root, folder);
        });
    });
}

// Export queue.
void FusionEffectEditing::capturePreview(Json metadata, fs::path root, fs::path folder) {
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(kPreviewEffectScript, {(folder / "preview").string()}, kPreviewTimeLimit,
                                      [this, weak, metadata = std::move(metadata), root, folder](Result<Json> outcome) mutable {
        auto engine = weak.lock();
        if (!engine) return;
        engine->exportQueue().post([this, weak, outcome = std::move(outcome), metadata = std::move(metadata), root, folder]() mutable {
            if (!weak.lock()) return;
            if (outcome && boolValue(outcome.value(), "success", false)) {
                applyPreviewResult(metadata, outcome.value());
            } else {
                Json& compatibility = metadata["compatibility"];
                if (!compatibility.is_object()) compatibility = Json::object();
                Json& warnings = compatibility["warnings"];
                if (!warnings.is_array()) warnings = Json::array();
                warnings.push_back(kPreviewWarning);
            }
            const std::string id = metadata["id"].get<std::string>();
            Error error;
            if (!store_.writeFusionMetadata(metadata, id, root, &error)) {
                removeFolderQuietly(folder);
                engine_.fusionCallback(kCapturedCallback, Json{{"success", false}, {"error", error.message}});
                return;
            }
            engine_.fusionCallback(kCapturedCallback,
                                   Json{{"success", true}, {"effect", store_.hydrateFusionEffectPreview(metadata, root)}});
        });
    });
}

// Main thread.
void FusionEffectEditing::refreshFusionEffectPreview(const Json& payload) {
    const std::string id = stringValue(payload, "id", "");
    if (id.rfind("shared-", 0) == 0 && sharedPreview_) return sharedPreview_(id);
    auto weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, payload] {
        if (weak.lock()) runPreviewRefresh(payload);
    });
}

// Export queue.
void FusionEffectEditing::runPreviewRefresh(const Json& payload) {
    auto fail = [this](const std::string& message) {
        engine_.fusionCallback(kPreviewedCallback, Json{{"success", false}, {"error", message}});
    };
    auto id = validatedFusionEffectID(member(payload, "id"));
    if (!id) return fail(id.error().message);
    auto root = store_.fusionLibraryRoot();
    if (!root) return fail(root.error().message);
    auto metadata = store_.readFusionMetadata(id.value(), root.value());
    if (!metadata) return fail(metadata.error().message);
    if (stringValue(metadata.value(), "source", "") == "built-in")
        return fail("Les modèles intégrés n'ont pas de clip Resolve source à prélever.");
    // Their frames ship with the application, whose resources stay untouched.
    if (isIncluded(id.value())) return fail("Les effets inclus dans Tessivo n'ont pas de clip Resolve source à prélever.");

    const fs::path previews = store_.fusionEffectDirectory(id.value(), root.value()) / "preview";
    std::error_code code;
    fs::create_directories(previews, code);
    for (const auto& entry : fs::directory_iterator(previews, code)) {
        if (entry.path().filename().string().rfind("frame_", 0) == 0) {
            std::error_code ignored;
            fs::remove_all(entry.path(), ignored);
        }
    }
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(kPreviewEffectScript, {previews.string()}, kPreviewTimeLimit,
                                      [this, weak, id = id.value(), metadata = std::move(metadata).value(),
                                       root = root.value()](Result<Json> outcome) mutable {
        auto engine = weak.lock();
        if (!engine) return;
        engine->exportQueue().post([this, weak, outcome = std::move(outcome), id, metadata = std::move(metadata), root]() mutable {
            if (!weak.lock()) return;
            auto fail = [this](const std::string& message) {
                engine_.fusionCallback(kPreviewedCallback, Json{{"success", false}, {"error", message}});
            };
            if (!outcome) return fail(outcome.error().message);
            if (!boolValue(outcome.value(), "success", false))
                return fail(stringValue(outcome.value(), "message", "Aperçu réel impossible."));
            applyPreviewResult(metadata, outcome.value());
            metadata["updatedAt"] = nowISO8601();
            Error error;
            if (!store_.writeFusionMetadata(metadata, id, root, &error)) return fail(error.message);
            engine_.fusionCallback(kPreviewedCallback,
                                   Json{{"success", true}, {"effect", store_.hydrateFusionEffectPreview(metadata, root)}});
        });
    });
}

// Export queue.
void FusionEffectEditing::updateFusionEffectMetadata(const Json& payload) {
    auto fail = [this](const std::string& message) {
        engine_.fusionCallback(kUpdatedCallback, Json{{"success", false}, {"error", message}});
    };
    auto id = validatedFusionEffectID(member(payload, "id"));
    if (!id) return fail(id.error().message);
    auto root = store_.fusionLibraryRoot();
    if (!root) return fail(root.error().message);
    auto metadata = store_.readFusionMetadata(id.value(), root.value());
    if (!metadata) return fail(metadata.error().message);
    auto labels = editedEffectLabels(payload, metadata.value());
    if (!labels) return fail(labels.error().message);
    Json updated = std::move(metadata).value();
    updated["name"] = labels.value().name;
    updated["category"] = labels.value().category;
    updated["updatedAt"] = nowISO8601();
    Error error;
    if (!store_.writeFusionMetadata(updated, id.value(), root.value(), &error)) return fail(error.message);
    engine_.fusionCallback(kUpdatedCallback,
                           Json{{"success", true}, {"effect", store_.hydrateFusionEffectPreview(updated, root.value())}});
}

// Export queue.
void FusionEffectEditing::archiveFusionEffect(const Json& payload) {
    auto fail = [this](const std::string& message) {
        engine_.fusionCallback(kDeletedCallback, Json{{"success", false}, {"error", message}});
    };
    auto id = validatedFusionEffectID(member(payload, "id"));
    if (!id) return fail(id.error().message);
    auto root = store_.fusionLibraryRoot();
    if (!root) return fail(root.error().message);
    // Their folders belong to the application's resources, which stay untouched.
    if (isIncluded(id.value()))
        return fail("Les effets inclus dans Tessivo ne peuvent pas être archivés.");
    auto metadata = store_.readFusionMetadata(id.value(), root.value());
    if (!metadata) return fail(metadata.error().message);
    if (stringValue(metadata.value(), "source", "") == "built-in") {
        auto hidden = FusionLibraryStore::hiddenBuiltInFusionEffectIDs(root.value());
        hidden.insert(id.value());
        Error error;
        if (!FusionLibraryStore::writeHiddenBuiltInFusionEffectIDs(hidden, root.value(), &error)) return fail(error.message);
    }
    // An effect archived twice in one second, or re-captured under an ID
    // archived before, gets its own name: ".Trash" never merges two folders.
    const fs::path target = uniqueTrashFolder(root.value() / ".Trash", id.value(), unixSeconds());
    std::error_code code;
    fs::create_directories(target.parent_path(), code);
    fs::rename(store_.fusionEffectDirectory(id.value(), root.value()), target, code);
    if (code) return fail("Archivage impossible : " + target.string() + " (" + code.message() + ")");
    engine_.fusionCallback(kDeletedCallback, Json{{"success", true}, {"id", id.value()}});
}

}  // namespace tessivo

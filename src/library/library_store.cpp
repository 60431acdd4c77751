#include "library/library_store.h"

#include "bridge/coercion.h"
#include "fusion/fusion_setting.h"
#include "platform/files.h"

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <system_error>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHiddenFile = ".hidden-effects.json";
constexpr const char* kSharedFile = "shared-library.json";
constexpr const char* kSeedCreatedAt = "2026-08-27T00:00:00Z";

struct SeedEffect {
    const char* id;
    const char* name;
    const char* category;
    const char* previewStyle;
    const char* text;
    const char* font;
    double size;
    const char* color;
    double x;
    double y;
};

constexpr SeedEffect kSeeds[] = {
    {"builtin-pop-clean", "Pop Clean", "Essentiels", "pulse", "POP", "Inter", 13, "#ffffff", 50, 50},
    {"builtin-slide-kinetic", "Slide Kinetic", "Mouvement", "slide", "KINETIC", "Bebas Neue", 12, "#8b5cf6", 50, 52},
    {"builtin-typewriter", "Typewriter Native", "Essentiels", "type", "TYPE", "Menlo", 9, "#22d3ee", 50, 50},
};

Error platformError(const std::string& message) { return Error{kDomainPlatform, -1, message}; }

Error fileError(const fs::path& path, const std::error_code& code) {
    return platformError("Accès impossible : " + path.string() + " (" + code.message() + ")");
}

std::string nowISO8601() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

SortedJson sorted(const Json& value) {
    if (value.is_object()) {
        SortedJson out = SortedJson::object();
        for (const auto& [key, item] : value.items()) out[key] = sorted(item);
        return out;
    }
    if (value.is_array()) {
        SortedJson out = SortedJson::array();
        for (const auto& item : value) out.push_back(sorted(item));
        return out;
    }
    switch (value.type()) {
        case Json::value_t::string: return value.get<std::string>();
        case Json::value_t::boolean: return value.get<bool>();
        case Json::value_t::number_integer: return value.get<std::int64_t>();
        case Json::value_t::number_unsigned: return value.get<std::uint64_t>();
        case Json::value_t::number_float: return value.get<double>();
        default: return nullptr;
    }
}

// The JSON object in `file`, or nullopt when it is missing, unreadable or not an object.
std::optional<Json> readObject(const fs::path& file) {
    auto text = readFile(file);
    if (!text) return std::nullopt;
    auto value = parseJson(*text);
    if (!value || !value->is_object()) return std::nullopt;
    return value;
}

std::string casefolded(const std::string& text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    gchar* folded = g_utf8_casefold(text.data(), static_cast<gssize>(text.size()));
    gchar* key = g_utf8_collate_key(folded, -1);
    std::string result = key;
    g_free(key);
    g_free(folded);
    return result;
}

bool isIncluded(const std::string& id) {
    const auto& ids = includedFusionEffectIDs();
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

Error fusionLibraryError(std::int64_t code) {
    switch (code) {
        case kLibraryNoDataFolder: return {kDomainFusion, code, "Le dossier Application Support est introuvable."};
        case kLibraryInvalidID: return {kDomainFusion, code, "Identifiant d'effet Fusion invalide."};
        case kLibraryBadMetadata: return {kDomainFusion, code, "Les métadonnées de cet effet sont illisibles."};
        case kLibraryInsertTemplateMissing:
        case kLibraryApplyTemplateMissing:
            return {kDomainFusion, code, "Le fichier source de cet effet est introuvable."};
        case kLibraryApplyJobText: return {kDomainFusion, code, "La préparation du titre natif a échoué."};
        case kLibraryNoNativeTitle:
            return {kDomainFusion, code, "Le modèle Text+ intégré manque dans l\u2019application."};
        default: return {kDomainFusion, code, "L'opération Fusion a échoué."};
    }
}

const std::vector<std::string>& includedFusionEffectIDs() {
    static const std::vector<std::string> ids = {"included-morph-elastic", "included-shine"};
    return ids;
}

Result<std::string> validatedFusionEffectID(const Json* value) {
    std::string text = stringValue(value, "");
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    text = first < last ? std::string(first, last) : std::string();
    const bool valid = !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
    if (!valid) return fusionLibraryError(kLibraryInvalidID);
    return text;
}

bool writeLibraryJson(const fs::path& file, const Json& value, Error* error) {
    auto text = serializePrettySortedJson(sorted(value));
    if (!text) {
        if (error) *error = platformError("Écriture JSON impossible : " + file.string());
        return false;
    }
    return writeFileAtomically(file, *text + "\n", error);
}

fs::path standardizedPath(const fs::path& path) {
    std::error_code code;
    fs::path absolute = fs::absolute(path, code);
    if (code) absolute = path;
    fs::path normal = absolute.lexically_normal();
    // A trailing separator makes an empty last element; drop it.
    if (!normal.empty() && !normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
    return normal;
}

bool isInsideFolder(const fs::path& path, const fs::path& folder) {
    auto within = [](const fs::path& inner, const fs::path& outer) {
        const std::string prefix = outer.string() + "/";
        return inner.string().compare(0, prefix.size(), prefix) == 0;
    };
    const fs::path inner = standardizedPath(path);
    const fs::path outer = standardizedPath(folder);
    if (!within(inner, outer)) return false;
    std::error_code code;
    // A direct child that is no link stays inside whatever the folder's own
    // path goes through: one lstat instead of resolving every component.
    if (inner.parent_path() == outer) {
        const auto status = fs::symlink_status(inner, code);
        if (!code && status.type() != fs::file_type::symlink) return true;
    }
    const fs::path realFolder = fs::weakly_canonical(folder, code);
    if (code) return false;
    const fs::path realPath = fs::weakly_canonical(path, code);
    if (code) return false;
    return within(realPath, realFolder);
}

Result<fs::path> FusionLibraryStore::bundledFusionRoot() const {
    if (resourcesFolder_.empty()) return platformError("Les ressources de Tessivo sont introuvables.");
    const fs::path bundled = resourcesFolder_ / "BundledFusionEffects";
    std::error_code code;
    if (!fs::is_directory(bundled, code))
        return Error{kDomainFusion, 0, "Les effets inclus sont introuvables. Réinstalle Tessivo."};
    return bundled;
}

fs::path FusionLibraryStore::fusionEffectDirectory(const std::string& id, const fs::path& root) const {
    if (isIncluded(id)) {
        if (auto bundled = bundledFusionRoot()) return bundled.value() / id;
    }
    return root / id;
}

Result<fs::path> FusionLibraryStore::fusionLibraryRoot() const {
    if (dataFolder_.empty()) return fusionLibraryError(kLibraryNoDataFolder);
    const fs::path root = dataFolder_ / "Tessivo" / "FusionEffects";
    std::error_code code;
    fs::create_directories(root / ".Trash", code);
    if (code || !fs::is_directory(root / ".Trash")) return fileError(root, code);
    if (auto failure = seedBuiltInFusionEffects(root)) return *failure;
    return root;
}

Result<Json> FusionLibraryStore::readFusionMetadata(const std::string& id, const fs::path& root) const {
    const fs::path folder = fusionEffectDirectory(id, root);
    const fs::path file = folder / "metadata.json";
    auto text = readFile(file);
    if (!text) return platformError("Lecture impossible : " + file.string());
    auto value = parseJson(*text);
    if (!value) return platformError("JSON illisible : " + file.string());
    if (!value->is_object()) return fusionLibraryError(kLibraryBadMetadata);
    Json metadata = std::move(*value);
    if (isIncluded(id)) {
        metadata["templatePath"] = (folder / "template.setting").string();
        Json frames = Json::array();
        if (const Json* listed = member(metadata, "previewFramePaths"); listed && listed->is_array()) {
            for (const Json& entry : *listed) {
                if (!entry.is_string()) continue;
                const auto& name = entry.get_ref<const std::string&>();
                if (name.empty() || name.front() == '/' || name.find("..") != std::string::npos) continue;
                frames.push_back((folder / name).string());
            }
        }
        metadata["previewFramePaths"] = std::move(frames);
    }
    return metadata;
}

bool FusionLibraryStore::writeFusionMetadata(const Json& metadata, const std::string& id, const fs::path& root,
                                             Error* error) const {
    const fs::path folder = fusionEffectDirectory(id, root);
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        if (error) *error = fileError(folder, code);
        return false;
    }
    return writeLibraryJson(folder / "metadata.json", metadata, error);
}

std::set<std::string> FusionLibraryStore::hiddenBuiltInFusionEffectIDs(const fs::path& root) {
    std::set<std::string> ids;
    auto text = readFile(root / kHiddenFile);
    if (!text) return ids;
    auto value = parseJson(*text);
    if (!value || !value->is_array()) return ids;
    for (const Json& entry : *value) {
        if (!entry.is_string()) return {};
        ids.insert(entry.get<std::string>());
    }
    return ids;
}

bool FusionLibraryStore::writeHiddenBuiltInFusionEffectIDs(const std::set<std::string>& ids, const fs::path& root,
                                                           Error* error) {
    Json array = Json::array();
    for (const auto& id : ids) array.push_back(id);  // a std::set is already ascending
    return writeLibraryJson(root / kHiddenFile, array, error);
}

std::optional<Error> FusionLibraryStore::seedBuiltInFusionEffects(const fs::path& root) const {
    const auto hidden = hiddenBuiltInFusionEffectIDs(root);
    for (const SeedEffect& seed : kSeeds) {
        if (hidden.count(seed.id)) continue;
        const fs::path folder = root / seed.id;
        const Json existing = readObject(folder / "metadata.json").value_or(Json::object());
        if (intValue(existing, "schemaVersion", 0) >= 2) continue;

        Json sequence = {{"id", seed.id},   {"name", seed.name}, {"category", seed.category},
                         {"text", seed.text}, {"font", seed.font}, {"size", seed.size},
                         {"color", seed.color}, {"x", seed.x},       {"y", seed.y},
                         {"start", 0},        {"end", 3}};
        std::error_code code;
        fs::create_directories(folder, code);
        if (code) return fileError(folder, code);
        const fs::path templatePath = folder / "template.setting";
        Error error;
        if (!writeFileAtomically(templatePath, makeResolveFusionSettingDocument(sequence, 1920, 1080, 75), &error))
            return error;

        const Json target = {{"toolName", "Template"}, {"label", "Texte principal"}, {"text", seed.text},
                             {"font", seed.font},      {"size", seed.size / 100},     {"color", seed.color},
                             {"center", {0.5, 0.5}}};
        auto kept = [&](const char* key, const std::string& fallback) {
            const Json* value = member(existing, key);
            return value && value->is_string() && !value->get_ref<const std::string&>().empty()
                       ? value->get<std::string>()
                       : fallback;
        };
        const Json metadata = {
            {"id", seed.id},
            {"schemaVersion", 2},
            {"name", kept("name", seed.name)},
            {"category", kept("category", seed.category)},
            {"source", "built-in"},
            {"templatePath", templatePath.string()},
            {"previewStyle", seed.previewStyle},
            {"duration", 3.0},
            {"toolTypes", {"TextPlus", "MediaOut"}},
            {"textTargets", Json::array({target})},
            {"primaryTextTarget", "Template"},
            {"compatibility",
             {{"status", "editable"}, {"editableText", true}, {"warnings", Json::array()}, {"riskyToolTypes", Json::array()}}},
            {"createdAt", kept("createdAt", kSeedCreatedAt)},
            {"updatedAt", nowISO8601()},
        };
        if (!writeFusionMetadata(metadata, seed.id, root, &error)) return error;
    }
    return std::nullopt;
}

Result<Json> FusionLibraryStore::fusionEffectList(bool visibleOnly) const {
    auto lists = fusionEffectLists();
    if (!lists) return lists.error();
    return visibleOnly ? std::move(lists.value().first) : std::move(lists.value().second);
}

Result<std::pair<Json, Json>> FusionLibraryStore::fusionEffectLists() const {
    auto rootResult = fusionLibraryRoot();
    if (!rootResult) return rootResult.error();
    const fs::path& root = rootResult.value();

    std::optional<std::set<std::string>> shared;
    if (auto sharedFile = readObject(root / kSharedFile)) {
        const Json* ids = member(*sharedFile, "ids");
        if (ids && ids->is_array() && std::all_of(ids->begin(), ids->end(), [](const Json& v) { return v.is_string(); })) {
            shared.emplace();
            for (const Json& id : *ids) shared->insert(id.get<std::string>());
        }
    }

    std::vector<fs::path> entries;
    std::error_code code;
    for (fs::directory_iterator it(root, code), end; !code && it != end; it.increment(code)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name.front() != '.') entries.push_back(it->path());
    }
    if (code) return fileError(root, code);
    std::sort(entries.begin(), entries.end());

    struct Listed {
        bool builtIn;
        bool visible;
        std::string key;
        Json effect;
    };
    std::vector<Listed> listed;
    auto add = [&](Json effect, bool visible) {
        const bool builtIn = stringValue(effect, "source", "") == "built-in";
        std::string key = casefolded(stringValue(member(effect, "name"), ""));
        listed.push_back({builtIn, visible, std::move(key), std::move(effect)});
    };
    // Included effects are listed whatever the shared set says.
    for (const auto& id : includedFusionEffectIDs()) {
        auto metadata = readFusionMetadata(id, root);
        if (!metadata) return metadata.error();
        add(hydrateFusionEffectPreview(metadata.value(), root), true);
    }
    for (const fs::path& entry : entries) {
        const std::string name = entry.filename().string();
        if (isIncluded(name) || !fs::is_directory(entry, code)) continue;
        auto metadata = readObject(entry / "metadata.json");
        if (!metadata) continue;
        const bool visible = !shared || shared->count(stringValue(*metadata, "id", ""));
        add(hydrateFusionEffectPreview(*metadata, root), visible);
    }
    // Stable: the visible list, a subsequence of the whole, keeps the same order.
    std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        if (a.builtIn != b.builtIn) return a.builtIn;
        return a.key < b.key;
    });
    Json visible = Json::array();
    Json all = Json::array();
    for (Listed& item : listed) {
        if (item.visible) visible.push_back(item.effect);
        all.push_back(std::move(item.effect));
    }
    return std::make_pair(std::move(visible), std::move(all));
}

Json FusionLibraryStore::hydrateFusionEffectPreview(const Json& metadata, const fs::path& root) const {
    const std::string id = stringValue(metadata, "id", "");
    if (id.empty()) return metadata;
    Json effect = metadata;
    const fs::path folder = standardizedPath(fusionEffectDirectory(id, root));

    const std::string templatePath = stringValue(effect, "templatePath", (folder / "template.setting").string());
    // Only a template inside the effect's own folder is read.
    if (isInsideFolder(templatePath, folder)) {
        if (auto text = readFile(templatePath); text && fusionTemplateUsesGradient(*text)) {
            Json* targets = effect.contains("textTargets") ? &effect["textTargets"] : nullptr;
            if (targets && targets->is_array() && !targets->empty() &&
                std::all_of(targets->begin(), targets->end(), [](const Json& t) { return t.is_object(); })) {
                Json& first = (*targets)[0];
                first["colorInput"] = "gradient1";
                const auto colors = fusionGradientColors(*text);
                if (!colors.empty()) {
                    first["color"] = colors.front();
                    first["color2"] = colors.back();
                }
            }
        }
    }

    Json frames = Json::array();
    if (const Json* paths = member(effect, "previewFramePaths"); paths && paths->is_array()) {
        std::size_t taken = 0;
        for (const Json& entry : *paths) {
            if (taken++ >= kMaxInlinedFrames) break;
            if (!entry.is_string()) continue;
            const fs::path frame = standardizedPath(entry.get<std::string>());
            if (!isInsideFolder(frame, folder)) continue;
            auto bytes = readFile(frame);
            if (!bytes || bytes->empty()) continue;
            frames.push_back(previewDataURL(frame, *bytes));
        }
    }
    effect["hasResolvePreview"] = !frames.empty();
    effect["previewFrames"] = std::move(frames);
    return effect;
}

}  // namespace tessivo

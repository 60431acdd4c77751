// The library script's text and the progress texts of the preview chain.
#include "library/shared_library.h"
#include "platform/files.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace tessivo {
namespace {

namespace fs = std::filesystem;

TEST(ResolveLibraryScript, PathLineThenModuleOrFailure) {
    // A folder name with a quote, a backslash and accents must survive as is.
    const fs::path folder = fs::temp_directory_path() / ("tessivo res'ources\\é-" + makeUUID());
    fs::create_directories(folder);
    const struct {
        const char* label;
        std::optional<std::string> module;  // nullopt: no resource file
        bool usable;
    } cases[] = {
        {"missing", std::nullopt, false},
        {"not UTF-8", std::string("print('\xff')\n"), false},
        {"present", std::string("print('bibliothèque')\n"), true},
    };
    for (const auto& c : cases) {
        fs::remove(folder / "resolve_library.py");
        if (c.module) {
            ASSERT_TRUE(writeFileAtomically(folder / "resolve_library.py", *c.module));
        }
        const std::string script = resolveLibraryScript(folder);
        if (!c.usable) {
            EXPECT_EQ(script, "raise RuntimeError('Module bibliothèque absent.')") << c.label;
            continue;
        }
        const std::string first = "import sys, base64\nsys.path.insert(0, base64.b64decode('";
        ASSERT_EQ(script.rfind(first, 0), 0u) << c.label;
        const auto end = script.find("').decode('utf-8'))\n", first.size());
        ASSERT_NE(end, std::string::npos);
        gsize size = 0;
        guchar* decoded = g_base64_decode(script.substr(first.size(), end - first.size()).c_str(), &size);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded), size), folder.string()) << c.label;
        g_free(decoded);
        EXPECT_EQ(script.substr(end + 20), *c.module) << c.label;
    }
    fs::remove_all(folder);
}

TEST(SharedPreviewProgressText, CountedFromOne) {
    EXPECT_EQ(sharedPreviewProgressText(0, 3), "Aperçu 1/3 · calcul dans Resolve\u2026");
    EXPECT_EQ(sharedPreviewProgressText(2, 3), "Aperçu 3/3 · calcul dans Resolve\u2026");
}

}  // namespace
}  // namespace tessivo

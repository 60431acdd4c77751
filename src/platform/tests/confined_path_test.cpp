#include "platform/confined_path.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {
namespace {

namespace fs = std::filesystem;
using Status = ConfinedFile::Status;

const char* statusName(Status status) {
    switch (status) {
        case Status::Found: return "Found";
        case Status::Malformed: return "Malformed";
        case Status::Forbidden: return "Forbidden";
        case Status::NotFound: return "NotFound";
    }
    return "?";
}

// tmp/
//   res/                      the served root
//     web/index.html, web/css/a.css, web/sub/
//     web/inside -> ../fonts/ttf/A B.ttf      (stays inside)
//     web/outside -> ../../secret.txt         (leads out)
//     web/outside-dir -> ../..                 (a folder outside)
//     web/sibling -> ../../res-other/file.txt (a folder whose name extends the root's)
//     fonts/ttf/A B.ttf
//   res-other/file.txt
//   secret.txt
//   res-link -> res
class ServedTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tessivo-confined-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        tmp = pattern;
        root = tmp / "res";
        for (const char* dir : {"res/web/css", "res/web/sub", "res/fonts/ttf", "res-other"})
            fs::create_directories(tmp / dir);
        for (const char* file : {"res/web/index.html", "res/web/css/a.css", "res/fonts/ttf/A B.ttf",
                                 "res-other/file.txt", "secret.txt"})
            std::ofstream(tmp / file) << file;
        fs::create_symlink("../fonts/ttf/A B.ttf", root / "web" / "inside");
        fs::create_symlink("../../secret.txt", root / "web" / "outside");
        fs::create_symlink("../..", root / "web" / "outside-dir");
        fs::create_symlink("../../res-other/file.txt", root / "web" / "sibling");
        fs::create_directory_symlink("res", tmp / "res-link");
        root = fs::canonical(root);
    }
    void TearDown() override {
        std::error_code ec;
        if (!tmp.empty()) fs::remove_all(tmp, ec);
    }
    fs::path tmp;
    fs::path root;
};

TEST_F(ServedTree, ResolvesOnlyRegularFilesInsideTheRoot) {
    struct Case {
        std::string path;
        Status status;
        const char* file = nullptr;  // relative to the root, when found
    };
    const std::vector<Case> cases = {
        {"/web/index.html", Status::Found, "web/index.html"},
        {"/web/css/a.css", Status::Found, "web/css/a.css"},
        {"/fonts/ttf/A%20B.ttf", Status::Found, "fonts/ttf/A B.ttf"},
        {"/fonts%2Fttf%2fA%20B.ttf", Status::Found, "fonts/ttf/A B.ttf"},
        {"/web/inside", Status::Found, "fonts/ttf/A B.ttf"},
        // Walking up, plain or encoded.
        {"/../secret.txt", Status::Forbidden},
        {"/web/../../secret.txt", Status::Forbidden},
        {"/%2e%2e/secret.txt", Status::Forbidden},
        {"/web%2F%2E%2E%2F%2E%2E%2Fsecret.txt", Status::Forbidden},
        {"/web/%2e/index.html", Status::Forbidden},
        {"/web/./index.html", Status::Forbidden},
        // Symbolic links leading out, also to a folder that merely shares the root's name prefix.
        {"/web/outside", Status::Forbidden},
        {"/web/outside-dir/secret.txt", Status::Forbidden},
        {"/web/sibling", Status::Forbidden},
        // Absolute paths smuggled in.
        {"//etc/passwd", Status::Forbidden},
        {"/%2Fetc%2Fpasswd", Status::Forbidden},
        {"/web//index.html", Status::Forbidden},
        // Not a path, broken escapes, NUL bytes.
        {"", Status::Malformed},
        {"etc/passwd", Status::Malformed},
        {"/web/%zz", Status::Malformed},
        {"/web/index.html%", Status::Malformed},
        {"/web/index.html%4", Status::Malformed},
        {"/web/index.html%00.png", Status::Malformed},
        {std::string("/web/index.html\0.png", 20), Status::Malformed},
        // Nothing to serve.
        {"/web/missing.html", Status::NotFound},
        {"/web/sub", Status::NotFound},
        {"/web/", Status::NotFound},
        {"/", Status::NotFound},
        {"/web/index.html/more", Status::NotFound},
        {"/Web/index.html", Status::NotFound},
    };
    for (const auto& c : cases) {
        const ConfinedFile result = resolveConfinedPath(root, c.path);
        EXPECT_STREQ(statusName(result.status), statusName(c.status)) << "path " << c.path;
        if (c.file) {
            EXPECT_EQ(result.file, root / c.file) << "path " << c.path;
        }
        if (result.status != Status::Found) {
            EXPECT_TRUE(result.file.empty()) << "path " << c.path;
        }
    }
}

TEST_F(ServedTree, RootReachedThroughALinkOrMissing) {
    const ConfinedFile viaLink = resolveConfinedPath(tmp / "res-link", "/web/index.html");
    EXPECT_EQ(viaLink.status, Status::Found);
    EXPECT_EQ(viaLink.file, root / "web" / "index.html");
    EXPECT_EQ(resolveConfinedPath(tmp / "res-link", "/web/outside").status, Status::Forbidden);
    EXPECT_EQ(resolveConfinedPath(tmp / "gone", "/web/index.html").status, Status::NotFound);
}

TEST_F(ServedTree, PagesInsideTheResourcesAreServedFromThem) {
    struct Case {
        const char* page;
        const char* resources;
        const char* root;
    };
    const std::vector<Case> cases = {
        {"res/web/index.html", "res", "res"},
        {"res/index.html", "res", "res"},
        {"res-link/web/index.html", "res", "res"},
        {"res/web/index.html", "res-link", "res"},
        {"res-other/page.html", "res", "res-other"},
        {"secret.txt", "res", ""},
        {"res/web/index.html", "", "res/web"},
    };
    for (const auto& c : cases) {
        const fs::path resources = *c.resources ? tmp / c.resources : fs::path();
        const fs::path expected = *c.root ? fs::canonical(tmp) / c.root : fs::canonical(tmp);
        EXPECT_EQ(servedRootFor(tmp / c.page, resources), expected)
            << c.page << " with resources " << c.resources;
    }
}

TEST(MimeType, FollowsTheExtension) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"index.html", "text/html"},        {"a.HTM", "text/html"},
        {"app.js", "text/javascript"},      {"mod.mjs", "text/javascript"},
        {"style.css", "text/css"},          {"data.json", "application/json"},
        {"A.ttf", "font/ttf"},              {"A.OTF", "font/otf"},
        {"a.woff", "font/woff"},            {"a.woff2", "font/woff2"},
        {"i.png", "image/png"},             {"i.jpg", "image/jpeg"},
        {"i.JPEG", "image/jpeg"},           {"i.svg", "image/svg+xml"},
        {"m.wasm", "application/wasm"},     {"s.mp3", "audio/mpeg"},
        {"archive.tar.gz", "application/octet-stream"},
        {"noextension", "application/octet-stream"},
        {".html", "application/octet-stream"},
    };
    for (const auto& [file, type] : cases) EXPECT_EQ(mimeTypeFor(file), type) << file;
}

}  // namespace
}  // namespace tessivo

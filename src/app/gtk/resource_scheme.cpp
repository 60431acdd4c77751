#include "app/gtk/resource_scheme.h"

#include "platform/confined_path.h"
#include "platform/glib_ptr.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <gio/gunixinputstream.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <string_view>
#include <system_error>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSchemeDataKey = "tessivo-resource-scheme";

using GUriPtr = std::unique_ptr<GUri, decltype(&g_uri_unref)>;

void finishWithError(WebKitURISchemeRequest* request, GIOErrorEnum code, const std::string& message) {
    GUniquePtr<GError> error(g_error_new_literal(G_IO_ERROR, code, message.c_str()));
    webkit_uri_scheme_request_finish_error(request, error.get());
}

// Text is served as UTF-8, the encoding of every page, script and style.
std::string contentTypeFor(const fs::path& file) {
    const std::string_view type = mimeTypeFor(file);
    std::string contentType(type);
    if (type.starts_with("text/") || type == "application/json" || type == "image/svg+xml")
        contentType += "; charset=utf-8";
    return contentType;
}

}  // namespace

ResourceScheme& ResourceScheme::of(WebKitWebContext* context) {
    if (auto* existing = static_cast<ResourceScheme*>(g_object_get_data(G_OBJECT(context), kSchemeDataKey)))
        return *existing;
    // The context owns the scheme from here on and deletes it when it goes.
    auto owned = std::make_unique<ResourceScheme>(Key{});
    ResourceScheme* scheme = owned.get();
    g_object_set_data(G_OBJECT(context), kSchemeDataKey, scheme);
    webkit_web_context_register_uri_scheme(context, kResourceScheme, onRequest, owned.release(),
                                           +[](gpointer data) {
                                               std::unique_ptr<ResourceScheme> gone(
                                                   static_cast<ResourceScheme*>(data));
                                           });
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);  // not owned
    // A secure context, like the file: pages were, and CORS rules for fetch(),
    // module scripts and fonts: a page reads its own host only, since no
    // response grants another origin access.
    webkit_security_manager_register_uri_scheme_as_secure(security, kResourceScheme);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kResourceScheme);
    return *scheme;
}

std::optional<std::string> ResourceScheme::addressOf(const fs::path& page, const fs::path& root) {
    std::error_code ec;
    const fs::path canonicalRoot = fs::canonical(root, ec);
    if (ec) return std::nullopt;
    const fs::path canonicalPage = fs::canonical(page, ec);
    if (ec) return std::nullopt;

    std::string path;
    for (const fs::path& segment : canonicalPage.lexically_relative(canonicalRoot)) {
        GUniquePtr<gchar> escaped(g_uri_escape_string(segment.c_str(), nullptr, FALSE));
        path += "/";
        path += escaped.get();
    }
    // The address must lead back to the page through the request handler.
    const ConfinedFile served = resolveConfinedPath(canonicalRoot, path);
    if (served.status != ConfinedFile::Status::Found || served.file != canonicalPage) return std::nullopt;

    std::string host;
    for (const auto& [name, folder] : hosts_) {
        if (folder == canonicalRoot) host = name;
    }
    if (host.empty()) {
        host = hosts_.empty() ? "app" : "app-" + std::to_string(hosts_.size() + 1);
        hosts_.emplace_back(host, canonicalRoot);
    }
    return std::string(kResourceScheme) + "://" + host + path;
}

void ResourceScheme::onRequest(WebKitURISchemeRequest* request, gpointer self) {
    static_cast<ResourceScheme*>(self)->serve(request);
}

void ResourceScheme::serve(WebKitURISchemeRequest* request) {
    const std::string uri = webkit_uri_scheme_request_get_uri(request);
    // Encoded, so that the path's escapes reach the resolver as they stand.
    GUriPtr parsed(g_uri_parse(uri.c_str(), G_URI_FLAGS_ENCODED, nullptr), g_uri_unref);
    const char* host = parsed ? g_uri_get_host(parsed.get()) : nullptr;
    const fs::path* root = nullptr;
    for (const auto& [name, folder] : hosts_) {
        if (host && name == host) root = &folder;
    }
    if (!root) {
        finishWithError(request, G_IO_ERROR_NOT_FOUND, "Adresse inconnue : " + uri);
        return;
    }
    const char* requestMethod = webkit_uri_scheme_request_get_http_method(request);
    const std::string_view method = requestMethod ? requestMethod : "GET";
    if (method != "GET" && method != "HEAD") {
        finishWithError(request, G_IO_ERROR_NOT_SUPPORTED, "Méthode non prise en charge : " + std::string(method));
        return;
    }

    const ConfinedFile resolved = resolveConfinedPath(*root, g_uri_get_path(parsed.get()));
    switch (resolved.status) {
        case ConfinedFile::Status::Found:
            break;
        case ConfinedFile::Status::Malformed:
            logLine("Page : adresse invalide refusée " + uri);
            finishWithError(request, G_IO_ERROR_INVALID_ARGUMENT, "Adresse invalide : " + uri);
            return;
        case ConfinedFile::Status::Forbidden:
            logLine("Page : accès refusé hors du dossier servi " + uri);
            finishWithError(request, G_IO_ERROR_PERMISSION_DENIED, "Accès refusé : " + uri);
            return;
        case ConfinedFile::Status::NotFound:
            finishWithError(request, G_IO_ERROR_NOT_FOUND, "Fichier introuvable : " + uri);
            return;
    }

    // The file is read as a stream, never whole in memory. O_NOFOLLOW: a link
    // put in its place since it was resolved is not followed.
    const int fd = ::open(resolved.file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        finishWithError(request, G_IO_ERROR_NOT_FOUND, "Fichier illisible : " + uri);
        return;
    }
    // The stream owns the descriptor from here on.
    GObjectPtr<GInputStream> stream = adoptGObject(g_unix_input_stream_new(fd, TRUE));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        finishWithError(request, G_IO_ERROR_NOT_FOUND, "Fichier illisible : " + uri);
        return;
    }
    GObjectPtr<WebKitURISchemeResponse> response =
        adoptGObject(webkit_uri_scheme_response_new(stream.get(), static_cast<gint64>(info.st_size)));
    const std::string contentType = contentTypeFor(resolved.file);
    webkit_uri_scheme_response_set_content_type(response.get(), contentType.c_str());
    // The page sees the type among the response's headers too (fetch()).
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_replace(headers, "Content-Type", contentType.c_str());
    webkit_uri_scheme_response_set_http_headers(response.get(), headers);  // takes the headers
    webkit_uri_scheme_response_set_status(response.get(), 200, nullptr);
    webkit_uri_scheme_request_finish_with_response(request, response.get());
}

void denyFileAccess(WebKitSettings* settings) {
    webkit_settings_set_allow_file_access_from_file_urls(settings, FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
}

bool loadServedPage(WebKitWebView* view, const fs::path& page) {
    ResourceScheme& scheme = ResourceScheme::of(webkit_web_view_get_context(view));
    const auto address = scheme.addressOf(page, servedRootFor(page, resourcesDirectory()));
    if (!address) {
        logLine("Page non servie (" + page.string() + ") : fichier introuvable");
        return false;
    }
    webkit_web_view_load_uri(view, address->c_str());
    return true;
}

}  // namespace tessivo

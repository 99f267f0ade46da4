#include "serve/files.h"

#include <map>

#include "host/file_read.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

// The page's largest file, its script bundle with the viewer, is a few megabytes.
constexpr std::size_t max_page_file_bytes = 64u * 1024u * 1024u;

std::string content_type(const fs::path &file)
{
    static const std::map<std::string, std::string> types{
        {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
        {".json", "application/json"}, {".map", "application/json"},
        {".png", "image/png"}, {".jpg", "image/jpeg"}, {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"}, {".glb", "model/gltf-binary"}, {".wasm", "application/wasm"},
        {".woff2", "font/woff2"}, {".txt", "text/plain; charset=utf-8"}};
    const auto it = types.find(file.extension().string());
    return it == types.end() ? "application/octet-stream" : it->second;
}

StaticFile missing_page(const fs::path &folder)
{
    return {503, "text/html; charset=utf-8",
            "<!doctype html><html><head><meta charset=\"utf-8\"><title>Ramulon</title></head><body>"
            "<h1>The page is not built</h1><p>There is no page in <code>" + folder.string() +
                "</code>. Run <code>make web</code> in the source tree and reload; the API under "
                "<code>/api/</code> works meanwhile.</p></body></html>\n"};
}

StaticFile not_found() { return {404, "text/plain; charset=utf-8", "Not found.\n"}; }

} // namespace

StaticFile static_file(const fs::path &folder, const std::string &url_path)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return url_path == "/" || url_path == "/index.html" ? missing_page(folder) : not_found();
    const fs::path relative = fs::path(url_path == "/" ? "index.html" : url_path.substr(1)).lexically_normal();
    if (url_path.empty() || url_path[0] != '/' || relative.empty() || relative.is_absolute() ||
        *relative.begin() == "..")
        return not_found();
    const fs::path file = folder / relative;
    if (!fs::is_regular_file(file, ec))
        return url_path == "/" ? missing_page(folder) : not_found();
    std::string bytes, error;
    if (!host::read_regular_file(file.string(), max_page_file_bytes, bytes, error))
        return not_found();
    return {200, content_type(file), std::move(bytes)};
}

} // namespace serve

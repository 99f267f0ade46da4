// The bundled page's files (web/dist) for GET / and GET /<file>.
#pragma once

#include <filesystem>
#include <string>

namespace serve {

struct StaticFile {
    int status = 200;
    std::string content_type;
    std::string body;
};

// The file at this URL path inside the folder ("/" is index.html), its whole bytes with the type
// its extension names (application/octet-stream for one it does not know). Nothing fails: a path
// that would leave the folder, or names no regular file, or one that cannot be read (a device,
// a FIFO, a file over 64 MB) gives 404; a missing folder gives 503 and a page that says how to
// build it.
StaticFile static_file(const std::filesystem::path &folder, const std::string &url_path);

} // namespace serve

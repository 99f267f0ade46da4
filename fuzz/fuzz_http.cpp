// Request bytes into `ramulon serve`'s handlers in process, as a connection would pass them:
// whatever arrives, the answer is one HTTP response (or nothing for bytes that are no request),
// headers beyond their limits are answered 431, and the server goes on answering its progress.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "serve/server.h"
#include "fuzz_support.h"

namespace ramulon {
void *Startup();
void Shutdown(void *serverData);
const ServerRecord *server_records();

namespace fuzz {
namespace {

const ModuleDescriptor &linked_tool()
{
    static const ModuleDescriptor descriptor{HOST_MODULE_SYNC, HOST_INTERFACE_VERSION, Startup,
                                             Shutdown, server_records()};
    return descriptor;
}

constexpr const char *progress = "GET /api/progress HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n";

serve::ServeServer &server()
{
    static serve::ServeServer *served = [] {
        auto *s = new serve::ServeServer;
        static char shelf[] = "/tmp/ramulon-fuzz-shelf-XXXXXX";
        if (!mkdtemp(shelf))
            require("cannot make a shelf folder");
        serve::ServeOptions options;
        options.tool.linked = &linked_tool();
        options.port = 8080;
        options.shelf = shelf;
        options.web = std::string(shelf) + "/no-page";
        options.samples = std::string(shelf) + "/no-samples";
        const std::string error = s->open(options).message();
        if (!error.empty())
            require("the server did not open: " + error);
        return s;
    }();
    return *served;
}

// Whether the request's line and headers run past a limit before they end: more bytes without
// an empty line than a request's headers may hold, or more lines than its headers may number.
bool head_over_limits(std::string_view in)
{
    std::size_t lines = 0, at = 0;
    while (at < in.size() && at < serve::max_header_bytes) {
        const std::size_t end = in.find('\n', at);
        if (end == std::string_view::npos || end >= serve::max_header_bytes)
            break;
        const std::string_view line = in.substr(at, end - at);
        if (line.find_first_not_of('\r') == std::string_view::npos)
            return false; // the headers end here
        if (++lines > serve::max_header_count + 1)
            return true;
        at = end + 1;
    }
    return in.size() >= serve::max_header_bytes;
}

} // namespace
} // namespace fuzz
} // namespace ramulon

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using ramulon::fuzz::require;
    serve::ServeServer &s = ramulon::fuzz::server();
    const std::string answer = s.answer(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!answer.empty() && answer.rfind("HTTP/1.1 ", 0) != 0)
        require("an answer that is no HTTP response: " + answer.substr(0, 40));
    if (ramulon::fuzz::head_over_limits(std::string_view(reinterpret_cast<const char *>(data), size)) &&
        answer.rfind("HTTP/1.1 431 ", 0) != 0)
        require("headers over the limits answered " + answer.substr(0, 12));
    if (s.answer(ramulon::fuzz::progress).rfind("HTTP/1.1 200 ", 0) != 0)
        require("the progress went unanswered after an input");
    return 0;
}

#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

namespace ramulon {
namespace fuzz {

void require(const std::string &broken)
{
    if (broken.empty())
        return;
    std::fprintf(stderr, "broken promise: %s\n", broken.c_str());
    std::abort();
}

const std::string &scratch_file(const char *name)
{
    struct scratch {
        std::string path;
        explicit scratch(const char *name)
            : path((std::filesystem::temp_directory_path() /
                    ("ramulon-fuzz-" + std::to_string(getpid()) + "-" + name))
                       .string())
        {
        }
        ~scratch()
        {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    };
    // One target, one scratch file.
    static const scratch file(name);
    return file.path;
}

} // namespace fuzz
} // namespace ramulon

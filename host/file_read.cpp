#include "file_read.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

// Larger sizes read as "N MB".
std::string size_text(std::size_t bytes)
{
    return bytes >= 1024u * 1024u ? std::to_string(bytes / (1024u * 1024u)) + " MB"
                                  : std::to_string(bytes) + " bytes";
}

} // namespace

bool read_regular_file(const std::string &path, std::size_t limit, std::string &bytes, std::string &error)
{
    const std::string what = "cannot read " + path + ": ";
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just after.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = what + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        error = what + std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = what + (S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file");
        ::close(fd);
        return false;
    }
    if (static_cast<unsigned long long>(info.st_size) > limit) {
        error = what + "it is larger than " + size_text(limit);
        ::close(fd);
        return false;
    }
    try {
        std::string out;
        out.reserve(static_cast<std::size_t>(info.st_size));
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = what + std::strerror(errno);
                ::close(fd);
                return false;
            }
            if (n == 0)
                break;
            // A file of /proc reports no size and may grow while read.
            if (out.size() + static_cast<std::size_t>(n) > limit) {
                error = what + "it is larger than " + size_text(limit);
                ::close(fd);
                return false;
            }
            out.append(chunk, static_cast<std::size_t>(n));
        }
        bytes = std::move(out);
    } catch (const std::bad_alloc &) {
        error = what + "not enough memory";
        ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace host

#include "file_read.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "common/index_cast.h"

namespace host {

namespace {

// Larger sizes read as "N MB".
std::string size_text(std::size_t bytes)
{
    return bytes >= 1024u * 1024u ? std::to_string(bytes / (1024u * 1024u)) + " MB"
                                  : std::to_string(bytes) + " bytes";
}

} // namespace

ramulon::ErrorKind errno_kind(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ramulon::ErrorKind::not_found;
    case ENOMEM:
        return ramulon::ErrorKind::out_of_memory;
    default:
        return ramulon::ErrorKind::io;
    }
}

ramulon::Result<std::string> read_regular_file(const std::string &path, std::size_t limit)
{
    using ramulon::ErrorKind;
    const std::string what = "cannot read " + path + ": ";
    const auto system_error = [&](int error) { return ramulon::fail(errno_kind(error), what + std::strerror(error)); };
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just after.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return system_error(errno);
    // Closed on every way out.
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return system_error(errno);
    if (!S_ISREG(info.st_mode))
        return ramulon::fail(ErrorKind::invalid_input,
                             what + (S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file"));
    if (static_cast<unsigned long long>(info.st_size) > limit)
        return ramulon::fail(ErrorKind::invalid_input, what + "it is larger than " + size_text(limit));
    return read_to_end(fd, limit, what, ramulon::index_cast<std::size_t>(info.st_size));
}

ramulon::Result<std::string> read_to_end(int fd, std::size_t limit, const std::string &what, std::size_t expected)
{
    using ramulon::ErrorKind;
    const auto system_error = [&](int error) { return ramulon::fail(errno_kind(error), what + std::strerror(error)); };
    const auto too_large = [&] { return ramulon::fail(ErrorKind::invalid_input, what + "it is larger than " + size_text(limit)); };
    try {
        std::string out;
        out.reserve(std::min(expected, limit));
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return system_error(errno);
            if (n == 0)
                break;
            if (out.size() + ramulon::index_cast<std::size_t>(n) > limit)
                return too_large();
            out.append(chunk, ramulon::index_cast<std::size_t>(n));
        }
        return out;
    } catch (const std::bad_alloc &) {
        return ramulon::fail(ErrorKind::out_of_memory, what + "not enough memory");
    }
}

} // namespace host

#include "direct_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace host {

namespace {

// The alignment of a direct write's offset, length and memory: the largest logical block of the
// disks in use.
constexpr std::size_t block = 4096;
// A megabyte a write: long enough that waiting for the disk costs little per byte, short enough
// to add nothing to the peak of the tree it writes.
constexpr std::size_t buffer_bytes = std::size_t{1} << 20;

bool write_fully(int fd, const char *bytes, std::size_t count, std::uint64_t offset)
{
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

} // namespace

std::unique_ptr<DirectRun> DirectRun::begin(int file, std::uint64_t offset)
{
    const std::string self = "/proc/self/fd/" + std::to_string(file);
    const int direct = ::open(self.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (direct < 0)
        return nullptr;
    std::unique_ptr<DirectRun> run(new DirectRun(file, direct, offset));
    if (!run->buffer_)
        return nullptr;
    return run;
}

DirectRun::DirectRun(int file, int direct, std::uint64_t offset)
    : file_(file), direct_(direct), buffer_(static_cast<char *>(std::aligned_alloc(block, buffer_bytes)), std::free),
      start_((offset + block - 1) / block * block), next_(offset)
{
}

DirectRun::~DirectRun()
{
    if (direct_ >= 0)
        ::close(direct_);
}

bool DirectRun::append(std::span<const std::string_view> pieces)
{
    for (const std::string_view piece : pieces)
        if (!append(piece.data(), piece.size()))
            return false;
    return true;
}

bool DirectRun::append(const char *bytes, std::size_t count)
{
    if (next_ < start_) {
        // Up to the first block boundary: the block holds bytes written before the run.
        const std::size_t lead = static_cast<std::size_t>(std::min<std::uint64_t>(count, start_ - next_));
        if (!write_fully(file_, bytes, lead, next_))
            return false;
        bytes += lead;
        count -= lead;
        next_ += lead;
    }
    while (count > 0) {
        const std::size_t n = std::min(count, buffer_bytes - held_);
        std::memcpy(buffer_.get() + held_, bytes, n);
        held_ += n;
        bytes += n;
        count -= n;
        next_ += n;
        if (held_ == buffer_bytes && !write_held(buffer_bytes))
            return false;
    }
    return true;
}

// Writes the first count bytes held, a whole number of blocks, and keeps none of them.
bool DirectRun::write_held(std::size_t count)
{
    if (direct_ >= 0 && !write_fully(direct_, buffer_.get(), count, start_)) {
        // A file system that takes direct writes at open may still refuse their alignment.
        if (errno != EINVAL)
            return false;
        ::close(direct_);
        direct_ = -1;
    }
    if (direct_ < 0 && !write_fully(file_, buffer_.get(), count, start_))
        return false;
    start_ += count;
    held_ -= count;
    if (held_ > 0)
        std::memmove(buffer_.get(), buffer_.get() + count, held_);
    return true;
}

bool DirectRun::finish()
{
    const std::size_t whole = held_ / block * block;
    if (whole > 0 && !write_held(whole))
        return false;
    // Less than a block: the last block may hold bytes written after the run.
    if (held_ > 0 && !write_fully(file_, buffer_.get(), held_, start_))
        return false;
    start_ += held_;
    held_ = 0;
    return true;
}

} // namespace host

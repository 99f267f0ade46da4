// A long run of a staged file's bytes written past the page cache. A large tree's file is
// gigabytes that the system would otherwise copy into fresh cache pages before the finishing
// sync puts them on the disk anyway; written straight from one reused buffer, they cost the
// process almost no system time and the file is on the disk as soon as they are written.
//
// Whole blocks go to a second handle of the file opened for direct writes; the bytes before the
// run's first block boundary and after its last go through the file's own handle, so that no
// block is written both ways. Where the file system takes no direct writes, every byte goes
// through the file's own handle, as any other write does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace host {

class DirectRun {
public:
    // Runs shorter than this are written through the file's own handle: a direct write waits for
    // the disk, which is worth it only for many blocks.
    static constexpr std::size_t least_bytes = std::size_t{1} << 20;

    // A run of file (an open, writable handle) from offset on, or null where the file system
    // takes no direct writes. file stays the caller's.
    static std::unique_ptr<DirectRun> begin(int file, std::uint64_t offset);
    ~DirectRun();
    DirectRun(const DirectRun &) = delete;
    DirectRun &operator=(const DirectRun &) = delete;

    // Where the next byte of the run goes.
    std::uint64_t end() const { return next_; }
    // Writes pieces at end(). False with errno set when the system refuses a write.
    bool append(std::span<const std::string_view> pieces);
    // Writes what is held and ends the run. False with errno set when the system refuses a write.
    bool finish();

private:
    DirectRun(int file, int direct, std::uint64_t offset);
    bool append(const char *bytes, std::size_t count);
    bool write_held(std::size_t count);

    int file_;   // the file's own handle
    int direct_; // the same file, for direct writes; -1 once they are refused
    std::unique_ptr<char, void (*)(void *)> buffer_;
    std::uint64_t start_; // the file offset of buffer_'s first byte: a block boundary
    std::size_t held_ = 0;
    std::uint64_t next_;
};

} // namespace host

// A glTF buffer as the pieces it is made of, named where they already are: the collected vertex
// arrays, the images, and the few bytes made only for the file (narrowed indices, padding). The
// arrays a file names outlive the writing of their bytes, so a large tree's buffer is never
// gathered into one more copy.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace exporter {

class BufferPieces {
public:
    // start: where in the buffer the first piece goes (pieces made one primitive at a time).
    explicit BufferPieces(std::size_t start = 0) : size_(start) {}

    // Appends bytes that live elsewhere (until the file is written), then zeros up to the next
    // multiple of four, where glTF wants every view to start. Returns where the bytes begin.
    std::size_t add(std::string_view bytes)
    {
        const std::size_t at = size_;
        if (!bytes.empty())
            pieces_.push_back(bytes);
        size_ += bytes.size();
        if (const std::size_t pad = (4 - size_ % 4) % 4; pad > 0) {
            pieces_.push_back(std::string_view("\0\0\0", pad));
            size_ += pad;
        }
        return at;
    }

    // The same for bytes made for the file, which the pieces keep.
    std::size_t add_made(std::string bytes)
    {
        made_.push_back(std::move(bytes));
        return add(made_.back());
    }

    // Where the buffer ends after the pieces.
    std::size_t size() const { return size_; }
    const std::vector<std::string_view> &pieces() const { return pieces_; }

    // Forgets the pieces (their bytes are through to the file); the buffer goes on from size().
    void drop_written()
    {
        pieces_.clear();
        made_.clear();
    }

private:
    std::vector<std::string_view> pieces_;
    std::deque<std::string> made_; // a deque: earlier pieces keep their addresses
    std::size_t size_ = 0;
};

} // namespace exporter

// A glTF buffer as the pieces it is made of, named where they already are: the collected vertex
// arrays, the images, and the few bytes made only for the file (narrowed indices, compressed
// views, padding). The buffer is never gathered into one more copy: the pieces go to the file in
// runs, and a run's own storage (a primitive's arrays handed over, bytes made for the file) is
// let go as soon as the run is through, so that a large primitive does not stay whole in memory
// while the rest of it is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.h"

namespace exporter {

class BufferPieces {
public:
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

    // The same for bytes whose storage the pieces keep until they are written: made for the file
    // (a string) or handed over (a primitive's array, moved in).
    template <typename Storage> std::size_t add_kept(Storage storage)
    {
        auto kept = std::make_shared<const Storage>(std::move(storage));
        const std::string_view bytes(reinterpret_cast<const char *>(kept->data()),
                                     kept->size() * sizeof(*kept->data()));
        const std::size_t at = add(bytes);
        // The padding after the bytes goes with them: the storage is let go once both are out.
        kept_.push_back({pieces_.size(), std::move(kept)});
        return at;
    }

    // Where the buffer ends after the pieces.
    std::size_t size() const { return size_; }
    // Where the pieces not yet written begin.
    std::size_t written() const { return written_; }

    // The pieces not yet written through write(offset in the buffer, run of pieces) -> Status,
    // a run at a time, each kept storage let go as soon as its run is through; then forgotten.
    // Stops at the first refusal, which it returns.
    template <typename Write> ramulon::Status write_out(Write &&write)
    {
        std::size_t from = 0;
        std::uint64_t offset = written_;
        const auto run_to = [&](std::size_t end) -> ramulon::Status {
            const std::span<const std::string_view> run(pieces_.data() + from, end - from);
            if (run.empty())
                return {};
            if (ramulon::Status done = write(offset, run); !done)
                return done;
            for (const std::string_view piece : run)
                offset += piece.size();
            from = end;
            return {};
        };
        for (Kept &kept : kept_) {
            if (ramulon::Status done = run_to(kept.end); !done)
                return done;
            kept.storage.reset();
        }
        if (ramulon::Status done = run_to(pieces_.size()); !done)
            return done;
        pieces_.clear();
        kept_.clear();
        written_ = size_;
        return {};
    }

private:
    struct Kept {
        std::size_t end; // the piece after its bytes and their padding
        std::shared_ptr<const void> storage;
    };

    std::vector<std::string_view> pieces_;
    std::vector<Kept> kept_;
    std::size_t size_ = 0;
    std::size_t written_ = 0;
};

} // namespace exporter

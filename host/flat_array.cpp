#include "flat_array.h"

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>

namespace host::flat_block {

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer watches heap blocks only: every block stays on the heap, where it sees each
// element read or written past the end.
constexpr bool pages_of_their_own = false;
#else
constexpr bool pages_of_their_own = true;
#endif

bool own_pages(std::size_t bytes) { return pages_of_their_own && bytes >= own_pages_from; }

// Blocks up to a few megabytes are filled soon after they are made: on large pages, their
// first write makes a 2 MiB page at once instead of a fault every 4 KiB, which cost the leafy
// demo three times its page faults against the heap's large pages. Their size is taken in whole
// large pages, which places them on a large page's boundary. Larger blocks, the trees of tens
// of thousands of branches, keep small pages: the kernel's search for free large pages cost
// more system time there than the faults it saved.
constexpr std::size_t large_page = std::size_t{2} << 20;
constexpr std::size_t large_pages_to = std::size_t{16} << 20;

bool on_large_pages(std::size_t bytes) { return own_pages(bytes) && bytes <= large_pages_to; }

std::size_t whole_pages(std::size_t bytes)
{
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t unit = on_large_pages(bytes) ? large_page : page;
    return (bytes + unit - 1) / unit * unit;
}

// Blocks let go of, kept for the next blocks to take: the page's server grows a tree about
// like the last one at every edit, and a released layer's pages, written already, make the
// next one's without a fault or a cleared page. Only blocks on large pages, and a few of
// them: a tree too large for those sizes returns its memory to the system at once.
class KeptBlocks {
public:
    // A kept block of length bytes (whole pages), cut down from a longer one; null when none
    // is long enough.
    void *take(std::size_t length)
    {
        Kept found{};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            std::size_t best = count_;
            for (std::size_t i = 0; i < count_; ++i)
                if (kept_[i].length >= length && (best == count_ || kept_[i].length < kept_[best].length))
                    best = i;
            if (best == count_)
                return nullptr;
            found = kept_[best];
            kept_[best] = kept_[--count_];
            total_ -= found.length;
        }
        if (found.length == length)
            return found.block;
        // Shrunk where it lies: the pages past length go back.
        if (::mremap(found.block, found.length, length, 0) == MAP_FAILED) {
            ::munmap(found.block, found.length);
            return nullptr;
        }
        return found.block;
    }
    void release_all()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = 0; i < count_; ++i)
            ::munmap(kept_[i].block, kept_[i].length);
        count_ = total_ = 0;
    }
    // Whether the block (of length bytes) is kept; else its owner unmaps it.
    bool keep(void *block, std::size_t length)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == slots || total_ + length > most)
            return false;
        kept_[count_++] = Kept{block, length};
        total_ += length;
        return true;
    }

private:
    struct Kept {
        void *block = nullptr;
        std::size_t length = 0;
    };
    static constexpr std::size_t slots = 32;
    static constexpr std::size_t most = std::size_t{64} << 20; // bytes kept at most
    std::mutex mutex_;
    Kept kept_[slots];
    std::size_t count_ = 0, total_ = 0;
};

KeptBlocks &kept_blocks()
{
    static KeptBlocks *blocks = new KeptBlocks; // never destroyed: arrays of static objects may outlive it
    return *blocks;
}

void *map_pages(std::size_t bytes)
{
    if (on_large_pages(bytes))
        if (void *kept = kept_blocks().take(whole_pages(bytes)))
            return kept;
    void *block = ::mmap(nullptr, whole_pages(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        return nullptr;
    if (on_large_pages(bytes)) // a hint: without large pages the block is only slower to fill
        ::madvise(block, whole_pages(bytes), MADV_HUGEPAGE);
    return block;
}

void release(void *block, std::size_t bytes)
{
    if (!block)
        return;
    if (own_pages(bytes)) {
        if (!on_large_pages(bytes) || !kept_blocks().keep(block, whole_pages(bytes)))
            ::munmap(block, whole_pages(bytes));
    }
    else
        std::free(block);
}

} // namespace

void release_kept() { kept_blocks().release_all(); }

void *resize(void *block, std::size_t old_bytes, std::size_t bytes, std::size_t keep)
{
    if (bytes == 0) {
        release(block, old_bytes);
        return nullptr;
    }
    const bool was_own = block && own_pages(old_bytes), own = own_pages(bytes);
    if (!was_own && !own)
        return std::realloc(block, bytes);
    if (was_own && own) {
        // The kernel moves the pages, or extends them where they lie: nothing is copied, and
        // the room beyond the values written stays untouched.
        if (whole_pages(old_bytes) == whole_pages(bytes))
            return block;
        void *moved = ::mremap(block, whole_pages(old_bytes), whole_pages(bytes), MREMAP_MAYMOVE);
        if (moved == MAP_FAILED)
            return nullptr;
        // The pages' kind moves with them; only a block grown past the large pages' sizes
        // changes it.
        if (on_large_pages(old_bytes) && !on_large_pages(bytes))
            ::madvise(moved, whole_pages(bytes), MADV_NOHUGEPAGE);
        return moved;
    }
    // Across the line between the heap and pages of its own: a copy of a small array.
    void *fresh = own ? map_pages(bytes) : std::malloc(bytes);
    if (!fresh)
        return nullptr;
    if (keep > 0)
        std::memcpy(fresh, block, keep);
    release(block, old_bytes);
    return fresh;
}

} // namespace host::flat_block

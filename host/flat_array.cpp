#include "flat_array.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>

namespace host::flat_block {

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer watches heap blocks only: every block stays on the heap, where it sees each
// element read or written past the end.
constexpr bool pages_of_their_own = false;
#else
constexpr bool pages_of_their_own = true;
#endif

std::atomic<std::size_t> heap_up_to{own_pages_from};
std::atomic<bool> pages_mapped{false};

bool own_pages(std::size_t bytes) { return pages_of_their_own && bytes >= heap_up_to.load(std::memory_order_relaxed); }

std::size_t whole_pages(std::size_t bytes)
{
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

void *map_pages(std::size_t bytes)
{
    pages_mapped.store(true, std::memory_order_relaxed);
    void *block = ::mmap(nullptr, whole_pages(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void release(void *block, std::size_t bytes)
{
    if (!block)
        return;
    if (own_pages(bytes))
        ::munmap(block, whole_pages(bytes));
    else
        std::free(block);
}

} // namespace

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
        return moved == MAP_FAILED ? nullptr : moved;
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

bool keep_on_heap_up_to(std::size_t bytes)
{
    // A block's size tells where it lies: once a block has pages of its own, the line stays.
    if (!pages_of_their_own || pages_mapped.load(std::memory_order_relaxed))
        return false;
    heap_up_to.store(bytes > own_pages_from ? bytes : own_pages_from, std::memory_order_relaxed);
    return true;
}

} // namespace host::flat_block

#include "process_memory.h"

#include "host/flat_array.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

namespace cli {

namespace {

// glibc's upper bound for the threshold: arrays up to 32 MiB come from the heap.
constexpr int largest_from_heap = 32 << 20;

// Under a limit on the process's memory the heap's extra room could use up what a large tree
// needs: the allocator keeps its own ways there.
bool memory_unlimited()
{
    if constexpr (under_address_sanitizer)
        return false;
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit limit{};
        if (getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY)
            return false;
    }
    return true;
}

} // namespace

void keep_one_build_on_large_pages()
{
    if (!memory_unlimited())
        return;
    // Room the heap takes at once beyond what is asked: the leafy demo's peak fits in one go,
    // so that the whole of it lies in the one stretch marked below.
    constexpr int heap_room = 64 << 20;
    constexpr int never_trim = 1 << 30;
    if (mallopt(M_MMAP_THRESHOLD, largest_from_heap) == 0 || mallopt(M_TRIM_THRESHOLD, never_trim) == 0 ||
        mallopt(M_TOP_PAD, heap_room) == 0)
        return;
    // Larger arrays still (a large tree's streams, normals and tangent sums, one primitive after
    // another) come from the heap as well: there the next primitive's arrays take the pages the
    // last one freed, where a mapping of their own would be faulted in and cleared afresh.
    mallopt(M_MMAP_MAX, 0);

    // Grow the heap now by more than its top holds, so that the new stretch is known, then mark
    // it. The heap grows upward from its old end; if it could not (the allocator then maps
    // instead), the end stays put and nothing is marked.
    const auto old_end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    void *probe = std::malloc(largest_from_heap / 2);
    const bool grown = probe != nullptr;
    if (grown) // used, so that no compiler drops the allocation
        *static_cast<volatile char *>(probe) = 0;
    const auto new_end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    std::free(probe);
    constexpr std::uintptr_t huge_page = 2 << 20;
    const std::uintptr_t first = (old_end + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t last = new_end & ~(huge_page - 1);
    if (grown && last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
    // The layer's arrays, too, as long as they fit the stretch marked.
    host::flat_block::keep_on_heap_up_to(heap_room / 4);
}

void keep_an_edit_s_memory_for_the_next()
{
    if (!memory_unlimited())
        return;
    constexpr int kept_free = 256 << 20;
    mallopt(M_MMAP_THRESHOLD, largest_from_heap);
    mallopt(M_TRIM_THRESHOLD, kept_free);
}

} // namespace cli

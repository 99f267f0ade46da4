// How the short-lived `ramulon build` process treats its memory.
#pragma once

namespace cli {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool under_address_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool under_address_sanitizer = true;
#else
inline constexpr bool under_address_sanitizer = false;
#endif
#else
inline constexpr bool under_address_sanitizer = false;
#endif

// One build touches the tree's working set (some fifty megabytes for the leafy demo) once and
// then exits. Left to itself, glibc serves every large array with a mapping of its own and
// unmaps it when freed, so the arrays are faulted in four kilobytes at a time, and again after
// every growth: sixteen thousand faults, a fifth of the whole run. This keeps the arrays, of
// any size, in a heap that is never trimmed, so that a freed array's pages serve the next, and
// asks the kernel for transparent huge pages there, so that it maps the working set two
// megabytes at a time. The layer's arrays join them there up to 16 MiB each (a small tree's
// all), before any of them is made. Call it once, before the build, in a process
// that ends after it (never in the server). Does nothing where the allocator or the kernel
// does not take the advice (the sanitizer's allocator, a system without huge pages).
void keep_one_build_on_large_pages();

// The server answers edit after edit, each an export of much the same size. Left to itself,
// glibc hands a freed large array back to the kernel, and the next edit's is faulted in and
// cleared again, page by page. This keeps up to 256 MiB the last edit freed in the heap for the
// next. Call it once, before serving.
void keep_an_edit_s_memory_for_the_next();

} // namespace cli

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
// every growth: sixteen thousand faults, a fifth of the whole run. This keeps the arrays in a
// heap that is never trimmed and asks the kernel for transparent huge pages there, so that it
// maps the working set two megabytes at a time. Call it once, before the build, in a process
// that ends after it (never in the server). Does nothing where the allocator or the kernel
// does not take the advice (the sanitizer's allocator, a system without huge pages).
void keep_one_build_on_large_pages();

} // namespace cli

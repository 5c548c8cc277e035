// Large buffers. Filling fresh memory costs a page fault per page, which on some systems costs
// as much as the work done with the data; where the system offers large pages for ordinary
// memory (Linux's transparent huge pages), a buffer of many megabytes asks for them, so that
// filling it takes a few hundred faults instead of tens of thousands. Elsewhere this does
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vornakite::os {

// Asks for large pages for the whole 2 MiB pages inside [data, data + bytes); a hint only.
inline void adviseLargePages(const void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kLargePage = std::uintptr_t{1} << 21;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (start + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t end = (start + bytes) & ~(kLargePage - 1);
    if (end > begin) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)bytes;
#endif
}

// Hands the memory freed so far back to the system where the allocator keeps it (glibc keeps
// freed room in its heaps until it is trimmed), so that the next step's arrays do not stand
// beside it in the process's resident memory; after `freedBytes` of at least 16 MiB only, since
// a trim walks the heaps and the next small log would fault its pages in again. Elsewhere this
// does nothing.
inline void returnFreedMemory(std::size_t freedBytes) {
#if defined(__GLIBC__)
    if (freedBytes >= (std::size_t{16} << 20)) {
        ::malloc_trim(0);
    }
#else
    (void)freedBytes;
#endif
}

// Lets the allocator keep the room of freed arrays of up to 32 MiB for the next ones instead of
// handing each back to the system at once: glibc maps blocks from 128 KiB up on their own and
// unmaps them when they are freed, so every array of a long log's analysis faulted its pages in
// afresh (on this kind of virtual machine a fault costs microseconds). Free room of more than
// 32 MiB at the top of a heap still goes back, and returnFreedMemory() hands back the rest where
// the analysis lets go of its large arrays. Elsewhere this does nothing.
inline void keepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
}

// Reserves room for `n` elements, in large pages where the system has them.
template <class T>
void reserveLarge(std::vector<T>& v, std::size_t n) {
    v.reserve(n);
    adviseLargePages(v.data(), v.capacity() * sizeof(T));
}

// Sizes `v` to `n` elements the same way (new elements value-initialised).
template <class T>
void resizeLarge(std::vector<T>& v, std::size_t n) {
    reserveLarge(v, n);
    v.resize(n);
}

}  // namespace vornakite::os

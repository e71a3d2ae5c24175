// Huge-page backed allocation of large buffers.
#include "tz/byte_buffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace tz {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// From one megabyte on, the rounding to whole huge pages wastes at most as much as it holds,
// and the buffers it applies to are few and short-lived.
bool usesHugePages(std::size_t bytes) {
    return bytes >= kHugePage / 2;
}

std::size_t hugePageRounded(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* allocateLargeBuffer(std::size_t bytes) {
    if (!usesHugePages(bytes)) {
        return ::operator new(bytes);
    }
    const std::size_t rounded = hugePageRounded(bytes);
    void* memory = std::aligned_alloc(kHugePage, rounded);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
#ifdef MADV_HUGEPAGE
    // Only advice: where huge pages are off or used up the memory works as ordinary pages.
    ::madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    return memory;
}

void releaseLargeBuffer(void* pointer, std::size_t bytes) noexcept {
    if (!usesHugePages(bytes)) {
        ::operator delete(pointer);
        return;
    }
    std::free(pointer);
}

}  // namespace tz

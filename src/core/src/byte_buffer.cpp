// Huge-page backed allocation of large buffers.
#include "tz/byte_buffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace tz {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t hugePageRounded(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

// The part of a buffer to back with huge pages. A huge page is backed whole once touched, so
// the last, partly used one is included only while that wastes at most an eighth of the
// buffer; otherwise the tail stays in small pages. Many frames of an animation just over a
// huge page each would else take nearly twice their memory.
std::size_t hugePageSpan(std::size_t bytes) {
    const std::size_t rounded = hugePageRounded(bytes);
    if (rounded - bytes <= bytes / 8) {
        return rounded;
    }
    return bytes / kHugePage * kHugePage;
}

// Buffers with no huge page to their share are ordinary allocations.
bool usesHugePages(std::size_t bytes) {
    return hugePageSpan(bytes) > 0;
}

}  // namespace

std::size_t shortLivedCapacity(std::size_t bytes) {
    return bytes >= kHugePage / 2 ? hugePageRounded(bytes) : bytes;
}

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
    if (const std::size_t span = hugePageSpan(bytes); span > 0) {
        ::madvise(memory, span, MADV_HUGEPAGE);
    }
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

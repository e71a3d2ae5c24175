// Huge-page backed allocation of large buffers, mapped from the system and given back whole.
#include "tz/byte_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace tz {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// AddressSanitizer does not watch memory mapped by hand; its builds keep large buffers on the
// heap, where an overrun is caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLargeBuffers = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapLargeBuffers = false;
#else
constexpr bool kMapLargeBuffers = true;
#endif
#else
constexpr bool kMapLargeBuffers = true;
#endif

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

// Large buffers are mapped from the system rather than taken from malloc, and unmapped when
// released. Freed malloc blocks of a few megabytes stay with the process (its heap and every
// thread's arena keep them for reuse, and mix them with small blocks that pin them), so a long
// batch grew to several times the memory of its largest file; an unmapped buffer is gone at
// once. A mapping is whole huge pages on a huge-page boundary: more is mapped and the overhang
// on both sides unmapped again. Sanitized builds leave it unused.
[[maybe_unused]] void* mappedHugePages(std::size_t rounded) {
    if (rounded > SIZE_MAX - kHugePage) {
        throw std::bad_alloc();
    }
    const std::size_t mapped = rounded + kHugePage;
    void* start =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) {
        throw std::bad_alloc();
    }
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t aligned = (address + kHugePage - 1) / kHugePage * kHugePage;
    if (const std::size_t head = aligned - address; head > 0) {
        ::munmap(start, head);
    }
    if (const std::size_t tail = mapped - (aligned - address) - rounded; tail > 0) {
        ::munmap(reinterpret_cast<void*>(aligned + rounded), tail);
    }
    return reinterpret_cast<void*>(aligned);
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
    void* memory = nullptr;
    if constexpr (kMapLargeBuffers) {
        memory = mappedHugePages(rounded);
    } else {
        memory = std::aligned_alloc(kHugePage, rounded);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
    }
#ifdef MADV_HUGEPAGE
    // Only advice: where huge pages are off or used up the memory works as ordinary pages.
    ::madvise(memory, hugePageSpan(bytes), MADV_HUGEPAGE);
#endif
    return memory;
}

void releaseLargeBuffer(void* pointer, std::size_t bytes) noexcept {
    if (!usesHugePages(bytes)) {
        ::operator delete(pointer);
        return;
    }
    if constexpr (kMapLargeBuffers) {
        ::munmap(pointer, hugePageRounded(bytes));
    } else {
        std::free(pointer);
    }
}

}  // namespace tz

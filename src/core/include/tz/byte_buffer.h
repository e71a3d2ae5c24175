// Storage for large byte buffers: pixel rasters, frame indices and whole files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace tz {

// Allocates large buffers on huge-page boundaries and asks the system to back them with huge
// pages: a photograph's raster or file then costs a few page faults instead of thousands,
// which on some virtual machines is as much time as decoding it. A released large buffer goes
// back to the system at once, so a long batch holds no more than its largest file needed.
// Small buffers are ordinary.
template <typename T>
struct LargeBufferAllocator {
    using value_type = T;
    LargeBufferAllocator() = default;
    template <typename U>
    LargeBufferAllocator(const LargeBufferAllocator<U>&) noexcept {}
    T* allocate(std::size_t count);
    // Default-initialisation leaves the bytes as they come: a buffer sized without a fill value
    // is not written before the caller writes it.
    template <typename U>
    void construct(U* pointer) noexcept {
        ::new (static_cast<void*>(pointer)) U;
    }
    template <typename U, typename... Args>
    void construct(U* pointer, Args&&... args) {
        ::new (static_cast<void*>(pointer)) U(std::forward<Args>(args)...);
    }
    void deallocate(T* pointer, std::size_t count) noexcept;
    friend bool operator==(const LargeBufferAllocator&, const LargeBufferAllocator&) = default;
};

void* allocateLargeBuffer(std::size_t bytes);
void releaseLargeBuffer(void* pointer, std::size_t bytes) noexcept;

template <typename T>
T* LargeBufferAllocator<T>::allocate(std::size_t count) {
    return static_cast<T*>(allocateLargeBuffer(count * sizeof(T)));
}

template <typename T>
void LargeBufferAllocator<T>::deallocate(T* pointer, std::size_t count) noexcept {
    releaseLargeBuffer(pointer, count * sizeof(T));
}

// Bytes whose resize without a value leaves new bytes unset.
using ByteBuffer = std::vector<std::uint8_t, LargeBufferAllocator<std::uint8_t>>;

// A capacity for `bytes` that huge pages cover whole. Large buffers back their last, partly
// used huge page only when that wastes little; a short-lived buffer (a file being decoded)
// reserves this much to have it backed anyway.
std::size_t shortLivedCapacity(std::size_t bytes);

}  // namespace tz

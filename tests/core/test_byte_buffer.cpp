// Large buffers: huge-page placement, contents kept through growth, memory given back on release.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "tz/byte_buffer.h"

namespace tz {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

bool underAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

TEST(LargeBuffer, StartsOnAHugePageBoundaryAndIsWritableToTheEnd) {
    const std::size_t bytes = 5 * kMiB + 3;
    auto* memory = static_cast<std::uint8_t*>(allocateLargeBuffer(bytes));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % (2 * kMiB), 0u);
    memory[0] = 1;
    memory[bytes - 1] = 2;
    EXPECT_EQ(memory[0] + memory[bytes - 1], 3);
    releaseLargeBuffer(memory, bytes);
}

TEST(LargeBuffer, GrowingFromSmallToLargeKeepsTheBytes) {
    ByteBuffer buffer;
    for (int i = 0; i < 1000; ++i) {
        buffer.push_back(static_cast<std::uint8_t>(i * 7));
    }
    buffer.resize(9 * kMiB);
    buffer.back() = 0xab;
    buffer.resize(20 * kMiB);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(buffer[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(i * 7)) << i;
    }
    EXPECT_EQ(buffer[9 * kMiB - 1], 0xab);
}

// mincore fails with ENOMEM on a range that is no longer part of the process. Buffers of
// falling sizes: a heap that kept a freed block would hand out the next one from it, still mapped.
TEST(LargeBuffer, ReleasedIsGivenBackToTheSystem) {
    if (underAddressSanitizer()) {
        GTEST_SKIP() << "large buffers stay on the sanitizer's heap";
    }
    std::vector<unsigned char> residency(32 * kMiB / static_cast<std::size_t>(::getpagesize()));
    for (const std::size_t bytes : {30 * kMiB, 24 * kMiB, 12 * kMiB, 6 * kMiB}) {
        void* memory = allocateLargeBuffer(bytes);
        ASSERT_EQ(::mincore(memory, bytes, residency.data()), 0);
        releaseLargeBuffer(memory, bytes);
        errno = 0;
        EXPECT_EQ(::mincore(memory, bytes, residency.data()), -1) << bytes / kMiB << " MiB";
        EXPECT_EQ(errno, ENOMEM) << bytes / kMiB << " MiB";
    }
}

}  // namespace
}  // namespace tz

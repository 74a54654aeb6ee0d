// The allocator tuning for a long-running program: after one huge download
// buffer has come and gone, later large buffers must still go back to the
// system when they are freed.
#include "Memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define QUILLET_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLET_ASAN 1
#endif
#endif

#if defined(__GLIBC__)
#include <malloc.h>

namespace {

// Keeps the compiler from dropping an allocation that is never read.
void* volatile gSink = nullptr;

void* TouchedBuffer(std::size_t size) {
    void* buffer = std::malloc(size);
    if (buffer) std::memset(buffer, 1, size);
    gSink = buffer;
    return buffer;
}

}  // namespace

TEST(TuneAllocator, LargeBuffersGoBackAfterAHugeOneWasFreedAndUpdateSizedOnesStay) {
#ifdef QUILLET_ASAN
    GTEST_SKIP() << "AddressSanitizer replaces glibc's allocator";
#endif
    plat::TuneAllocator();
    // Left alone, glibc raises its mmap threshold to the size of a freed
    // mapped buffer (up to 32 MiB) and serves the next large buffers from a
    // heap that keeps their pages.
    void* huge = TouchedBuffer(std::size_t{16} << 20);
    ASSERT_NE(huge, nullptr);
    std::free(huge);

    const std::size_t mappedBefore = mallinfo2().hblkhd;
    void* large = TouchedBuffer(std::size_t{8} << 20);
    ASSERT_NE(large, nullptr);
    const std::size_t mappedDuring = mallinfo2().hblkhd;
    std::free(large);
    const std::size_t mappedAfter = mallinfo2().hblkhd;

    EXPECT_GE(mappedDuring, mappedBefore + (std::size_t{8} << 20));
    EXPECT_EQ(mappedAfter, mappedBefore);

    // A buffer of one feed update's size stays in the heap for the next
    // update instead of being handed back and faulted in again.
    void* update = TouchedBuffer(std::size_t{1} << 20);
    ASSERT_NE(update, nullptr);
    const std::size_t heapDuring = mallinfo2().arena;
    std::free(update);
    EXPECT_EQ(mallinfo2().arena, heapDuring);
}

#endif

#include "Memory.h"

// Any C library header defines __GLIBC__ on glibc; it must come before the
// test below.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace plat {

namespace {
// Above any feed Quillet keeps (a few hundred KiB), far below the download
// cap (tens of MiB): only the rare giant buffer is mapped on its own.
constexpr int kMmapThresholdBytes = 4 << 20;
}  // namespace

void TuneAllocator() {
#if defined(__GLIBC__)
    // Setting the threshold explicitly also turns off its dynamic growth.
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
#endif
}

void ReturnFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace plat

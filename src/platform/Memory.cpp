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
// Free space at the top of a heap kept for the next buffers rather than
// given back at once. Fixing the mmap threshold also fixes this one at its
// default of 128 KiB, below what one update of a feed allocates and frees:
// every update then handed its pages back and faulted them in again, and on
// a thread's own heap each hand-back flushes the address cache of every
// core. That halved the polling thread's speed.
constexpr int kTrimThresholdBytes = 2 << 20;
}  // namespace

void TuneAllocator() {
#if defined(__GLIBC__)
    // Setting the threshold explicitly also turns off its dynamic growth.
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    mallopt(M_TRIM_THRESHOLD, kTrimThresholdBytes);
#endif
}

void ReturnFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace plat

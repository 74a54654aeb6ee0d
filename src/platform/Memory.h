// Tuning of the C library's allocator for a long-running program.
#pragma once

namespace plat {

// Call once at program start, before any threads exist. Quillet keeps
// running for days and now and then receives a huge download (up to the
// HTTP client's cap) that it refuses. With glibc's default, freeing such a
// buffer raises the allocator's mmap threshold to its size, so every later
// large buffer comes from a heap arena and its pages stay resident after
// being freed. A fixed threshold keeps large buffers mapped and returns
// them to the system when they are freed, while the free space at the top
// of a heap is kept up to a few MiB, so that the buffers of every feed
// update are not handed back and faulted in again each time. Does nothing
// where the C library offers no such setting.
void TuneAllocator();

// Returns the free pages of the allocator's heaps to the system, after a
// large part of the program (the browser engine) has just been freed.
// Does nothing where the C library cannot do it.
void ReturnFreedMemory();

}  // namespace plat

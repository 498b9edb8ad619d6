// Process-wide settings of the C allocator for a program that moves video frames around.
#pragma once

namespace qv::platform {

// Frames and working images of a few to a few tens of megabytes are allocated and freed all the
// time. By default the allocator takes each of them from the kernel and gives it back when
// freed: every reuse then faults in and zeroes fresh pages, and every unmapping makes the other
// threads' page faults wait. This keeps such blocks in the heap, where the next one reuses the
// memory. Call once, early in main(); later calls are harmless.
void tuneAllocatorForFrames() noexcept;

// Hands the heap's free memory back to the kernel. The tuning above keeps it for the next frame;
// a long-running program calls this when a burst of frame work is over (a renderer closed, a
// thumbnail drawn), so that what it no longer needs does not stay resident.
void returnFreeMemory() noexcept;

} // namespace qv::platform

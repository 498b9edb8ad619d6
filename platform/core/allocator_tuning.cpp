#include "platform/core/allocator_tuning.h"

#include <malloc.h>

namespace qv::platform {

void tuneAllocatorForFrames() noexcept {
    // 32 MiB is the largest threshold the allocator accepts on 64-bit systems: a 1080p float
    // working image (33 MB) still comes from the kernel, every smaller block from the heap.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    // Free memory at the top of the heap is handed back only beyond this much.
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

void returnFreeMemory() noexcept {
    malloc_trim(0);
}

} // namespace qv::platform

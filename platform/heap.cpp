#include "platform/heap.h"

#include <malloc.h>

namespace tandril {

void RetainFreedHeapMemory() {
    // Free space at the top of a heap is given back only beyond this; a fixed value
    // also stops glibc raising its mmap threshold, so large blocks are still unmapped.
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
}

}  // namespace tandril

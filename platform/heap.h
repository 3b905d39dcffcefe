#pragma once

namespace tandril {

// Keeps memory that the process frees for its next allocations instead of handing it
// back to the system at once. A run allocates and frees the same buffers for every
// file (libcurl's receive buffer, a file's write buffer); returning them each time
// costs a page-table flush on every processor, a tenth of a run of small files.
// Process-wide: call once from main(), before any thread starts.
void RetainFreedHeapMemory();

}  // namespace tandril

#pragma once

namespace quillfin::common {

// A scan or a header load builds tens of megabytes of small allocations. Page by page, the
// kernel charges a fault for each 4 KiB touched, which on virtual machines costs more than
// parsing the data. These two calls keep freed memory for reuse and let the kernel back the
// heap with huge pages where it allows it (transparent huge pages "always" or "madvise").

// Once per process; later calls do nothing. Called by the first header table.
void PrepareHeapForLargeTables();

// Advises the heap grown since the last call. Cheap when nothing grew; call after each batch
// of allocations.
void AdviseHeapGrowth();

}  // namespace quillfin::common

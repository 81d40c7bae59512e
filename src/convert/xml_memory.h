// libxml2's memory, taken from LargeAllocator: the HTML parser copies each whole input into one
// buffer of its own, which in ordinary memory costs a page fault for every 4 KiB of it.
#pragma once

namespace sitemap {

// Makes libxml2 allocate through LargeAllocator. libxml2 keeps its allocation functions for the
// whole process, so the program calls this once, before libxml2 allocates anything; the tests
// and fuzz targets leave libxml2 as it is.
void use_large_memory_for_libxml2();

}  // namespace sitemap

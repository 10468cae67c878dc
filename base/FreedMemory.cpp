#include "FreedMemory.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

void ReturnLargeBlocksToTheSystem() {
#if defined(M_MMAP_THRESHOLD) // glibc
    // Setting the bound at all keeps it where it is set (glibc's default start).
    (void)mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

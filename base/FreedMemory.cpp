#include "FreedMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ReturnLargeBlocksToTheSystem() {
#if defined(__GLIBC__)
    // Setting the bound at all keeps it where it is set (glibc's default start).
    (void)mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

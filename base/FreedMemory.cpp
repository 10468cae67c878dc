#include "FreedMemory.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

void ReturnFreedMemory() {
#if defined(M_TRIM_THRESHOLD) // glibc
    (void)malloc_trim(0);
#endif
}

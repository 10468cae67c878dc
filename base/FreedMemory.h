// A window that lives in the tray for weeks allocates and frees hundreds of megabytes a day: the
// header pass of a large mailbox, each re-check's listing, the log chunks its bound drops.
#pragma once

/** @short Gives the pages of memory freed so far back to the system. glibc keeps freed memory for
 *  later (all of it but what lies at the top of the heap), so the window's memory would step up
 *  with each listing that frees its blocks in another order than the last, and stay there. Cheap
 *  (a few milliseconds), but not for every block: call it once some work is done. */
void ReturnFreedMemory();

// A window that lives in the tray for weeks allocates and frees hundreds of megabytes a day: the
// header pass of a large mailbox, and the log chunks its bound drops.
#pragma once

/** @short Makes large blocks (128 KiB and more) come from the system and go back to it when freed.
 *  Call once, first thing in main. Otherwise glibc raises that bound to the largest block freed so
 *  far, after which such blocks come from the heap and what is freed stays with the process: its
 *  memory then steps up and down with each listing instead of following what it keeps. */
void ReturnLargeBlocksToTheSystem();

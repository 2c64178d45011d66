#pragma once
// Waiting on the player's main thread without blocking its window messages:
// whoever waits there for another thread (a stream's worker, the window's
// worker) serves the messages meanwhile, since those threads may be waiting
// for the window themselves.
#include "win32/base.h"

// On the player's main thread: waits at most `milliseconds` for a window
// message of the calling thread and dispatches it (a quit message is taken
// from the queue and dropped). On any other thread: sleeps 1 ms.
void serveMessagesOrSleep(DWORD milliseconds = 10);

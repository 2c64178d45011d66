#include "engine/message_pump.h"

#include "service_lookup.h"
#include "win32/messages.h"

void serveMessagesOrSleep(DWORD milliseconds) {
    if (!core_is_main_thread()) {
        Sleep(1);
        return;
    }
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT) != WAIT_OBJECT_0)
            return;
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            return;
    }
    // A quit message taken here is dropped: the waiting code cannot end
    // the player's message loop on its behalf.
    if (message.message == WM_QUIT)
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

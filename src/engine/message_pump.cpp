#include "engine/message_pump.h"

#include "service_lookup.h"

#if defined(_WIN32)
#include <windows.h>
#endif

void serveMessagesOrSleep(DWORD milliseconds) {
    if (!core_is_main_thread()) {
        Sleep(1);
        return;
    }
#if defined(_WIN32)
    // Input already in the queue counts too, not only new input.
    if (MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0)
        return;
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) && message.message != WM_QUIT) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
#else
    // No window messages on this build yet.
    (void)milliseconds;
    Sleep(1);
#endif
}

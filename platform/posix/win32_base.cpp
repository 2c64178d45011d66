// Linux layer: last-error value, handles, waits, sleep and tick count.
#include "win32/base.h"

#include <chrono>
#include <thread>

namespace {
thread_local DWORD t_last_error = 0;
}

namespace platform {
kernel_object::~kernel_object() = default;

DWORD kernel_object::wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
} // namespace platform

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD code) { t_last_error = code; }

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<platform::kernel_object*>(handle);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return static_cast<platform::kernel_object*>(handle)->wait(milliseconds);
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

DWORD GetTickCount() {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

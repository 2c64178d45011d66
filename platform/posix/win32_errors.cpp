// Linux layer: system message texts for the Win32 error codes that this
// build can meet. Texts end with CR LF, as the system's own do.
#include "win32/base.h"

#include <cstring>

namespace {

struct message {
    DWORD code;
    const char* text;
};

const message g_messages[] = {
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {11, "An attempt was made to load a program with an incorrect format."},
    {14, "Not enough memory resources are available to complete this operation."},
    {32, "The process cannot access the file because it is being used by another process."},
    {34, "The wrong diskette is in the drive.\r\nInsert %2 (Volume Serial Number: %3) into drive %1."},
    {38, "Reached the end of the file."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {183, "Cannot create a file when that file already exists."},
    {232, "The pipe is being closed."},
    {233, "No process is on the other end of the pipe."},
    {234, "More data is available."},
    {258, "The wait operation timed out."},
    {267, "The directory name is invalid."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {1460, "This operation returned because the timeout period expired."},
};

const message* find_message(DWORD code) {
    for (const message& m : g_messages) {
        if (m.code == code) return &m;
    }
    return nullptr;
}

} // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPWSTR buffer, DWORD size,
                     void* arguments) {
    (void)source;
    (void)language_id;
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) != 0 ||
        buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const message* m = find_message(message_id);
    if (m == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const bool has_inserts = std::strchr(m->text, '%') != nullptr;
    if (has_inserts && (flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && arguments == nullptr) {
        // Inserts without arguments: the system would read whatever lies
        // behind the missing list; refuse instead.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The text plus CR LF and the terminator must fit.
    const std::size_t length = std::strlen(m->text) + 2;
    if (length + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::size_t i = 0;
    for (; m->text[i] != 0; ++i) buffer[i] = static_cast<WCHAR>(static_cast<unsigned char>(m->text[i]));
    buffer[i++] = L'\r';
    buffer[i++] = L'\n';
    buffer[i] = 0;
    return static_cast<DWORD>(i);
}

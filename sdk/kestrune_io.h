#pragma once
// The player's I/O exception family, the abort callback passed to calls
// that may block, abort checks, abort-aware sleeps and the tick timer.
// The player throws these types across the module boundary and the
// component catches them by type: names and bases are part of the contract.
#include <atomic>
#include <cstdint>

#include "win32/base.h"
#include "zof/exceptions.h"

namespace kestrune_io {

ZOF_DECLARE_EXCEPTION(exception_io, zof::exception_message, "I/O error");
ZOF_DECLARE_EXCEPTION(exception_io_data, exception_io, "Unsupported format or corrupted file");
ZOF_DECLARE_EXCEPTION(exception_io_data_truncation, exception_io_data, "Unsupported format or corrupted file");
ZOF_DECLARE_EXCEPTION(exception_io_no_length, exception_io, "Length of object is unknown");
ZOF_DECLARE_EXCEPTION(exception_io_no_handler_for_path, exception_io, "Invalid path");
ZOF_DECLARE_EXCEPTION(exception_io_object_not_seekable, exception_io, "Object is not seekable");
ZOF_DECLARE_EXCEPTION(exception_io_file_corrupted, exception_io, "File is corrupted");
ZOF_DECLARE_EXCEPTION(exception_io_sharing_violation, exception_io, "File is already in use");
ZOF_DECLARE_EXCEPTION(exception_io_denied, exception_io, "Access denied");
ZOF_DECLARE_EXCEPTION(exception_io_write_protected, exception_io_denied, "Object is write-protected");
ZOF_DECLARE_EXCEPTION(exception_io_denied_readonly, exception_io_denied, "File is read-only");
ZOF_DECLARE_EXCEPTION(exception_io_directory_not_empty, exception_io, "Directory not empty");
ZOF_DECLARE_EXCEPTION(exception_io_disk_change, exception_io, "Disk changed");
ZOF_DECLARE_EXCEPTION(exception_io_network_not_reachable, exception_io, "Network not reachable");
ZOF_DECLARE_EXCEPTION(exception_io_no_data, exception_io, "The process receiving or sending data has terminated");
ZOF_DECLARE_EXCEPTION(exception_io_device_full, exception_io, "Device full");
ZOF_DECLARE_EXCEPTION(exception_io_already_exists, exception_io, "Object already exists");
ZOF_DECLARE_EXCEPTION(exception_io_not_found, exception_io, "Object not found");
ZOF_DECLARE_EXCEPTION(exception_io_object_is_remote, exception_io, "This operation is not supported on remote objects");
ZOF_DECLARE_EXCEPTION(exception_io_seek_out_of_range, exception_io, "Seek offset out of range");
// Not an I/O failure: a catch of exception_io does not take it.
ZOF_DECLARE_EXCEPTION(exception_aborted, zof::exception_message, "User abort");

// The abstract abort callback. Slots: abort_requested, abort_event.
class abort_callback {
public:
    virtual bool abort_requested() const = 0;
    // The Win32 event handle that is signalled on abort.
    virtual HANDLE abort_event() const = 0;

    // Throws exception_aborted when an abort was requested.
    void check() const;
    // Waits up to 50 ms on the abort event: exception_aborted when it is
    // signalled, return on time-out.
    void sleep() const;
    // The same wait: true when it timed out, false when aborted.
    bool sleep_ex() const;

protected:
    ~abort_callback() = default;
};

// Abort flag with a manual-reset event, created with the object.
class abort_callback_impl : public abort_callback {
public:
    abort_callback_impl();
    virtual ~abort_callback_impl();
    abort_callback_impl(const abort_callback_impl&) = delete;
    abort_callback_impl& operator=(const abort_callback_impl&) = delete;

    bool abort_requested() const override { return m_aborting.load(); }
    HANDLE abort_event() const override { return m_event; }

    // Sets the flag and signals the event.
    void abort();
    // Clears the flag and the event.
    void reset();

private:
    std::atomic<bool> m_aborting{false};
    HANDLE m_event = nullptr;
};

// Free forms of the abort checks.
inline void check_abort(const abort_callback& abort) { abort.check(); }
inline void sleep(const abort_callback& abort) { abort.sleep(); }
inline bool sleep_ex(const abort_callback& abort) { return abort.sleep_ex(); }

} // namespace kestrune_io

// Milliseconds since start, from the system's 32-bit tick count extended
// to 64 bits across its wraps. Call it at least once per 49 days.
class tick_timer {
public:
    void start() { start(GetTickCount()); }
    void start(DWORD tick) {
        m_start = tick;
        m_last = tick;
    }
    double elapsed_seconds() { return elapsed_seconds(GetTickCount()); }
    double elapsed_seconds(DWORD tick);

private:
    std::uint64_t m_start = 0;
    std::uint64_t m_last = 0;
};

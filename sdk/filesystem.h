#pragma once
// Streams and files as the player offers them: byte readers and writers,
// seekable file objects, the reader limited to a number of bytes, copies,
// skips and seeks, and the lookup of the player's file systems by path.
#include <cstdint>
#include <functional>
#include <memory>

#include "guid.h"
#include "service.h"
#include "kestrune_io.h"
#include "zof/string8.h"

using zof::t_size;

// A stream to read from. `read` gives fewer bytes than asked only at the end.
// Slots: read, read_object, skip, skip_object.
class byte_reader {
public:
    virtual t_size read(void* buffer, t_size n, kestrune_io::abort_callback& abort) = 0;
    // Exactly n bytes, or exception_io_data_truncation.
    virtual void read_object(void* buffer, t_size n, kestrune_io::abort_callback& abort);
    // Gives the bytes skipped (fewer only at the end). By default reads
    // into a scratch buffer.
    virtual std::uint64_t skip(std::uint64_t n, kestrune_io::abort_callback& abort);
    // Exactly n bytes, or exception_io_data_truncation.
    virtual void skip_object(std::uint64_t n, kestrune_io::abort_callback& abort);

protected:
    ~byte_reader() = default;
};

// A stream to write to; every byte is written or an exception thrown.
class byte_writer {
public:
    virtual void write(const void* buffer, t_size n, kestrune_io::abort_callback& abort) = 0;

protected:
    ~byte_writer() = default;
};

// A file: both streams plus length and position. Objects that cannot seek
// or resize throw zof::exception_not_implemented from those operations.
class file_object : public byte_reader, public byte_writer {
public:
    static constexpr std::uint64_t size_unknown = ~std::uint64_t(0);

    // size_unknown when the object has no length.
    virtual std::uint64_t get_size(kestrune_io::abort_callback& abort) = 0;
    virtual std::uint64_t get_position(kestrune_io::abort_callback& abort) = 0;
    virtual void seek(std::uint64_t position, kestrune_io::abort_callback& abort);
    virtual void resize(std::uint64_t length, kestrune_io::abort_callback& abort);
    virtual bool can_seek() { return false; }

    virtual ~file_object() = default;
};
using file_ptr = std::shared_ptr<file_object>;

// A reader that lets no read or skip pass `remaining` bytes.
class limited_reader : public byte_reader {
public:
    limited_reader(byte_reader& inner, std::uint64_t remaining) : m_inner(inner), m_remaining(remaining) {}
    virtual ~limited_reader() = default;

    t_size read(void* buffer, t_size n, kestrune_io::abort_callback& abort) override;
    void read_object(void* buffer, t_size n, kestrune_io::abort_callback& abort) override;
    std::uint64_t skip(std::uint64_t n, kestrune_io::abort_callback& abort) override;
    void skip_object(std::uint64_t n, kestrune_io::abort_callback& abort) override;

    std::uint64_t remaining() const { return m_remaining; }

private:
    byte_reader& m_inner;
    std::uint64_t m_remaining;
};

namespace filesystem_util {

// get_size, or exception_io_no_length when the object has none.
std::uint64_t get_size_ex(file_object& file, kestrune_io::abort_callback& abort);

enum seek_mode : int { seek_from_beginning = 0, seek_from_current = 1, seek_from_end = 2 };
// Mode 0 from the start, 1 from the position, 2 from the end; any other
// mode throws exception_io_data.
void seek_ex(file_object& file, std::int64_t offset, int mode, kestrune_io::abort_callback& abort);

// Reads up to 256 bytes at a time until n bytes are consumed or a read
// comes back short; gives the count.
std::uint64_t skip_by_reading(byte_reader& reader, std::uint64_t n, kestrune_io::abort_callback& abort);
// Up to 1024 bytes by reading; further on a seekable file of known length
// by seeking (clamped to its end).
std::uint64_t skip_object(file_object& file, std::uint64_t n, kestrune_io::abort_callback& abort);

// Up to n bytes from source to destination; gives the count copied.
std::uint64_t copy(byte_reader& source, byte_writer& destination, std::uint64_t n, kestrune_io::abort_callback& abort);
// Exactly n bytes, or exception_io_data_truncation.
void copy_exact(byte_reader& source, byte_writer& destination, std::uint64_t n, kestrune_io::abort_callback& abort);
// Everything up to the source's end; gives the count.
std::uint64_t copy_to_end(byte_reader& source, byte_writer& destination, kestrune_io::abort_callback& abort);
// n bytes between files: for more than 1024 bytes a source too short fails
// early and a destination too short is resized first.
void copy_object(file_object& source, file_object& destination, std::uint64_t n, kestrune_io::abort_callback& abort);

// The work buffer of a copy: the wanted size, halved while the heap refuses
// and it stays at 256 bytes or more.
class work_buffer {
public:
    explicit work_buffer(t_size wanted);
    ~work_buffer();
    work_buffer(const work_buffer&) = delete;
    work_buffer& operator=(const work_buffer&) = delete;
    void* get() const { return m_data; }
    t_size size() const { return m_size; }

private:
    void* m_data = nullptr;
    t_size m_size = 0;
};

} // namespace filesystem_util

// ---- the player's file systems ----------------------------------------------------

class filesystem;
using filesystem_ptr = service_ptr_t<filesystem>;

// Called by a directory listing once per entry; answers whether to go on.
class directory_callback {
public:
    virtual bool on_entry(filesystem& owner, kestrune_io::abort_callback& abort, const char* path, bool is_directory,
                          std::uint64_t size, std::uint64_t timestamp) = 0;

protected:
    ~directory_callback() = default;
};

// One of the player's file systems, a service of the player: it answers
// whether a path is its own, and opens, removes, creates and lists files and
// directories there.
class filesystem : public service_base {
public:
    // The service class of file systems: {2FBCE1E5-902E-49E0-B9CF-CE0FBA765348}.
    static const GUID class_guid;
    typedef service_base parent_class;

    enum open_mode { open_mode_read, open_mode_write_existing, open_mode_write_new };

    virtual bool is_our_path(const char* path) = 0;
    virtual file_ptr open(const char* path, open_mode mode, kestrune_io::abort_callback& abort) = 0;
    virtual void remove(const char* path, kestrune_io::abort_callback& abort) = 0;
    virtual void create_directory(const char* path, kestrune_io::abort_callback& abort) = 0;
    virtual void list_directory(const char* path, directory_callback& callback, kestrune_io::abort_callback& abort) = 0;

    // The instance that serves `path`: the first, in service order, that
    // calls it its own; exception_io_no_handler_for_path when none does.
    static filesystem_ptr g_get_interface(const char* path);
    static file_ptr g_open(const char* path, open_mode mode, kestrune_io::abort_callback& abort);
    static void g_remove(const char* path, kestrune_io::abort_callback& abort);
    // Removal that waits out sharing conflicts: a sharing violation, a
    // denial or an "already exists" is retried every 50 ms (abort-aware) for
    // up to a second, then passed on.
    static void g_remove_with_retry(const char* path, kestrune_io::abort_callback& abort);

protected:
    ~filesystem() = default;
};

// Directory walks (each answers true: the listing goes on).

// Removes a tree, contents first; entries already gone are passed over.
class directory_callback_remove_tree : public directory_callback {
public:
    bool on_entry(filesystem& owner, kestrune_io::abort_callback& abort, const char* path, bool is_directory,
                  std::uint64_t size, std::uint64_t timestamp) override;
};

// Removes the files whose time stamp is earlier than a limit.
class directory_callback_remove_old_files : public directory_callback {
public:
    explicit directory_callback_remove_old_files(std::uint64_t limit) : m_limit(limit) {}
    bool on_entry(filesystem& owner, kestrune_io::abort_callback& abort, const char* path, bool is_directory,
                  std::uint64_t size, std::uint64_t timestamp) override;

private:
    std::uint64_t m_limit;
};

// Copies a tree below a target directory path (ending with a separator).
class directory_callback_copy_tree : public directory_callback {
public:
    explicit directory_callback_copy_tree(const char* target) : m_target(target) {}
    bool on_entry(filesystem& owner, kestrune_io::abort_callback& abort, const char* path, bool is_directory,
                  std::uint64_t size, std::uint64_t timestamp) override;

private:
    zof::string8 m_target;
};

// Streams and files: default stream operations, the limited reader, skips,
// seeks and copies.
#include "filesystem.h"

#include "service_lookup.h"

#include <algorithm>
#include <atomic>

using kestrune_io::abort_callback;

// ---- byte_reader / file_object defaults ---------------------------------------

void byte_reader::read_object(void* buffer, t_size n, abort_callback& abort) {
    if (read(buffer, n, abort) != n) throw kestrune_io::exception_io_data_truncation();
}

std::uint64_t byte_reader::skip(std::uint64_t n, abort_callback& abort) {
    return filesystem_util::skip_by_reading(*this, n, abort);
}

void byte_reader::skip_object(std::uint64_t n, abort_callback& abort) {
    if (skip(n, abort) != n) throw kestrune_io::exception_io_data_truncation();
}

void file_object::seek(std::uint64_t, abort_callback&) { throw zof::exception_not_implemented(); }

void file_object::resize(std::uint64_t, abort_callback&) { throw zof::exception_not_implemented(); }

// ---- limited_reader ------------------------------------------------------------

t_size limited_reader::read(void* buffer, t_size n, abort_callback& abort) {
    if (n > m_remaining) n = static_cast<t_size>(m_remaining);
    const t_size got = m_inner.read(buffer, n, abort);
    m_remaining -= std::min<std::uint64_t>(got, m_remaining);
    return got;
}

void limited_reader::read_object(void* buffer, t_size n, abort_callback& abort) {
    if (read(buffer, n, abort) < n) throw kestrune_io::exception_io_data_truncation();
}

std::uint64_t limited_reader::skip(std::uint64_t n, abort_callback& abort) {
    if (n > m_remaining) n = m_remaining;
    const std::uint64_t got = m_inner.skip(n, abort);
    m_remaining -= std::min(got, m_remaining);
    return got;
}

void limited_reader::skip_object(std::uint64_t n, abort_callback& abort) {
    if (skip(n, abort) < n) throw kestrune_io::exception_io_data_truncation();
}

// ---- generic functions ---------------------------------------------------------

namespace filesystem_util {

namespace {
constexpr t_size scratch_size = 256;
constexpr std::uint64_t small_object = 1024;
constexpr t_size max_copy_buffer = 8u * 1024 * 1024;
} // namespace

std::uint64_t get_size_ex(file_object& file, abort_callback& abort) {
    const std::uint64_t size = file.get_size(abort);
    if (size == file_object::size_unknown) throw kestrune_io::exception_io_no_length();
    return size;
}

void seek_ex(file_object& file, std::int64_t offset, int mode, abort_callback& abort) {
    switch (mode) {
    case seek_from_beginning:
        file.seek(static_cast<std::uint64_t>(offset), abort);
        return;
    case seek_from_current:
        file.seek(file.get_position(abort) + static_cast<std::uint64_t>(offset), abort);
        return;
    case seek_from_end:
        file.seek(get_size_ex(file, abort) + static_cast<std::uint64_t>(offset), abort);
        return;
    default:
        throw kestrune_io::exception_io_data();
    }
}

std::uint64_t skip_by_reading(byte_reader& reader, std::uint64_t n, abort_callback& abort) {
    unsigned char scratch[scratch_size];
    std::uint64_t done = 0;
    while (done < n) {
        const t_size want = static_cast<t_size>(std::min<std::uint64_t>(n - done, scratch_size));
        const t_size got = reader.read(scratch, want, abort);
        done += got;
        if (got < want) break;
    }
    return done;
}

std::uint64_t skip_object(file_object& file, std::uint64_t n, abort_callback& abort) {
    if (n > small_object && file.can_seek()) {
        const std::uint64_t size = file.get_size(abort);
        if (size != file_object::size_unknown) {
            const std::uint64_t position = file.get_position(abort);
            const std::uint64_t left = size > position ? size - position : 0;
            if (n > left) n = left;
            file.seek(position + n, abort);
            return n;
        }
    }
    return skip_by_reading(file, n, abort);
}

work_buffer::work_buffer(t_size wanted) {
    for (;;) {
        try {
            m_data = zof::alloc_or_throw(wanted);
            m_size = wanted;
            return;
        } catch (const std::bad_alloc&) {
            if (wanted / 2 < scratch_size) throw;
            wanted /= 2;
        }
    }
}

work_buffer::~work_buffer() { zof::raw_realloc(m_data, 0); }

std::uint64_t copy(byte_reader& source, byte_writer& destination, std::uint64_t n, abort_callback& abort) {
    if (n == 0) return 0;
    work_buffer buffer(static_cast<t_size>(std::min<std::uint64_t>(n, max_copy_buffer)));
    std::uint64_t total = 0;
    while (total < n) {
        const t_size want = static_cast<t_size>(std::min<std::uint64_t>(buffer.size(), n - total));
        const t_size got = source.read(buffer.get(), want, abort);
        if (got == 0) break;
        destination.write(buffer.get(), got, abort);
        total += got;
    }
    return total;
}

void copy_exact(byte_reader& source, byte_writer& destination, std::uint64_t n, abort_callback& abort) {
    if (copy(source, destination, n, abort) != n) throw kestrune_io::exception_io_data_truncation();
}

std::uint64_t copy_to_end(byte_reader& source, byte_writer& destination, abort_callback& abort) {
    unsigned char block[scratch_size];
    std::uint64_t total = 0;
    for (;;) {
        const t_size got = source.read(block, scratch_size, abort);
        if (got > 0) destination.write(block, got, abort);
        total += got;
        if (got < scratch_size) return total;
    }
}

void copy_object(file_object& source, file_object& destination, std::uint64_t n, abort_callback& abort) {
    if (n > small_object) {
        const std::uint64_t source_size = source.get_size(abort);
        if (source_size != file_object::size_unknown) {
            const std::uint64_t position = source.get_position(abort);
            if (source_size < position || source_size - position < n) {
                throw kestrune_io::exception_io_data_truncation();
            }
        }
        const std::uint64_t destination_size = destination.get_size(abort);
        if (destination_size != file_object::size_unknown) {
            const std::uint64_t end = destination.get_position(abort) + n;
            if (end > destination_size) destination.resize(end, abort);
        }
    }
    copy_exact(source, destination, n, abort);
}

} // namespace filesystem_util

// ---- file systems ----------------------------------------------------------------

const GUID filesystem::class_guid = {0x2FBCE1E5, 0x902E, 0x49E0, {0xB9, 0xCF, 0xCE, 0x0F, 0xBA, 0x76, 0x53, 0x48}};

filesystem_ptr filesystem::g_get_interface(const char* path) {
    // The player's instances in its order; the first that owns the path serves it.
    service_enum_t<filesystem> instances;
    filesystem_ptr fs;
    while (instances.next(fs))
        if (fs->is_our_path(path)) return fs;
    throw kestrune_io::exception_io_no_handler_for_path();
}

file_ptr filesystem::g_open(const char* path, open_mode mode, abort_callback& abort) {
    return g_get_interface(path)->open(path, mode, abort);
}

void filesystem::g_remove(const char* path, abort_callback& abort) { g_get_interface(path)->remove(path, abort); }

namespace {

// Runs `attempt` until it succeeds, retrying the conflicts that a moment's
// wait can end.
template <typename Attempt>
void retry_conflicts(Attempt attempt, abort_callback& abort) {
    constexpr double timeout = 1.0;
    tick_timer timer;
    timer.start();
    for (;;) {
        try {
            attempt();
            return;
        } catch (const kestrune_io::exception_io_sharing_violation&) {
            if (timer.elapsed_seconds() > timeout) throw;
        } catch (const kestrune_io::exception_io_denied&) {
            if (timer.elapsed_seconds() > timeout) throw;
        } catch (const kestrune_io::exception_io_already_exists&) {
            if (timer.elapsed_seconds() > timeout) throw;
        }
        abort.sleep();
    }
}

} // namespace

void filesystem::g_remove_with_retry(const char* path, abort_callback& abort) {
    retry_conflicts([&] { g_remove(path, abort); }, abort);
}

bool directory_callback_remove_tree::on_entry(filesystem& owner, abort_callback& abort, const char* path,
                                              bool is_directory, std::uint64_t, std::uint64_t) {
    if (is_directory) owner.list_directory(path, *this, abort);
    try {
        owner.remove(path, abort);
    } catch (const kestrune_io::exception_io_not_found&) {
    }
    return true;
}

bool directory_callback_remove_old_files::on_entry(filesystem& owner, abort_callback& abort, const char* path,
                                                   bool is_directory, std::uint64_t, std::uint64_t timestamp) {
    if (!is_directory && timestamp < m_limit) retry_conflicts([&] { owner.remove(path, abort); }, abort);
    return true;
}

bool directory_callback_copy_tree::on_entry(filesystem& owner, abort_callback& abort, const char* path,
                                            bool is_directory, std::uint64_t, std::uint64_t) {
    const t_size restore = m_target.length();
    try {
        m_target.append(path + zof::filename_start(path));
        if (is_directory) {
            try {
                filesystem::g_get_interface(m_target.text())->create_directory(m_target.text(), abort);
            } catch (const kestrune_io::exception_io_already_exists&) {
            }
            m_target.append("\\");
            owner.list_directory(path, *this, abort);
        } else {
            file_ptr source = owner.open(path, filesystem::open_mode_read, abort);
            file_ptr target = filesystem::g_open(m_target.text(), filesystem::open_mode_write_new, abort);
            filesystem_util::copy_object(*source, *target, filesystem_util::get_size_ex(*source, abort), abort);
        }
    } catch (...) {
        m_target.cut(restore);
        throw;
    }
    m_target.cut(restore);
    return true;
}

// Streams and files: default stream operations, the limited reader, skips,
// seeks and copies.
#include "filesystem.h"

#include <algorithm>

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

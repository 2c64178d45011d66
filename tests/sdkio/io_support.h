#pragma once
// In-memory streams and files for the I/O tests.
#include <algorithm>
#include <cstring>
#include <vector>

#include "filesystem.h"

namespace iotest {

// A seekable file over a byte vector that counts the calls it gets.
class memory_file : public file_object {
public:
    explicit memory_file(std::vector<unsigned char> data = {}, bool seekable = true, bool known_size = true)
        : bytes(std::move(data)), m_seekable(seekable), m_known_size(known_size) {}

    t_size read(void* buffer, t_size n, kestrune_io::abort_callback& abort) override {
        abort.check();
        ++reads;
        largest_read = std::max(largest_read, n);
        const std::size_t left = position < bytes.size() ? bytes.size() - position : 0;
        const std::size_t got = std::min<std::size_t>(n, left);
        if (got) std::memcpy(buffer, bytes.data() + position, got);
        position += got;
        return static_cast<t_size>(got);
    }
    void write(const void* buffer, t_size n, kestrune_io::abort_callback& abort) override {
        abort.check();
        if (position + n > bytes.size()) bytes.resize(position + n);
        std::memcpy(bytes.data() + position, buffer, n);
        position += n;
    }
    std::uint64_t get_size(kestrune_io::abort_callback&) override {
        return m_known_size ? bytes.size() : size_unknown;
    }
    std::uint64_t get_position(kestrune_io::abort_callback&) override { return position; }
    void seek(std::uint64_t p, kestrune_io::abort_callback& abort) override {
        if (!m_seekable) file_object::seek(p, abort);
        ++seeks;
        position = static_cast<std::size_t>(p);
    }
    void resize(std::uint64_t length, kestrune_io::abort_callback&) override {
        ++resizes;
        bytes.resize(static_cast<std::size_t>(length));
    }
    bool can_seek() override { return m_seekable; }

    std::vector<unsigned char> bytes;
    std::size_t position = 0;
    int reads = 0;
    int seeks = 0;
    int resizes = 0;
    t_size largest_read = 0;

private:
    bool m_seekable;
    bool m_known_size;
};

inline std::vector<unsigned char> counting_bytes(std::size_t n) {
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 7 + 3);
    return v;
}

} // namespace iotest

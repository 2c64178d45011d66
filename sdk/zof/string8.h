#pragma once
// zof strings: the growable UTF-8 string, the doubling formatting string,
// fixed-capacity strings and the small free functions on text.
#include <cstdint>
#include <cstring>
#include <utility>

#include "zof/exceptions.h"
#include "zof/memory.h"
#include "zof/string_base.h"

namespace zof {

// Allocation policies of the library's containers.
struct alloc_standard {};
struct alloc_fast {};

// Bytes of `text` taken by an append or assign: up to `max` bytes or up to
// the first zero byte, whichever comes first.
t_size strlen_max(const char* text, t_size max);

template <typename Alloc>
class string8_t;

// The general growable string. Storage stays between the needed size and
// the needed size + 32; it grows to the needed size + 16.
template <>
class string8_t<alloc_standard> : public string_base {
public:
    string8_t() noexcept = default;
    string8_t(const char* text) { assign(text); } // NOLINT: converts like a C string
    string8_t(const char* text, t_size max) { assign(text, max); }
    string8_t(const string8_t& other) { assign(other.text(), other.length()); }
    string8_t(string8_t&& other) noexcept { swap(other); }
    string8_t& operator=(const string8_t& other) {
        if (this != &other) assign(other.text(), other.length());
        return *this;
    }
    string8_t& operator=(string8_t&& other) noexcept {
        string8_t(std::move(other)).swap(*this);
        return *this;
    }
    string8_t& operator=(const char* text) {
        assign(text);
        return *this;
    }
    string8_t& operator+=(const char* text) {
        append(text);
        return *this;
    }
    virtual ~string8_t();

    void append(const char* text, t_size max = infinite_size) override;
    const char* text() const override { return m_length > 0 ? m_buffer : ""; }
    void assign(const char* text, t_size max = infinite_size) override;
    void cut(t_size length) override;
    t_size length() const override { return m_length; }
    char* open_buffer(t_size n) override;
    void close_buffer() override;

    t_size capacity() const { return m_capacity; }
    const char* c_str() const { return text(); }
    void swap(string8_t& other) noexcept {
        std::swap(m_buffer, other.m_buffer);
        std::swap(m_capacity, other.m_capacity);
        std::swap(m_length, other.m_length);
    }

private:
    bool points_inside(const char* text) const {
        return m_buffer != nullptr && text >= m_buffer && text < m_buffer + m_capacity;
    }
    void fit(t_size needed);

    char* m_buffer = nullptr;
    t_size m_capacity = 0;
    t_size m_length = 0;
};

using string8 = string8_t<alloc_standard>;

// A formatting string whose storage only grows, by doubling (console lines
// formatted piece by piece).
class string8_doubling : public string_base {
public:
    string8_doubling() noexcept = default;
    string8_doubling(const string8_doubling&) = delete;
    string8_doubling& operator=(const string8_doubling&) = delete;
    virtual ~string8_doubling();

    void append(const char* text, t_size max = infinite_size) override;
    const char* text() const override { return m_length > 0 ? m_buffer : ""; }
    void assign(const char* text, t_size max = infinite_size) override;
    void cut(t_size length) override;
    t_size length() const override { return m_length; }
    char* open_buffer(t_size n) override;
    void close_buffer() override;

    t_size capacity() const { return m_capacity; }
    // Releases the storage.
    void reset();

private:
    bool points_inside(const char* text) const {
        return m_buffer != nullptr && text >= m_buffer && text < m_buffer + m_capacity;
    }
    void resize(t_size used);

    char* m_buffer = nullptr;
    t_size m_used = 0;
    t_size m_capacity = 0;
    t_size m_length = 0;
};

// A string of at most N bytes held inside the object.
template <t_size N>
class fixed_string : public string_base {
public:
    fixed_string() noexcept { m_data[0] = 0; }
    fixed_string(const char* text) : fixed_string() { append(text); } // NOLINT: converts like a C string
    fixed_string(const fixed_string& other) noexcept : m_length(other.m_length) {
        std::memcpy(m_data, other.m_data, sizeof(m_data));
    }
    fixed_string& operator=(const fixed_string& other) noexcept {
        m_length = other.m_length;
        std::memcpy(m_data, other.m_data, sizeof(m_data));
        return *this;
    }
    virtual ~fixed_string() = default;

    // More than N bytes in all throws "Overflow" before anything is copied.
    void append(const char* text, t_size max = infinite_size) override {
        if (text == nullptr) return; // a null text counts as empty
        const t_size count = strlen_max(text, max);
        const t_size total = m_length + count;
        if (total < m_length || total > N) throw exception_overflow();
        std::memcpy(m_data + m_length, text, count);
        m_length = total;
        m_data[m_length] = 0;
    }
    const char* text() const override { return m_data; }
    void assign(const char* text, t_size max = infinite_size) override {
        if (text != nullptr && text >= m_data && text < m_data + sizeof(m_data)) {
            // Own text: move it to the front.
            const t_size count = strlen_max(text, max);
            std::memmove(m_data, text, count);
            m_length = count;
            m_data[count] = 0;
            return;
        }
        if (strlen_max(text, max) > N) throw exception_overflow();
        cut(0);
        append(text, max);
    }
    void cut(t_size length) override {
        const t_size n = length < N ? length : N;
        if (n < m_length) {
            m_length = n;
            m_data[n] = 0;
        }
    }
    t_size length() const override { return m_length; }
    // Null (no exception) for N or more bytes.
    char* open_buffer(t_size n) override {
        if (n >= N) return nullptr;
        std::memset(m_data, 0, sizeof(m_data));
        return m_data;
    }
    void close_buffer() override {
        m_length = strlen_max(m_data, N);
        m_data[m_length] = 0;
    }

    static constexpr t_size max_length() { return N; }

private:
    t_size m_length = 0;
    char m_data[N + 1];
};

// Backslash, slash, vertical bar and colon.
bool is_path_separator(char c);
// Index just behind the last path separator of `text`; 0 when none.
t_size filename_start(const char* text);
// '0' + d below 10, else 'A' + d - 10.
char digit_char(unsigned d);
// Decimal text of `value` into `out` (at least 64 bytes); returns `out`.
constexpr t_size decimal_buffer_size = 64;
char* format_decimal(std::uint64_t value, char* out);

} // namespace zof

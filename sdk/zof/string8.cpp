// zof strings: growth rules of the growable and the doubling string, and
// the free text functions.
#include "zof/string8.h"

namespace zof {

t_size strlen_max(const char* text, t_size max) {
    if (text == nullptr) return 0; // a null text counts as empty
    t_size n = 0;
    while (n < max && text[n] != 0) ++n;
    return n;
}

// ---- string8_t<alloc_standard> ---------------------------------------------

string8_t<alloc_standard>::~string8_t() { raw_realloc(m_buffer, 0); }

void string8_t<alloc_standard>::fit(t_size needed) {
    // Kept while the capacity lies in [needed, needed + 32].
    if (m_capacity >= needed && std::uint64_t(m_capacity) <= std::uint64_t(needed) + 32) return;
    const t_size target = m_capacity < needed ? add_size(needed, 16) : needed;
    realloc_bytes(m_buffer, target);
    m_capacity = target;
}

void string8_t<alloc_standard>::append(const char* text, t_size max) {
    if (points_inside(text)) {
        string8_t copy(text, max);
        append(copy.text(), infinite_size);
        return;
    }
    const t_size count = strlen_max(text, max);
    const t_size needed = add_size(add_size(m_length, count), 1);
    fit(needed);
    if (count) std::memcpy(m_buffer + m_length, text, count);
    m_length += count;
    m_buffer[m_length] = 0;
}

void string8_t<alloc_standard>::assign(const char* text, t_size max) {
    if (points_inside(text)) {
        string8_t copy(text, max);
        assign(copy.text(), infinite_size);
        return;
    }
    const t_size count = strlen_max(text, max);
    fit(add_size(count, 1));
    if (count) std::memcpy(m_buffer, text, count);
    m_length = count;
    m_buffer[count] = 0;
}

void string8_t<alloc_standard>::cut(t_size length) {
    if (length >= m_length) return;
    m_length = length;
    m_buffer[length] = 0;
    fit(length + 1);
}

char* string8_t<alloc_standard>::open_buffer(t_size n) {
    if (n == infinite_size) throw exception_overflow();
    fit(n + 1);
    std::memset(m_buffer, 0, m_capacity);
    return m_buffer;
}

void string8_t<alloc_standard>::close_buffer() {
    if (m_capacity == 0) return;
    // The caller wrote the buffer: never scan past the block, even when it
    // left no terminator.
    t_size n = strlen_max(m_buffer, m_capacity);
    if (n == m_capacity) n = m_capacity - 1;
    m_length = n;
    m_buffer[n] = 0;
    fit(n + 1);
}

// ---- string8_doubling --------------------------------------------------------

string8_doubling::~string8_doubling() { raw_realloc(m_buffer, 0); }

void string8_doubling::reset() {
    m_buffer = static_cast<char*>(raw_realloc(m_buffer, 0));
    m_used = 0;
    m_capacity = 0;
    m_length = 0;
}

void string8_doubling::resize(t_size used) {
    t_size target = m_capacity != 0 ? m_capacity : 1;
    while (target < used) {
        if (target > infinite_size / 2) throw_bad_alloc();
        target *= 2;
    }
    if (target != m_capacity) {
        realloc_bytes(m_buffer, target);
        m_capacity = target;
    }
    m_used = used;
}

void string8_doubling::append(const char* text, t_size max) {
    if (points_inside(text)) {
        string8 copy(text, max);
        append(copy.text(), infinite_size);
        return;
    }
    const t_size count = strlen_max(text, max);
    resize(add_size(add_size(m_length, count), 1));
    if (count) std::memcpy(m_buffer + m_length, text, count);
    m_length += count;
    m_buffer[m_length] = 0;
}

void string8_doubling::assign(const char* text, t_size max) {
    if (points_inside(text)) {
        string8 copy(text, max);
        assign(copy.text(), infinite_size);
        return;
    }
    const t_size count = strlen_max(text, max);
    resize(add_size(count, 1));
    if (count) std::memcpy(m_buffer, text, count);
    m_length = count;
    m_buffer[count] = 0;
}

void string8_doubling::cut(t_size length) {
    if (length >= m_length) return;
    m_length = length;
    m_buffer[length] = 0;
    resize(length + 1);
}

char* string8_doubling::open_buffer(t_size n) {
    if (n == infinite_size) throw exception_overflow();
    resize(n + 1);
    std::memset(m_buffer, 0, m_used);
    return m_buffer;
}

void string8_doubling::close_buffer() {
    if (m_used == 0) return;
    t_size n = strlen_max(m_buffer, m_used);
    if (n == m_used) n = m_used - 1;
    m_length = n;
    m_buffer[n] = 0;
    resize(n + 1);
}

// ---- free functions ----------------------------------------------------------

bool is_path_separator(char c) { return c == '\\' || c == '/' || c == '|' || c == ':'; }

t_size filename_start(const char* text) {
    t_size n = strlen_max(text, infinite_size);
    while (n > 0) {
        if (is_path_separator(text[n - 1])) return n;
        --n;
    }
    return 0;
}

char digit_char(unsigned d) { return static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10); }

char* format_decimal(std::uint64_t value, char* out) {
    char digits[decimal_buffer_size - 1];
    for (char& d : digits) {
        d = digit_char(static_cast<unsigned>(value % 10));
        value /= 10;
    }
    // digits[] holds the lowest digit first; drop leading zeros, keep one.
    int top = static_cast<int>(sizeof(digits)) - 1;
    while (top > 0 && digits[top] == '0') --top;
    int o = 0;
    for (int i = top; i >= 0; --i) out[o++] = digits[i];
    out[o] = 0;
    return out;
}

} // namespace zof

#pragma once
// zof reference-counted strings: UTF-8 text shared by counted references.
// Once shared, a node's text is only read.
#include "zof/rc.h"
#include "zof/string8.h"

namespace zof {

class rcstring_node : public rc_object {
public:
    string8 text;
};

class rcstring {
public:
    rcstring() noexcept = default;
    rcstring(const char* text); // NOLINT: converts like a C string
    rcstring(const rcstring& other) noexcept;
    rcstring(rcstring&& other) noexcept;
    ~rcstring() { release(); }
    // Adds the source's reference before it releases its own, so
    // self-assignment and assigning a string held only through this one
    // are safe.
    rcstring& operator=(const rcstring& other) noexcept;
    rcstring& operator=(rcstring&& other) noexcept;

    // A new node holding a then b, cut at the first zero byte. Lengths
    // whose sum does not fit 32 bits throw "bad allocation".
    static rcstring concat(const char* a, t_size a_length, const char* b, t_size b_length);
    // Points the handle at a fresh node with an empty text.
    void new_empty();
    void release() noexcept;

    const char* text() const { return m_text ? m_text->text() : ""; }
    t_size length() const { return m_text ? m_text->length() : 0; }
    bool is_empty() const { return length() == 0; }
    bool is_valid() const { return m_node != nullptr; }
    std::uint32_t use_count() const { return m_node ? m_node->ref_count() : 0; }
    const rcstring_node* node() const { return m_node; }

    void swap(rcstring& other) noexcept;

private:
    rcstring_node* m_node = nullptr;
    const string_base* m_text = nullptr;
};

rcstring operator+(const rcstring& a, const char* b);

// Character sets built at load: the path separators "\\/|", and those
// followed by the characters a file name may not hold (with and without
// the asterisk).
extern const rcstring g_path_separators;
extern const rcstring g_invalid_filename_chars;
extern const rcstring g_invalid_filename_chars_no_wildcard;

} // namespace zof

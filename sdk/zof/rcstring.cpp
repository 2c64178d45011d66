// zof reference-counted strings and the library's character sets.
#include "zof/rcstring.h"

#include <cstring>
#include <memory>

namespace zof {

rcstring::rcstring(const char* text) {
    std::unique_ptr<rcstring_node> node(new rcstring_node);
    node->text.assign(text);
    node->add_ref();
    m_node = node.release();
    m_text = &m_node->text;
}

rcstring::rcstring(const rcstring& other) noexcept : m_node(other.m_node), m_text(other.m_text) {
    if (m_node) m_node->add_ref();
}

rcstring::rcstring(rcstring&& other) noexcept : m_node(other.m_node), m_text(other.m_text) {
    other.m_node = nullptr;
    other.m_text = nullptr;
}

rcstring& rcstring::operator=(const rcstring& other) noexcept {
    rcstring(other).swap(*this);
    return *this;
}

rcstring& rcstring::operator=(rcstring&& other) noexcept {
    rcstring(std::move(other)).swap(*this);
    return *this;
}

void rcstring::swap(rcstring& other) noexcept {
    std::swap(m_node, other.m_node);
    std::swap(m_text, other.m_text);
}

void rcstring::release() noexcept {
    rcstring_node* node = m_node;
    m_node = nullptr;
    m_text = nullptr;
    if (node) node->release();
}

void rcstring::new_empty() {
    auto* node = new rcstring_node;
    release();
    node->add_ref();
    m_node = node;
    m_text = &node->text;
}

rcstring rcstring::concat(const char* a, t_size a_length, const char* b, t_size b_length) {
    const t_size total = add_size(a_length, b_length);
    rcstring work;
    work.new_empty();
    char* buffer = work.m_node->text.open_buffer(total);
    if (a_length) std::memcpy(buffer, a, a_length);
    if (b_length) std::memcpy(buffer + a_length, b, b_length);
    work.m_node->text.close_buffer();
    return work;
}

rcstring operator+(const rcstring& a, const char* b) {
    return rcstring::concat(a.text(), a.length(), b, static_cast<t_size>(std::strlen(b)));
}

// Built in this order at load and released in reverse order at unload.
const rcstring g_path_separators("\\/|");
const rcstring g_invalid_filename_chars = g_path_separators + ":<>*?\"";
const rcstring g_invalid_filename_chars_no_wildcard = g_path_separators + ":<>?\"";

} // namespace zof

#pragma once
// The player's own text object handed to components for their answers.
#include <string>

#include "zof/string_base.h"

namespace kestrune_host {

class host_string final : public zof::string_base {
public:
    host_string() = default;
    explicit host_string(std::string text) : m_text(std::move(text)) {}

    void append(const char* text, zof::t_size max = zof::infinite_size) override {
        if (!text) return;
        zof::t_size n = 0;
        while (n < max && text[n]) ++n;
        m_text.append(text, n);
    }
    const char* text() const override { return m_text.c_str(); }
    void assign(const char* text, zof::t_size max = zof::infinite_size) override {
        std::string old;
        old.swap(m_text); // `text` may point into the old text
        append(text, max);
    }
    void cut(zof::t_size length) override {
        if (length < m_text.size()) m_text.resize(length);
    }
    zof::t_size length() const override { return static_cast<zof::t_size>(m_text.size()); }
    char* open_buffer(zof::t_size n) override {
        m_text.assign(std::size_t(n), '\0');
        return &m_text[0];
    }
    void close_buffer() override { m_text.resize(std::char_traits<char>::length(m_text.c_str())); }

    const std::string& str() const { return m_text; }

private:
    std::string m_text;
};

} // namespace kestrune_host

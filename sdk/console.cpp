// Console output: every message goes to each console the player has. Until
// the player marks the services ready every line is dropped.
#include "console.h"

#include <cstdarg>
#include <string>

#include "host_services.h"
#include "kestrune_shared.h"
#include "service_lookup.h"

namespace {

// The formatting buffer handed to the player's printf.
class format_buffer final : public zof::string_base {
public:
    void append(const char* t, zof::t_size max) override {
        if (!t) return;
        zof::t_size n = 0;
        while (n < max && t[n]) ++n;
        m_text.append(t, n);
    }
    const char* text() const override { return m_text.c_str(); }
    void assign(const char* t, zof::t_size max) override {
        std::string old;
        old.swap(m_text);
        append(t, max);
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

private:
    std::string m_text;
};

} // namespace

void console_print(const char* text) {
    if (!services_ready()) return;
    try {
        service_enum_t<console> consoles;
        service_ptr_t<console> c;
        while (consoles.next(c)) {
            c->print(text ? text : "", zof::infinite_size);
            c.release();
        }
    } catch (...) {
        // Printing reports nothing, least of all its own failure.
    }
}

void console_printf(const char* format, ...) {
    if (!services_ready()) return;
    format_buffer out;
    try {
        va_list args;
        va_start(args, format);
        try {
            uPrintfV(out, format ? format : "", args);
        } catch (...) {
            va_end(args);
            throw;
        }
        va_end(args);
    } catch (...) {
        return;
    }
    console_print(out.text());
}

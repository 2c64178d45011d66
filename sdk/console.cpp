// Console output: every message goes to each console the player has, as one
// line. Until the player marks the services ready every line is dropped.
#include "console.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "host_services.h"
#include "kestrune_shared.h"
#include "service_lookup.h"
#include "zof/string8.h"

namespace {

// The text as one line: its line breaks (CR LF, CR or LF) at the end go,
// each one inside becomes a blank.
std::string one_line(const char* text) {
    std::string line(text);
    std::size_t end = line.find_last_not_of("\r\n");
    line.resize(end == std::string::npos ? 0 : end + 1);
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == '\n') {
            if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') ++i;
            out += ' ';
        } else {
            out += line[i];
        }
    }
    return out;
}

}  // namespace

void console_print(const char* text) {
    if (!services_ready()) return;
    try {
        std::string line;
        if (text && std::strpbrk(text, "\r\n")) {
            line = one_line(text);
            text = line.c_str();
        }
        service_enum_t<console> consoles;
        service_ptr_t<console> c;
        while (consoles.next(c)) {
            try {
                c->print(text ? text : "", zof::infinite_size);
            } catch (...) {
                // One failing console keeps the message from no other.
            }
            c.release();
        }
    } catch (...) {
        // Printing reports nothing, least of all its own failure.
    }
}

void console_printf(const char* format, ...) {
    if (!services_ready()) return;
    zof::string8_doubling out;
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

// Console output: every message goes to each console the player has. Until
// the player marks the services ready every line is dropped.
#include "console.h"

#include <cstdarg>

#include "host_services.h"
#include "kestrune_shared.h"
#include "service_lookup.h"
#include "zof/string8.h"

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

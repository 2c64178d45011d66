#pragma once
// Status and error lines to the player's console. Callers put the
// "velmora: " prefix into their own text. Each call is one line: line
// breaks at its end are dropped, those inside become blanks (server texts,
// station names and titles may hold them).
void console_print(const char* text);
void console_printf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

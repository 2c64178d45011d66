// Shared utilities: text conversion, URL encoding, WAV header, file checks
// and the clipboard.
#include "plugin/utils.h"

#include <Poco/URI.h>

#include <cstring>
#include <limits>
#include <stdexcept>

#include "win32/shell.h"

namespace {

// The conversions keep no state between calls, so every thread may use them
// at once. Both builds accept and produce exactly the same UTF-8: wide text
// is UTF-16 where wchar_t has 16 bits and UTF-32 where it has 32.
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

[[noreturn]] void badConversion() {
    throw std::range_error("bad conversion");
}

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads one code point at `p` into `c`, refusing overlong forms,
// surrogates, values beyond U+10FFFF and sequences cut short.
Utf8Form readUtf8(const unsigned char*& p, const unsigned char* end, char32_t& c) {
    const unsigned char lead = *p++;
    if (lead < 0x80) {
        c = lead;
        return Utf8Form::wellFormed;
    }

    int more;
    // Bounds of the second byte, which rule out overlong forms, surrogates
    // and values beyond U+10FFFF; the bytes after it lie in 80 to BF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        c = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        c = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return Utf8Form::invalid;
    }
    for (int i = 0; i < more; ++i, ++p) {
        if (p == end) return Utf8Form::truncated;
        if (*p < low || *p > high) return Utf8Form::invalid;
        c = (c << 6) | (*p & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return Utf8Form::wellFormed;
}

// Reads one code point of wide text at `p`: a surrogate pair where wchar_t
// is UTF-16, one unit where it is UTF-32.
char32_t readWide(const wchar_t*& p, const wchar_t* end) {
    if constexpr (kWideIsUtf16) {
        const char32_t unit = static_cast<char16_t>(*p++);
        if (!isSurrogate(unit)) return unit;
        if (unit >= 0xDC00 || p == end) badConversion();
        const char32_t next = static_cast<char16_t>(*p);
        if (next < 0xDC00 || next > 0xDFFF) badConversion();
        ++p;
        return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
    }
    const char32_t c = static_cast<char32_t>(*p++);
    if (c > 0x10FFFF || isSurrogate(c)) badConversion();
    return c;
}

void appendWide(std::wstring& out, char32_t c) {
    if (kWideIsUtf16 && c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

void putLe(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The current directory, however long; empty when it cannot be read.
std::wstring currentDirectory() {
    std::wstring dir(1024, L'\0');
    for (;;) {
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), &dir[0]);
        if (n == 0) return std::wstring();
        if (n < dir.size()) {
            dir.resize(n);
            return dir;
        }
        // Too small: n is the size needed, zero included. Ask again, since
        // the directory may have changed in between.
        dir.assign(n, L'\0');
    }
}

} // namespace

std::string toUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    const wchar_t* p = text.data();
    const wchar_t* end = p + text.size();
    while (p != end) appendUtf8(out, readWide(p, end));
    return out;
}

std::wstring fromUtf8(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p != end) {
        char32_t c;
        if (readUtf8(p, end, c) != Utf8Form::wellFormed) badConversion();
        appendWide(out, c);
    }
    return out;
}

Utf8Form utf8Form(const std::string& text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p != end) {
        char32_t c;
        const Utf8Form form = readUtf8(p, end, c);
        if (form != Utf8Form::wellFormed) return form;
    }
    return Utf8Form::wellFormed;
}

std::string xmlCharacters(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p != end) {
        const unsigned char* start = p;
        char32_t c;
        // An ill-formed sequence is left out up to the byte that breaks it,
        // which is read again as the start of the next one.
        if (readUtf8(p, end, c) != Utf8Form::wellFormed) continue;
        const bool allowed = c >= 0x20 ? c != 0xFFFE && c != 0xFFFF : c == '\t' || c == '\n' || c == '\r';
        if (allowed) out.append(reinterpret_cast<const char*>(start), reinterpret_cast<const char*>(p));
    }
    return out;
}

std::string urlEncode(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "#&=+", out);
    return out;
}

std::string userAgent() {
    return "velmora/1.4.1";
}

std::vector<std::uint8_t>& makeWavHeader(std::vector<std::uint8_t>& header, int channels, int sample_rate, int bits) {
    header.assign(44, 0);
    std::uint8_t* h = header.data();
    // Wide arithmetic: a high rate times 32 bits leaves the 32-bit range long
    // before the field does. Anything the field cannot hold is saturated.
    const long long byte_rate = static_cast<long long>(sample_rate) * bits / 8 * channels;
    const std::uint32_t byte_rate_field =
        byte_rate < 0 ? 0u
        : byte_rate > static_cast<long long>(std::numeric_limits<std::uint32_t>::max())
            ? std::numeric_limits<std::uint32_t>::max()
            : static_cast<std::uint32_t>(byte_rate);

    std::memcpy(h, "RIFF", 4);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    putLe(h + 16, 16, 4);
    putLe(h + 20, bits == 32 ? 3 : 1, 2);
    putLe(h + 22, static_cast<std::uint32_t>(channels), 2);
    putLe(h + 24, static_cast<std::uint32_t>(sample_rate), 4);
    putLe(h + 28, byte_rate_field, 4);
    putLe(h + 32, static_cast<std::uint32_t>(bits / 8 * channels), 2);
    putLe(h + 34, static_cast<std::uint32_t>(bits), 2);
    std::memcpy(h + 36, "data", 4);
    return header;
}

bool fileExists(const std::string& path) {
    // An empty name, one that is not UTF-8 and one that holds a zero name
    // no file (the empty one would otherwise find the current directory).
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    std::wstring name;
    try {
        name = fromUtf8(path);
    } catch (const std::range_error&) {
        return false;
    }
    if (PathIsRelativeW(name.c_str())) {
        const std::wstring dir = currentDirectory();
        if (dir.empty()) return false;
        name = dir + L"\\" + name;
    }
    return PathFileExistsW(name.c_str()) != FALSE;
}

#if defined(_WIN32)
void copyToClipboard(HWND owner, const std::wstring& text) {
    if (!OpenClipboard(owner)) return;
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    if (memory != nullptr) {
        void* target = GlobalLock(memory);
        if (target != nullptr) {
            std::memcpy(target, text.c_str(), bytes);
            GlobalUnlock(memory);
            EmptyClipboard();
            // The clipboard owns the memory only when it takes it.
            if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
        } else {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
}
#endif

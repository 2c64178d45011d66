// zof UTF-8: one character at a time, in both directions, and the search
// that walks a text character by character.
#include "zof/utf8.h"

#include "zof/memory.h"

namespace zof {

namespace {
struct lead_pattern {
    unsigned char mask;
    unsigned char value;
};
// Index k holds the lead of a (k + 2)-byte sequence.
const lead_pattern g_leads[5] = {{0xE0, 0xC0}, {0xF0, 0xE0}, {0xF8, 0xF0}, {0xFC, 0xF8}, {0xFE, 0xFC}};
} // namespace

t_size utf8_decode_char(const char* text, std::uint32_t& out, t_size max) {
    out = 0;
    if (max == 0) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    if (p[0] < 0x80) {
        out = p[0];
        return p[0] != 0 ? 1 : 0;
    }
    const t_size limit = max < 6 ? max : 6;
    t_size length = 0;
    for (t_size k = 0; k < 5 && k + 1 < limit; ++k) {
        if ((p[0] & g_leads[k].mask) == g_leads[k].value) {
            length = k + 2;
            break;
        }
    }
    if (length == 0) return 0;
    if (length == 2 && (p[0] & 0x1E) == 0) return 0; // overlong 0xC0, 0xC1
    std::uint32_t value = p[0] & (0xFFu >> (length + 1));
    for (t_size k = 1; k < length; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
        if (k == 2 && value == 0 && ((p[k] & 0x7F) >> (7 - length)) == 0) return 0; // overlong
        value = value * 64 + (p[k] & 0x3F);
    }
    out = value;
    return length;
}

t_size utf8_encode_char(std::uint32_t code, char* out) {
    t_size length;
    if (code < (1u << 7)) length = 1;
    else if (code < (1u << 11)) length = 2;
    else if (code < (1u << 16)) length = 3;
    else if (code < (1u << 21)) length = 4;
    else if (code < (1u << 26)) length = 5;
    else if (code < (1u << 31)) length = 6;
    else return 0;
    if (out == nullptr) return length;
    if (length == 1) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    for (t_size k = length - 1; k > 0; --k) {
        out[k] = static_cast<char>(0x80 | (code & 0x3F));
        code >>= 6;
    }
    out[0] = static_cast<char>(g_leads[length - 2].value | code);
    return length;
}

t_size utf16_decode_char(const wchar_t* text, std::uint32_t& out, t_size max) {
    if (max == 0) {
        out = 0;
        return 0;
    }
    const std::uint32_t first = static_cast<std::uint32_t>(text[0]);
    if (max == 1) {
        out = first;
        return 1;
    }
    if (first == 0) {
        out = 0;
        return 0;
    }
    if (first >= 0xD800 && first <= 0xDBFF) {
        const std::uint32_t second = static_cast<std::uint32_t>(text[1]);
        if (second >= 0xDC00 && second <= 0xDFFF) {
            out = ((first & 0x3FF) * 1024 + (second & 0x3FF)) + 0x10000;
            return 2;
        }
    }
    out = first;
    return 1;
}

t_size utf8_size_estimate(const wchar_t* text, t_size max_units) {
    t_size size = 1;
    t_size used = 0;
    while (used < max_units) {
        std::uint32_t code;
        const t_size units = utf16_decode_char(text + used, code, max_units - used);
        if (units == 0 || code == 0) break;
        const t_size bytes = utf8_encode_char(code, nullptr);
        if (bytes == 0) break;
        size = add_size(size, bytes);
        used += units;
    }
    return size;
}

t_size utf16_to_utf8(char* out, t_size out_size, const wchar_t* text, t_size max_units) {
    if (out_size == 0) return 0;
    t_size written = 0;
    t_size used = 0;
    while (used < max_units) {
        std::uint32_t code;
        const t_size units = utf16_decode_char(text + used, code, max_units - used);
        if (units == 0 || code == 0) break;
        used += units;
        char scratch[6];
        const t_size bytes = utf8_encode_char(code, scratch);
        for (t_size k = 0; k < bytes && written < out_size; ++k) out[written++] = scratch[k];
    }
    const t_size end = written < out_size - 1 ? written : out_size - 1;
    out[end] = 0;
    return end;
}

t_size utf8_search(const char* text, const char* pattern, t_size pattern_max) {
    t_size text_length = 0;
    while (text[text_length] != 0) ++text_length;
    t_size pattern_length = 0;
    while (pattern_length < pattern_max && pattern[pattern_length] != 0) ++pattern_length;
    if (pattern_length > text_length) return infinite_size;
    if (pattern_length == 0) return 0;
    t_size offset = 0;
    for (;;) {
        if (text_length - offset < pattern_length) return infinite_size;
        if (std::memcmp(text + offset, pattern, pattern_length) == 0) return offset;
        std::uint32_t code;
        const t_size step = utf8_decode_char(text + offset, code, text_length - offset);
        if (step == 0) return infinite_size;
        offset += step;
    }
}

utf8_from_utf16::utf8_from_utf16(const wchar_t* text, t_size max_units) {
    m_size = utf8_size_estimate(text, max_units);
    m_block = static_cast<char*>(alloc_or_throw(m_size));
    m_length = utf16_to_utf8(m_block, m_size, text, max_units);
}

utf8_from_utf16::~utf8_from_utf16() { raw_realloc(m_block, 0); }

} // namespace zof

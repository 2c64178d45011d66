#pragma once
// zof: code-point level UTF-8 (RFC 2279, up to 31 bits) and UTF-16.
// Wide text is wchar_t as the system hands it over: 16-bit units on
// Windows; on Linux each wchar_t is read as one unit by the same rules.
#include <cstdint>

#include "zof/string_base.h"

namespace zof {

// Decodes one character of at most `max` bytes; gives its length, or 0 (with
// `out` 0) at a zero byte, an invalid or a truncated sequence.
t_size utf8_decode_char(const char* text, std::uint32_t& out, t_size max = 6);
// Encodes a code point below 2^31 into `out` (6 bytes room; null: length
// only); gives the length, 0 for larger values.
t_size utf8_encode_char(std::uint32_t code, char* out);
// Decodes one UTF-16 character of at most `max` units; gives the units used.
t_size utf16_decode_char(const wchar_t* text, std::uint32_t& out, t_size max = infinite_size);
// Bytes needed for the UTF-8 form of a UTF-16 text, terminator included.
t_size utf8_size_estimate(const wchar_t* text, t_size max_units = infinite_size);
// Converts into `out` (`out_size` bytes, text cut to fit and always
// terminated); gives the length written.
t_size utf16_to_utf8(char* out, t_size out_size, const wchar_t* text, t_size max_units = infinite_size);

// Byte offset of the first occurrence of `pattern` at a character boundary
// of `text`, or infinite_size. An invalid sequence before the match ends the
// search.
t_size utf8_search(const char* text, const char* pattern, t_size pattern_max = infinite_size);

// UTF-8 text of a UTF-16 text, in a block sized by the estimate.
class utf8_from_utf16 {
public:
    explicit utf8_from_utf16(const wchar_t* text, t_size max_units = infinite_size);
    ~utf8_from_utf16();
    utf8_from_utf16(const utf8_from_utf16&) = delete;
    utf8_from_utf16& operator=(const utf8_from_utf16&) = delete;
    const char* text() const { return m_size != 0 ? m_block : ""; }
    t_size length() const { return m_length; }

private:
    char* m_block = nullptr;
    t_size m_size = 0;
    t_size m_length = 0;
};

} // namespace zof

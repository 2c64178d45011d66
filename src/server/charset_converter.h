#pragma once
// Converts text between character sets through iconv: the directory fields
// and titles that a server connection sends, from UTF-8 to the stream's
// character set.
#include <iconv.h>

#include <mutex>
#include <string>

class CharsetConverter {
public:
    // Opens the conversion from `from` to `to` (iconv names; `to` may carry
    // options such as "//translit"). Throws std::runtime_error
    // "unsupported conversion" when iconv does not know the pair.
    CharsetConverter(const std::string& from, const std::string& to);
    ~CharsetConverter();
    CharsetConverter(const CharsetConverter&) = delete;
    CharsetConverter& operator=(const CharsetConverter&) = delete;

    // Converts the whole text, ending in the target's initial shift state.
    // Throws std::runtime_error on an invalid or truncated input sequence;
    // UTF-8 input is checked whole first, by the rules of fromUtf8, since
    // iconv may pass code points beyond U+10FFFF. Safe to call from several
    // threads.
    std::string convert(const std::string& text);

private:
    static constexpr std::size_t chunk_size = 1024;
    iconv_t handle;
    bool utf8_input;
    std::mutex lock;
};

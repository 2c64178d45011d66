#pragma once
// Shared utilities of the component.
#include <cstdint>
#include <string>
#include <vector>

// UTF-16 (wchar_t; UTF-32 where wchar_t is 32 bits) to UTF-8 and back.
// Throw std::range_error("bad conversion") on invalid input: unpaired
// surrogates, overlong or cut-short UTF-8, code points beyond U+10FFFF.
// Safe to call from any number of threads at once.
std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);

// How a text stands as UTF-8: well-formed; holding an ill-formed sequence
// (a surrogate, an overlong form, a code point beyond U+10FFFF, a stray or
// missing continuation byte); or well-formed up to a sequence that the
// end of the text cuts short. The same rules as fromUtf8.
enum class Utf8Form { wellFormed, invalid, truncated };
Utf8Form utf8Form(const std::string& text);

// The text without what an XML 1.0 document cannot hold: each ill-formed
// sequence (by the rules above) and the characters outside XML's set, that
// is the control characters but tab, LF and CR, and U+FFFE and U+FFFF.
std::string xmlCharacters(const std::string& text);

// Percent-encodes a text for an HTTP query; "#&=+" are encoded too.
std::string urlEncode(const std::string& text);

// "velmora/1.4.1"
std::string userAgent();

// Fills `header` with the 44-byte WAV header and returns it. Both size
// fields stay zero; a byte rate beyond 32 bits is saturated.
std::vector<std::uint8_t>& makeWavHeader(std::vector<std::uint8_t>& header, int channels, int sample_rate, int bits);

// True when a file-system object of that (UTF-8) name exists; relative
// names count from the current directory. An empty name, one that is not
// valid UTF-8 and one that holds a zero byte name no file.
bool fileExists(const std::string& path);

#if defined(_WIN32)
#include <windows.h>
// Puts the text on the clipboard as Unicode text; reports nothing.
void copyToClipboard(HWND owner, const std::wstring& text);
#endif

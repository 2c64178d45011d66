#pragma once
// Character-set conversion for the Windows build, over the Win32 code-page
// conversions, with the calling conventions of the POSIX iconv functions:
// a failing call returns (size_t)-1 (iconv_open: (iconv_t)-1) and sets
// errno to E2BIG (output full), EINVAL (truncated input; unknown charset at
// open) or EILSEQ (invalid input, or a character the target lacks).
//
// Charset names are matched without regard to case, '-', '_' and blanks:
// UTF-8, ASCII, ISO-8859-1..16, Windows-125x / CP125x, SHIFT_JIS, GB2312,
// GBK, GB18030, KS_C_5601-1987, EUC-KR, BIG5, EUC-JP, KOI8-R, KOI8-U, and
// any "CPnnnn" the system knows. Stateful encodings (ISO-2022-*, UTF-7)
// are not offered. Options follow the name after "//": "TRANSLIT" replaces
// a character the target lacks by a near one or "?", "IGNORE" drops it;
// other words are passed over.
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* iconv_t;

iconv_t iconv_open(const char* tocode, const char* fromcode);
size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

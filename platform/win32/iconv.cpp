// iconv over the Win32 code-page conversions (see include/iconv.h).
// Text is converted one character at a time: the source character is
// decoded to UTF-16, then encoded into the target code page, so that every
// failure stops exactly before the character that caused it, as the caller
// of iconv expects.
#include <iconv.h>

#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

struct Converter {
    UINT from;
    UINT to;
    bool translit;
    bool ignore;
};

struct NamedCodePage {
    const char* name;  // normalised: upper case letters and digits only
    UINT code_page;
};

const NamedCodePage kNames[] = {
    {"UTF8", CP_UTF8},
    {"ASCII", 20127}, {"USASCII", 20127}, {"ANSIX341968", 20127},
    {"LATIN1", 28591}, {"LATIN2", 28592}, {"LATIN9", 28605},
    {"SHIFTJIS", 932}, {"SJIS", 932}, {"MSKANJI", 932}, {"WINDOWS31J", 932},
    {"GB2312", 936}, {"EUCCN", 936}, {"GBK", 936},
    {"KSC56011987", 949}, {"KSC5601", 949}, {"EUCKR", 949}, {"UHC", 949},
    {"BIG5", 950},
    {"EUCJP", 20932},
    {"KOI8R", 20866}, {"KOI8U", 21866},
};

std::string normalise(const char* name, std::size_t length)
{
    std::string result;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (std::isalnum(c))
            result += static_cast<char>(std::toupper(c));
    }
    return result;
}

bool stateful(UINT cp)
{
    return (cp >= 50220 && cp <= 50229) || cp == 52936 || cp == 65000 || cp == 54936;
}

// Code page for a charset name with its options after "//"; 0 when unknown.
UINT parseName(const char* text, bool* translit, bool* ignore)
{
    const char* options = std::strstr(text, "//");
    std::string name = normalise(text, options ? static_cast<std::size_t>(options - text) : std::strlen(text));
    while (options) {
        const char* word = options + 2;
        options = std::strstr(word, "//");
        std::string option = normalise(word, options ? static_cast<std::size_t>(options - word) : std::strlen(word));
        if (option == "TRANSLIT" && translit)
            *translit = true;
        else if (option == "IGNORE" && ignore)
            *ignore = true;
    }

    UINT cp = 0;
    for (const NamedCodePage& entry : kNames)
        if (name == entry.name)
            cp = entry.code_page;
    if (cp == 0 && name.compare(0, 7, "ISO8859") == 0 && name.size() > 7) {
        int part = std::atoi(name.c_str() + 7);
        if ((part >= 1 && part <= 9) || part == 13 || part == 15)
            cp = 28590 + part;
    }
    if (cp == 0) {
        std::size_t digits = name.find_first_of("0123456789");
        std::string prefix = name.substr(0, digits);
        if (digits != std::string::npos && name.find_first_not_of("0123456789", digits) == std::string::npos &&
            (prefix == "CP" || prefix == "WINDOWS" || prefix == "MS" || prefix == "IBM") && name.size() - digits <= 5)
            cp = static_cast<UINT>(std::atoi(name.c_str() + digits));
    }
    if (cp == 0 || stateful(cp) || (cp != CP_UTF8 && !IsValidCodePage(cp)))
        return 0;
    return cp;
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes one UTF-8 character into UTF-16 units. Returns the bytes it takes,
// or -EINVAL / -EILSEQ.
int decodeUtf8(const unsigned char* in, std::size_t left, WCHAR* out, int* units)
{
    unsigned char lead = in[0];
    if (lead < 0x80) {
        out[0] = lead;
        *units = 1;
        return 1;
    }
    int length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    else return -EILSEQ;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    for (int i = 1; i < length; ++i) {
        if (static_cast<std::size_t>(i) >= left)
            return -EINVAL;
        unsigned char c = in[i];
        if (!continuation(c) || (i == 1 && (c < low || c > high)))
            return -EILSEQ;
    }
    unsigned long cp = lead & (0xFF >> (length + 1));
    for (int i = 1; i < length; ++i)
        cp = (cp << 6) | (in[i] & 0x3F);
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out[0] = static_cast<WCHAR>(0xD800 + (cp >> 10));
        out[1] = static_cast<WCHAR>(0xDC00 + (cp & 0x3FF));
        *units = 2;
    } else {
        out[0] = static_cast<WCHAR>(cp);
        *units = 1;
    }
    return length;
}

// Decodes one character of a single- or double-byte code page.
int decodeCodePage(UINT cp, const unsigned char* in, std::size_t left, WCHAR* out, int* units)
{
    int length = IsDBCSLeadByteEx(cp, in[0]) ? 2 : 1;
    if (static_cast<std::size_t>(length) > left)
        return -EINVAL;
    *units = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(in), length, out, 2);
    return *units > 0 ? length : -EILSEQ;
}

// Encodes UTF-16 units as UTF-8 (the units form one valid character).
int encodeUtf8(const WCHAR* in, int units, char* out)
{
    unsigned long cp = in[0];
    if (units == 2)
        cp = 0x10000 + ((cp - 0xD800) << 10) + (in[1] - 0xDC00);
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

size_t fail(int error)
{
    errno = error;
    return static_cast<size_t>(-1);
}

}  // namespace

extern "C" iconv_t iconv_open(const char* tocode, const char* fromcode)
{
    if (!tocode || !fromcode) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    bool translit = false, ignore = false;
    UINT to = parseName(tocode, &translit, &ignore);
    UINT from = parseName(fromcode, nullptr, nullptr);
    if (to == 0 || from == 0) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    Converter* converter = new (std::nothrow) Converter{from, to, translit, ignore};
    if (!converter) {
        errno = ENOMEM;
        return reinterpret_cast<iconv_t>(-1);
    }
    return converter;
}

extern "C" size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft)
{
    if (cd == reinterpret_cast<iconv_t>(-1) || cd == nullptr)
        return fail(EBADF);
    const Converter& c = *static_cast<const Converter*>(cd);
    // No shift state to return to or to reset: every offered charset is
    // stateless.
    if (!inbuf || !*inbuf)
        return 0;
    if (!inbytesleft || !outbuf || !*outbuf || !outbytesleft)
        return fail(EINVAL);

    size_t irreversible = 0;
    while (*inbytesleft > 0) {
        const unsigned char* in = reinterpret_cast<const unsigned char*>(*inbuf);
        WCHAR wide[2];
        int units = 0;
        int taken = c.from == CP_UTF8 ? decodeUtf8(in, *inbytesleft, wide, &units)
                                      : decodeCodePage(c.from, in, *inbytesleft, wide, &units);
        if (taken < 0)
            return fail(-taken);

        char encoded[16];
        int length;
        if (c.to == CP_UTF8) {
            length = encodeUtf8(wide, units, encoded);
        } else {
            BOOL defaulted = FALSE;
            length = WideCharToMultiByte(c.to, c.translit ? 0 : WC_NO_BEST_FIT_CHARS, wide, units, encoded,
                                         sizeof encoded, nullptr, &defaulted);
            if (length <= 0)
                return fail(EILSEQ);
            if (defaulted) {
                if (c.ignore)
                    length = 0;
                else if (!c.translit)
                    return fail(EILSEQ);
                ++irreversible;
            }
        }
        if (static_cast<size_t>(length) > *outbytesleft)
            return fail(E2BIG);
        std::memcpy(*outbuf, encoded, static_cast<size_t>(length));
        *outbuf += length;
        *outbytesleft -= static_cast<size_t>(length);
        *inbuf += taken;
        *inbytesleft -= static_cast<size_t>(taken);
    }
    return irreversible;
}

extern "C" int iconv_close(iconv_t cd)
{
    if (cd == reinterpret_cast<iconv_t>(-1) || cd == nullptr) {
        errno = EBADF;
        return -1;
    }
    delete static_cast<Converter*>(cd);
    return 0;
}

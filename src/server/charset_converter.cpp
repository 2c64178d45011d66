#include "charset_converter.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "plugin/utils.h"

namespace {

const char kInvalid[] = "invalid mutibyte character found";
const char kIncomplete[] = "incomplete mutibyte character found";

// "UTF-8" in any of the spellings iconv takes, options after "//" aside.
bool namesUtf8(const std::string& name)
{
    std::string letters;
    for (char c : name.substr(0, name.find("//")))
        if (std::isalnum(static_cast<unsigned char>(c)))
            letters += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return letters == "UTF8";
}

}  // namespace

CharsetConverter::CharsetConverter(const std::string& from, const std::string& to) : utf8_input(namesUtf8(from))
{
    handle = iconv_open(to.c_str(), from.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        int error = errno;
        if (error == EINVAL)
            throw std::runtime_error("unsupported conversion");
        throw std::runtime_error(std::string("cannot open conversion: ") + std::strerror(error));
    }
}

CharsetConverter::~CharsetConverter()
{
    iconv_close(handle);
}

std::string CharsetConverter::convert(const std::string& text)
{
    std::string result;
    if (text.empty())
        return result;
    if (utf8_input) {
        const Utf8Form form = utf8Form(text);
        if (form == Utf8Form::invalid)
            throw std::runtime_error(kInvalid);
        if (form == Utf8Form::truncated)
            throw std::runtime_error(kIncomplete);
    }

    std::lock_guard<std::mutex> guard(lock);
    std::vector<char> input(text.begin(), text.end());
    char buffer[chunk_size];
    char* in = input.data();
    std::size_t in_left = input.size();
    // The first passes convert the text; the last one (no input) writes
    // whatever a stateful target needs to return to its initial state.
    bool flushing = false;
    for (;;) {
        char* out = buffer;
        std::size_t out_left = chunk_size;
        std::size_t rc = flushing ? iconv(handle, nullptr, nullptr, &out, &out_left)
                                  : iconv(handle, &in, &in_left, &out, &out_left);
        int error = errno;
        result.append(buffer, chunk_size - out_left);
        if (rc != static_cast<std::size_t>(-1)) {
            if (flushing)
                break;
            if (in_left == 0)
                flushing = true;
            continue;
        }
        if (error == E2BIG)
            continue;
        // Start the next conversion from a clean state.
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
        if (error == EINVAL)
            throw std::runtime_error(kIncomplete);
        if (error == EILSEQ)
            throw std::runtime_error(kInvalid);
        throw std::runtime_error("unknown error");
    }
    return result;
}

#include "charset_converter.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

CharsetConverter::CharsetConverter(const std::string& from, const std::string& to)
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
            throw std::runtime_error("incomplete mutibyte character found");
        if (error == EILSEQ)
            throw std::runtime_error("invalid mutibyte character found");
        throw std::runtime_error("unknown error");
    }
    return result;
}

#include "engine/encoder_process.h"

#include "plugin/utils.h"

#include <Poco/Exception.h>
#include <Poco/Format.h>
#include <Poco/String.h>

namespace {

// Values put into one argument: NUL, CR and LF would cut or break the
// command line.
std::string cleanValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value)
        if (c != '\0' && c != '\r' && c != '\n')
            out.push_back(c);
    return out;
}

} // namespace

EncoderProcess::EncoderProcess(const std::string& encoder_file, const std::string& params)
    : encoder_file_(encoder_file), params_(params) {}

void EncoderProcess::startWith(const std::string& command_line) {
    std::wstring line;
    try {
        line = fromUtf8(command_line);
    } catch (const std::exception&) {
        throw Poco::ApplicationException("Failed to initialize encoder.\nIts command line is not valid UTF-8.");
    }
    if (!start(line))
        throw Poco::ApplicationException("Failed to initialize encoder.\n" + startFailure());
    try {
        setNonBlocking();
    } catch (DWORD code) {
        close();
        throw Poco::ApplicationException(
            Poco::format("Failed to initialize encoder.\nIts input pipe failed (error %lu).", static_cast<unsigned long>(code)));
    }
}

void EncoderProcess::open() { startWith(encoder_file_ + " " + params_); }

std::string EncoderProcess::commandLine(const std::string& artist, const std::string& title) const {
    // Split first, then replace inside each argument and quote it back, so
    // a value can neither end its argument nor add options.
    const std::string clean_artist = cleanValue(artist);
    const std::string clean_title = cleanValue(title);
    std::string line = encoder_file_ + " ";
    bool first = true;
    for (std::string argument : platform::splitArguments(params_)) {
        Poco::replaceInPlace(argument, std::string("%artist%"), clean_artist);
        Poco::replaceInPlace(argument, std::string("%title%"), clean_title);
        if (!first)
            line += ' ';
        line += platform::quoteArgument(argument);
        first = false;
    }
    return line;
}

void EncoderProcess::open(const std::string& artist, const std::string& title) {
    startWith(commandLine(artist, title));
}

void EncoderProcess::encode(Poco::BasicFIFOBuffer<char>& input, Poco::BasicFIFOBuffer<char>& output,
                            DWORD output_wait) {
    // Written from the FIFO's own storage, with no copy; the FIFO is
    // emptied whatever happens, as if it had been read out first.
    struct Emptied {
        Poco::BasicFIFOBuffer<char>& fifo;
        ~Emptied() { fifo.drain(); }
    } emptied{input};
    encode(input.begin(), input.used(), output, output_wait);
}

void EncoderProcess::encode(const char* data, std::size_t size, Poco::BasicFIFOBuffer<char>& output,
                            DWORD output_wait) {
    try {
        // (The pump's last step prints the program's standard error.)
        pump(data, size, output, "Encoder", output_wait);
    } catch (DWORD code) {
        throw Poco::ApplicationException(Poco::format("encode error (%lu)", static_cast<unsigned long>(code)));
    }
}

#pragma once
// The encoder program of a stream: PCM in on standard input, the encoded
// stream out on standard output.
#include "engine/child_process.h"

#include <Poco/FIFOBuffer.h>

#include <string>

class EncoderProcess : public ChildProcess {
public:
    EncoderProcess(const std::string& encoder_file, const std::string& params);

    // Starts the program with the parameters as they stand. Throws
    // Poco::ApplicationException "Failed to initialize encoder." followed
    // by a line that names the program and why it could not start.
    void open();
    // Starts the program with "%artist%" and then "%title%" replaced in each
    // of its arguments; the values arrive as parts of single arguments,
    // whatever quotes, backslashes or blanks they hold (NUL, CR and LF are
    // dropped from them).
    void open(const std::string& artist, const std::string& title);
    // Pushes every byte of `input` through the program, which leaves it
    // empty; the program's output goes to `output` (what does not fit is
    // dropped). `input` belongs to the calling thread meanwhile; when it
    // held bytes, the program's first output of them is waited for up to
    // `output_wait` ms. Throws Poco::ApplicationException when the program
    // has ended or a pipe fails.
    void encode(Poco::BasicFIFOBuffer<char>& input, Poco::BasicFIFOBuffer<char>& output, DWORD output_wait = 0);
    // The same for `size` bytes at `data`.
    void encode(const char* data, std::size_t size, Poco::BasicFIFOBuffer<char>& output, DWORD output_wait = 0);

    // The command line for the given artist and title (see open).
    std::string commandLine(const std::string& artist, const std::string& title) const;

private:
    void startWith(const std::string& command_line);

    std::string encoder_file_;
    std::string params_;
};

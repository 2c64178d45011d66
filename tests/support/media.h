#pragma once
// The real encoders and ffmpeg from the listener's side (Linux build): is a
// program installed, what does ffprobe say of a file, and what does the
// decoded audio hold.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace media {

bool onPath(const std::string& program);
std::string shellQuote(const std::string& text);

// ffprobe's fields for the first audio stream and the container:
// codec_name, sample_rate, channels, format_name and tag:title,
// tag:artist (from the stream or the container).
std::map<std::string, std::string> probe(const std::string& file);

// The file decoded by ffmpeg to interleaved floats at its own rate and
// channel count (empty when ffmpeg fails).
std::vector<float> decode(const std::string& file);

// One channel of interleaved audio, `from` to `to` seconds.
std::vector<float> channel(const std::vector<float>& interleaved, int channels, int which, int rate, double from,
                           double to);
// Power of `frequency` in the samples (Goertzel), normalised by length.
double tonePower(const std::vector<float>& samples, double frequency, int rate);
// Level in dB full scale (RMS).
double levelDb(const std::vector<float>& samples);

} // namespace media

// A missing program skips the test, except under CI, where it fails it.
#define REQUIRE_PROGRAM(name)                                                        \
    do {                                                                             \
        if (!media::onPath(name)) {                                                  \
            const char* ci_ = std::getenv("CI");                                     \
            if (ci_ && std::string(ci_) == "true")                                   \
                FAIL() << name << " is not installed";                               \
            GTEST_SKIP() << name << " is not installed";                             \
        }                                                                            \
    } while (0)

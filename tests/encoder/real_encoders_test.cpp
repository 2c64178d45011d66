// The real encoder programs of the Linux build: 5 s of a generated sine
// pumped through each, the result identified by ffprobe. (Wine cannot start
// Linux programs, so the Windows build has its own helper programs only.)
#if !defined(_WIN32)
#include "media.h"
#include "pipe_fixture.h"

#include "engine/encoder_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

using namespace media;
using namespace pipetest;

namespace {

std::string encodeToFile(EncoderProcess& encoder, const std::string& pcm, const std::string& file) {
    // Half-second pieces, as the stream's worker hands them on; then drain
    // until the encoder has been quiet for a while.
    const std::size_t piece = pcm.size() / 10;
    const std::string out = runThrough(encoder, pcm, piece, nullptr, 700, 30000);
    encoder.close();
    std::ofstream(file, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
    return out;
}

struct EncoderCase {
    const char* name;
    const char* program;
    const char* params;
    int rate;
    int channels;
    const char* codec;
    const char* container;
    int probed_rate;
};

void PrintTo(const EncoderCase& c, std::ostream* os) { *os << c.name; }

class RealEncoder : public ::testing::TestWithParam<EncoderCase> {};

TEST_P(RealEncoder, TurnsASineIntoAStreamOfTheRightKind) {
    const EncoderCase& c = GetParam();
    REQUIRE_PROGRAM(c.program);
    REQUIRE_PROGRAM("ffprobe");
    TempDir temp;
    const std::string dir = temp.path();
    EncoderProcess encoder(c.program, c.params);
    encoder.open("Velmora Test", "Sine 440");
    const std::string out = encodeToFile(encoder, sinePcm(5, c.rate, c.channels), dir + "out");
    ASSERT_GT(out.size(), 1000u);
    auto fields = probe(dir + "out");
    EXPECT_EQ(fields["codec_name"], c.codec);
    EXPECT_EQ(fields["format_name"], c.container);
    EXPECT_EQ(fields["sample_rate"], std::to_string(c.probed_rate));
    EXPECT_EQ(fields["channels"], std::to_string(c.channels));
}

const EncoderCase kCases[] = {
    {"lame", "lame", "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -", 44100, 2,
     "mp3", "mp3", 44100},
    {"lame_mono_22050", "lame", "-r -s 22.05 --bitwidth 16 --signed --little-endian -m m -b 64 --flush --quiet - -",
     22050, 1, "mp3", "mp3", 22050},
    {"oggenc", "oggenc",
     R"(-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 -q 3 -a "%artist%" -t "%title%" -o - -)", 44100, 2, "vorbis",
     "ogg", 44100},
    {"flac_ogg", "flac",
     "--silent --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 --sample-rate=44100 "
     R"(--ogg -T "ARTIST=%artist%" -T "TITLE=%title%" -c -)",
     44100, 2, "flac", "ogg", 44100},
    // Opus always decodes at 48 kHz, whatever rate it was given.
    {"opusenc", "opusenc",
     R"(--quiet --raw --raw-bits 16 --raw-rate 44100 --raw-chan 2 --artist "%artist%" --title "%title%" - -)", 44100,
     2, "opus", "ogg", 48000},
    {"opusenc_mono_48000", "opusenc", R"(--quiet --raw --raw-bits 16 --raw-rate 48000 --raw-chan 1 --title "%title%" - -)",
     48000, 1, "opus", "ogg", 48000},
    {"ffmpeg_aac", "ffmpeg",
     "-hide_banner -loglevel error -f s16le -ar 44100 -ac 2 -i - -c:a aac -b:a 128k -f adts -", 44100, 2, "aac",
     "aac", 44100},
};

INSTANTIATE_TEST_SUITE_P(Encoders, RealEncoder, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<EncoderCase>& info) { return info.param.name; });

TEST(RealEncoderTitles, AHostileTitleBecomesTheTagAndCreatesNoFile) {
    REQUIRE_PROGRAM("oggenc");
    REQUIRE_PROGRAM("ffprobe");
    TempDir temp;
    const std::string dir = temp.path();
    const std::string owned = dir + "owned.ogg";
    const std::string title = "x\" -o \"" + owned;
    const std::string artist = "Band \\";
    EncoderProcess encoder("oggenc",
                           R"(-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 -q 3 -a "%artist%" -t "%title%" -o - -)");
    encoder.open(artist, title);
    const std::string out = encodeToFile(encoder, sinePcm(5, 44100, 2), dir + "out.ogg");
    EXPECT_FALSE(pathExists(owned));
    auto fields = probe(dir + "out.ogg");
    EXPECT_EQ(fields["codec_name"], "vorbis");
    EXPECT_EQ(fields["tag:title"], title);
    EXPECT_EQ(fields["tag:artist"], artist);
}

TEST(RealEncoderTitles, ARestartWithANewTitleStartsANewStream) {
    REQUIRE_PROGRAM("oggenc");
    REQUIRE_PROGRAM("ffprobe");
    TempDir temp;
    const std::string dir = temp.path();
    EncoderProcess encoder("oggenc", R"(-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 -q 3 -t "%title%" -o - -)");
    const char* const titles[] = {"First", "Second \"one\""};
    int index = 0;
    for (const char* title : titles) {
        encoder.open("", title);
        const std::string file = dir + "part" + std::to_string(index++) + ".ogg";
        encodeToFile(encoder, sinePcm(5, 44100, 2), file);
        EXPECT_EQ(probe(file)["tag:title"], title);
    }
}

} // namespace
#endif

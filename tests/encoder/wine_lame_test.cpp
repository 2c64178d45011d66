// Under Wine: the lame.exe cross-built from Debian's source (see
// scripts/build-win-deps.sh) as the engine's encoder, 5 s of a sine in
// through the pipe, and what comes out identified by ffprobe. Wine cannot
// start Linux programs, so ffprobe runs in the decoding peer on loopback.
#if defined(_WIN32)
#include "pipe_fixture.h"

#include "engine/encoder_process.h"
#include "http_client.h"
#include "peers.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace pipetest;

namespace {

TEST(RealEncoderUnderWine, CrossBuiltLameTurnsPcmOnItsInputIntoMp3) {
    VELMORA_PEER_PORT(probe_port, peers::Kind::Probe);
    const std::string lame = lameExe();
    if (!pathExists(lame)) {
        if (peers::required())
            FAIL() << lame << " is missing (bash scripts/setup.sh builds it)";
        GTEST_SKIP() << lame << " is missing";
    }
    EncoderProcess encoder("\"" + lame + "\"",
                           "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -");
    encoder.open();
    const std::string pcm = sinePcm(5, 44100, 2);
    const std::string out = runThrough(encoder, pcm, pcm.size() / 10, nullptr, 700, 30000);
    encoder.close();
    auto fields = probeStream(probe_port, out);
    EXPECT_EQ(fields["codec_name"], "mp3");
    EXPECT_EQ(fields["format_name"], "mp3");
    EXPECT_EQ(fields["sample_rate"], "44100");
    EXPECT_EQ(fields["channels"], "2");
    EXPECT_EQ(fields["decode_errors"], "0");
    EXPECT_NEAR(std::atof(fields["decoded_seconds"].c_str()), 5.0, 0.1);
}

} // namespace
#endif

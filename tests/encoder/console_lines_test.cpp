// What the programs' standard error and the pipe's own troubles put on the
// player's console.
#include "pipe_fixture.h"

#include "engine/child_process.h"
#include "engine/encoder_process.h"
#include "plugin/utils.h"
#include "player.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

using namespace pipetest;

namespace {

class ConsoleLines : public ::testing::Test {
protected:
    void SetUp() override {
        client_ = kestrune_get_interface(&host_.api(), nullptr);
        ASSERT_NE(client_, nullptr);
        client_->mark_services_ready(true);
    }
    void TearDown() override { client_->mark_services_ready(false); }

    // The console's lines, each ended by a line break.
    std::string allText() {
        std::string text;
        for (const std::string& line : host_.console_log().lines())
            text += line + "\n";
        return text;
    }

    kestrune_host::player host_;
    component_client* client_ = nullptr;
};

TEST_F(ConsoleLines, StandardErrorIsPrintedLineByLineWithoutPrefix) {
    // 4 KB before any input, then one line per read: all of it reaches the
    // console unchanged, in order, once, each of its lines a console line.
    EncoderProcess encoder(helper("stderrflood"), "4");
    encoder.open();
    const std::string data = patternBytes(300000);
    runThrough(encoder, data, 100000, [&](const std::string& got) { return got.size() >= data.size(); }, 0, 30000);
    encoder.close();
    const std::string text = allText();
    std::string line(63, 'e');
    line += '\n';
    std::string flood;
    for (int i = 0; i < 4 * 16; ++i)
        flood += line;
    ASSERT_GE(text.size(), flood.size());
    EXPECT_EQ(text.substr(0, flood.size()), flood);
    const std::string rest = text.substr(flood.size());
    EXPECT_NE(rest.find("read\n"), std::string::npos);
    EXPECT_EQ(rest.find_first_not_of("read\n"), std::string::npos) << rest;
    for (const std::string& printed : host_.console_log().lines())
        EXPECT_NE(printed.rfind("velmora: ", 0), 0u);
}

TEST_F(ConsoleLines, AnEndedProgramLeavesItsErrorTextBehind) {
    EncoderProcess encoder(helper("exitnow"), "3 \"unknown option -x\"");
    encoder.setLabel("Radio One");
    encoder.open();
    Poco::BasicFIFOBuffer<char> in(kFifoSize), out(kFifoSize);
    const std::string pcm = sinePcm(1, 44100, 2);
    in.write(pcm.data(), pcm.size());
    std::string message;
    try {
        encoder.encode(in, out);
    } catch (const Poco::ApplicationException& e) {
        message = e.message();
    }
    // The message says how the program ended; its last error line is on
    // the console under the stream's name and the program's.
    EXPECT_NE(message.find("ended with exit status 3; its last error output is on the console."), std::string::npos)
        << message;
    bool named = false;
    for (const std::string& line : host_.console_log().lines())
        named = named || (line.rfind("velmora: Radio One: ", 0) == 0 && line.find("exitnow") != std::string::npos &&
                          line.find(": unknown option -x") != std::string::npos);
    EXPECT_TRUE(named) << allText();
}

TEST_F(ConsoleLines, AProgramEndedByCloseIsNamed) {
    ChildProcess child;
    child.setCloseTimeout(200);
    ASSERT_TRUE(child.start(fromUtf8(helper("lingerer"))));
    child.close();
    const std::vector<std::string> lines = host_.console_log().lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("velmora: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("lingerer"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("200 ms"), std::string::npos) << lines[0];
}

TEST_F(ConsoleLines, AProgramThatEndsByItselfLeavesNoLine) {
    EncoderProcess encoder(helper("passthrough"), "");
    encoder.open();
    encoder.close();
    EXPECT_TRUE(host_.console_log().lines().empty());
}

} // namespace

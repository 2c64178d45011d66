// Command-line splitting by the Windows C runtime's rules, quoting back, and
// how artist and title go into an encoder's parameters.
#include "engine/encoder_process.h"
#include "win32/process.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

struct SplitCase {
    const char* text;
    Words words;
};

TEST(CommandLineSplit, ArgumentsFollowTheRuntimeRules) {
    const SplitCase cases[] = {
        {"", {}},
        {" \t ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"  lead  and   trail  ", {"lead", "and", "trail"}},
        {"\"abc\" d e", {"abc", "d", "e"}},
        {"\"a b\"c d", {"a bc", "d"}},
        {"x\"y z\"w", {"xy zw"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        // Backslashes not before a quote are literal.
        {R"(a\\\b d"e f"g h)", {R"(a\\\b)", "de fg", "h"}},
        {R"(C:\dir\ x)", {R"(C:\dir\)", "x"}},
        {R"(trailing\)", {R"(trailing\)"}},
        // 2n+1 backslashes before a quote: n backslashes and a literal quote.
        {R"(a\"b c)", {"a\"b", "c"}},
        {R"(a\\\"b c d)", {R"(a\"b)", "c", "d"}},
        // 2n backslashes before a quote: n backslashes, the quote groups.
        {R"(a\\"b c" d)", {R"(a\b c)", "d"}},
        {R"(a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}},
        // "" inside a quoted part: a literal quote, still quoted.
        {R"(a"b"" c d)", {"ab\" c d"}},
        {R"("a""b" c)", {"a\"b", "c"}},
        // An unclosed quote runs to the end.
        {"\"open ended", {"open ended"}},
        {R"("ends in backslash\")", {"ends in backslash\""}},
        {"utf-8 \"caf\xc3\xa9 \xe6\x97\xa5\"", {"utf-8", "caf\xc3\xa9 \xe6\x97\xa5"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(platform::splitArguments(std::string(c.text)), c.words) << "text: " << c.text;
        // The wide form splits alike (ASCII only here).
        std::wstring wide(c.text, c.text + std::char_traits<char>::length(c.text));
        if (std::string(c.text).find('\xc3') == std::string::npos) {
            EXPECT_EQ(platform::splitArguments(wide).size(), c.words.size()) << "text: " << c.text;
        }
    }
}

TEST(CommandLineSplit, TheProgramTokenTakesQuotesOnlyAsGrouping) {
    using W = std::vector<std::wstring>;
    EXPECT_EQ(platform::splitCommandLine(LR"("C:\Program Files\lame.exe" -b 128)"),
              (W{LR"(C:\Program Files\lame.exe)", L"-b", L"128"}));
    EXPECT_EQ(platform::splitCommandLine(LR"(encoders\lame.exe "a b")"), (W{LR"(encoders\lame.exe)", L"a b"}));
    // A backslash before a quote in the program is a path separator.
    EXPECT_EQ(platform::splitCommandLine(LR"(dir\"x y" z)"), (W{LR"(dir\x y)", L"z"}));
    EXPECT_EQ(platform::splitCommandLine(L"prog "), (W{L"prog"}));
    EXPECT_EQ(platform::splitCommandLine(L"  "), W{});
}

TEST(CommandLineQuote, EveryArgumentComesBackUnchanged) {
    const Words hard = {"",
                        "plain",
                        "two words",
                        "tab\there",
                        "\"",
                        "\"\"",
                        "x\" -o \"/tmp/owned",
                        "ends in backslash\\",
                        "ends in two\\\\",
                        "\\\"",
                        "\\\\\"quoted\\\\\"",
                        "C:\\Program Files\\",
                        "%artist% - %title%",
                        "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac"};
    std::string line;
    for (const std::string& word : hard) {
        EXPECT_EQ(platform::splitArguments(platform::quoteArgument(word)), Words{word}) << "argument: " << word;
        line += platform::quoteArgument(word) + " ";
    }
    EXPECT_EQ(platform::splitArguments(line), hard);
    // Arguments that need nothing are left as they are.
    EXPECT_EQ(platform::quoteArgument(std::string("--title")), "--title");
    EXPECT_EQ(platform::quoteArgument(std::string(R"(C:\dir\file)")), R"(C:\dir\file)");
}

// The arguments after the program in an encoder's command line.
Words encoderArguments(const std::string& params, const std::string& artist, const std::string& title) {
    EncoderProcess encoder("enc", params);
    const std::string line = encoder.commandLine(artist, title);
    EXPECT_EQ(line.compare(0, 4, "enc "), 0) << line;
    return platform::splitArguments(line.substr(4));
}

TEST(EncoderTitles, StoredPresetsKeepWorking) {
    EXPECT_EQ(encoderArguments(R"(-Q -a "%artist%" -t "%title%" -o - -)", "The Band", "A Song"),
              (Words{"-Q", "-a", "The Band", "-t", "A Song", "-o", "-", "-"}));
    EXPECT_EQ(encoderArguments("--artist %artist% --title %title%", "Solo", "Night"),
              (Words{"--artist", "Solo", "--title", "Night"}));
    // No tags: the arguments stand as they are.
    EXPECT_EQ(encoderArguments("-r -s 44.1 --flush - -", "a", "t"), (Words{"-r", "-s", "44.1", "--flush", "-", "-"}));
    // An empty parameter text: the program and one blank.
    EXPECT_EQ(EncoderProcess("enc", "").commandLine("a", "t"), "enc ");
}

TEST(EncoderTitles, TagsAreReplacedArtistFirstThenTitle) {
    EXPECT_EQ(encoderArguments(R"(--comment "%artist%/%artist%")", "X", "T"), (Words{"--comment", "X/X"}));
    // A title tag inside the artist is replaced by the title as well.
    EXPECT_EQ(encoderArguments(R"(-a "%artist%" -t "%title%")", "Who %title%", "What"),
              (Words{"-a", "Who What", "-t", "What"}));
    // The title is not searched for an artist tag.
    EXPECT_EQ(encoderArguments(R"(-t "%title%")", "A", "%artist%"), (Words{"-t", "%artist%"}));
    EXPECT_EQ(encoderArguments(R"("%artist% - %title%")", "A", "B"), (Words{"A - B"}));
}

TEST(EncoderTitles, HostileValuesStayInsideTheirArgument) {
    const std::string params = R"(--artist "%artist%" --title "%title%" -o -)";
    const char* const hostile[] = {
        "x\" -o \"/tmp/owned",
        "x\" -o /tmp/owned \"",
        "ends in backslash\\",
        "ends in two\\\\",
        "\\\"",
        "\"",
        "\t tabs and  blanks \t",
        "",
    };
    for (const char* value : hostile) {
        EXPECT_EQ(encoderArguments(params, value, value),
                  (Words{"--artist", value, "--title", value, "-o", "-"}))
            << "value: " << value;
    }
    // Unquoted tags take whole values with blanks too.
    EXPECT_EQ(encoderArguments("-t %title% -x", "a", "two words\\"), (Words{"-t", "two words\\", "-x"}));
}

TEST(EncoderTitles, LineBreaksAndNulAreDropped) {
    const std::string title = std::string("first\r\nsecond\nthird\r") + '\0' + "end";
    EXPECT_EQ(encoderArguments(R"(-t "%title%" -a "%artist%")", "A\nB", title),
              (Words{"-t", "firstsecondthirdend", "-a", "AB"}));
}

} // namespace

// Character-set conversion of directory fields and titles.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "server/charset_converter.h"

namespace {

const std::string kOptions = "//ingnore//translit";

std::string convert(const std::string& to, const std::string& text)
{
    CharsetConverter converter("UTF-8", to);
    return converter.convert(text);
}

std::string failureOf(const std::string& to, const std::string& text)
{
    try {
        convert(to, text);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no failure)";
}

}  // namespace

TEST(CharsetConverter, ConvertsToEveryListedCharset)
{
    std::string text = "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5 A&B";
    EXPECT_EQ(convert("UTF-8" + kOptions, text), text);
    EXPECT_EQ(convert("UTF-8" + kOptions, ""), "");
    EXPECT_EQ(convert("ISO-8859-1" + kOptions, "\xC3\xA9"), "\xE9");
    EXPECT_EQ(convert("Windows-1252" + kOptions, "Caf\xC3\xA9 \xE2\x82\xAC"), "Caf\xE9 \x80");
    EXPECT_EQ(convert("SHIFT_JIS" + kOptions, "\xE6\x97\xA5\xE6\x9C\xAC"), "\x93\xFA\x96\x7B");
    EXPECT_EQ(convert("Windows-1251" + kOptions, "\xD0\x96"), "\xC6");

    // The Yellow Pages page offers these names; each must convert plain text.
    std::vector<std::string> names = {"UTF-8", "SHIFT_JIS", "GB2312", "BIG5", "Windows-1250", "Windows-1251",
                                      "Windows-1252", "Windows-1253", "Windows-1254", "Windows-1255",
                                      "Windows-1256", "Windows-1257", "Windows-1258"};
#ifdef _WIN32
    names.push_back("KS_C_5601-1987");
#endif
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(convert(name + kOptions, "Stream 42"), "Stream 42");
        EXPECT_EQ(convert(name, "Stream 42"), "Stream 42");
    }
}

TEST(CharsetConverter, TransliteratesOnlyWhenAsked)
{
    // The euro sign has no place in Latin-1: with the options it becomes
    // something near, without them the conversion fails.
    std::string result = convert("ISO-8859-1" + kOptions, "Caf\xC3\xA9 \xE2\x82\xAC!");
    ASSERT_GE(result.size(), 7u);
    EXPECT_EQ(result.substr(0, 5), "Caf\xE9 ");
    EXPECT_EQ(result.back(), '!');
    std::string replacement = result.substr(5, result.size() - 6);
    EXPECT_FALSE(replacement.empty());
    for (char c : replacement)
        EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << replacement;
    EXPECT_EQ(failureOf("ISO-8859-1", "\xE2\x82\xAC"), "invalid mutibyte character found");
}

TEST(CharsetConverter, RefusesBrokenInputAndUnknownNamesAndRecovers)
{
    CharsetConverter converter("UTF-8", "ISO-8859-1" + kOptions);
    std::vector<std::pair<std::string, std::string>> cases = {
        {"abc\xFF", "invalid mutibyte character found"},
        {"\xC0\xAF", "invalid mutibyte character found"},
        {"abc\xC3", "incomplete mutibyte character found"},
        {"\xE6\x97", "incomplete mutibyte character found"},
    };
    for (const auto& c : cases) {
        try {
            converter.convert(c.first);
            ADD_FAILURE() << "no failure for " << c.first;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.second);
        }
        // A failure leaves nothing behind for the next text.
        EXPECT_EQ(converter.convert("\xC3\xA9t\xC3\xA9"), "\xE9t\xE9");
    }
    // Unknown names are unsupported, on either side.
    EXPECT_EQ(failureOf("NO-SUCH-CHARSET" + kOptions, "x"), "unsupported conversion");
    try {
        CharsetConverter from_unknown("NO-SUCH-CHARSET", "UTF-8");
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "unsupported conversion");
    }
}

TEST(CharsetConverter, RefusesEveryIllFormedUtf8WhateverTheTarget)
{
    // Code points beyond U+10FFFF (above F4 8F, leads F5 to F7, the old
    // five- and six-byte forms), surrogates, overlong forms, stray and
    // missing continuation bytes.
    const std::vector<std::string> invalid = {
        "a\xF4\x90\x80\x80" "b", "a\xF5\x80\x80\x80" "b", "a\xF7\xBF\xBF\xBF" "b", "a\xF8\x88\x80\x80\x80" "b",
        "a\xFC\x84\x80\x80\x80\x80" "b", "a\xF4\x90", "a\xED\xA0\x80" "b", "a\xE0\x80\xAF" "b", "a\xC1\xBF" "b",
        "a\x80" "b", "a\xC3" "b", "a\xE6\x97" "b",
    };
    for (const std::string& to : {"UTF-8" + kOptions, "ISO-8859-1" + kOptions, std::string("UTF-8")}) {
        SCOPED_TRACE(to);
        for (const std::string& text : invalid)
            EXPECT_EQ(failureOf(to, text), "invalid mutibyte character found") << testing::PrintToString(text);
        EXPECT_EQ(failureOf(to, "a\xF4\x8F\xBF"), "incomplete mutibyte character found");
        // The highest code point and the last one below the surrogates pass.
        EXPECT_EQ(convert(to, "\xF4\x8F\xBF\xBF\xED\x9F\xBF").empty(), false);
    }
}

TEST(CharsetConverter, LongTextsConvertWhole)
{
    // Multi-byte characters straddle the 1024-byte steps on both sides.
    std::string utf8, latin1, japanese;
    for (int i = 0; i < 700; ++i) {
        utf8 += "ab\xC3\xA9";
        latin1 += "ab\xE9";
        japanese += "\xE6\x97\xA5";
    }
    EXPECT_EQ(convert("ISO-8859-1" + kOptions, utf8), latin1);
    EXPECT_EQ(convert("UTF-8" + kOptions, japanese), japanese);
    std::string sjis = convert("SHIFT_JIS" + kOptions, japanese);
    ASSERT_EQ(sjis.size(), 1400u);
    for (std::size_t i = 0; i < sjis.size(); i += 2)
        ASSERT_EQ(sjis.substr(i, 2), "\x93\xFA") << i;
}

TEST(CharsetConverter, StatefulTargetsEndInTheirInitialState)
{
    const std::string text = "\xE6\x97\xA5\xE6\x9C\xAC";
#ifdef _WIN32
    // Stateful charsets are not offered on Windows.
    EXPECT_EQ(failureOf("ISO-2022-JP" + kOptions, text), "unsupported conversion");
#else
    CharsetConverter converter("UTF-8", "ISO-2022-JP" + kOptions);
    std::string first = converter.convert(text);
    ASSERT_GE(first.size(), 3u);
    EXPECT_EQ(first.substr(0, 3), "\x1B$B");
    EXPECT_EQ(first.substr(first.size() - 3), "\x1B(B");
    // Each text starts afresh, so the same text converts the same way.
    EXPECT_EQ(converter.convert(text), first);
    EXPECT_EQ(converter.convert("abc"), "abc");
#endif
}

TEST(CharsetConverter, OneConverterServesSeveralThreads)
{
    CharsetConverter converter("UTF-8", "ISO-8859-1" + kOptions);
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&converter, &wrong, t] {
            std::string text(100 + t, 'x');
            text += "\xC3\xA9";
            for (int i = 0; i < 300; ++i)
                if (converter.convert(text) != std::string(100 + t, 'x') + "\xE9")
                    ++wrong[t];
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// Shared utilities: conversions, URL encoding, WAV header, file checks and
// the clipboard. The same sources run on Linux and under Wine.
#include <gtest/gtest.h>

#include <Poco/URI.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "plugin/utils.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

// One text in its UTF-8 bytes and its wide form as the compiler encodes it
// (a surrogate pair for non-BMP characters where wchar_t has 16 bits).
struct Sample {
    const char* utf8;
    const wchar_t* wide;
};

const Sample kSamples[] = {
    {"", L""},
    {"plain ASCII ~", L"plain ASCII ~"},
    {"Caf\xC3\xA9 M\xC3\xB6tley", L"Caf\u00E9 M\u00F6tley"},
    {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", L"\u65E5\u672C\u8A9E"},
    {"\xF0\x9F\x8E\xB5 music \xF0\x9D\x84\x9E", L"\U0001F3B5 music \U0001D11E"},
    // The edges of each UTF-8 length.
    {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
     L"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF"},
    // Just outside the surrogate block on both sides.
    {"\xED\x9F\xBF\xEE\x80\x80", L"\uD7FF\uE000"},
};

// Invalid UTF-8 for fromUtf8, invalid wide text for toUtf8.
template <typename Text>
void expectBadConversion(const Text& text) {
    try {
        if constexpr (std::is_same_v<Text, std::string>) {
            fromUtf8(text);
        } else {
            toUtf8(text);
        }
        ADD_FAILURE() << "accepted invalid text of " << text.size() << " units";
    } catch (const std::range_error& e) {
        EXPECT_STREQ(e.what(), "bad conversion");
    }
}

} // namespace

TEST(TextConversion, ConvertsBothWaysIncludingNonBmp) {
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.utf8);
        EXPECT_EQ(fromUtf8(s.utf8), std::wstring(s.wide));
        EXPECT_EQ(toUtf8(s.wide), std::string(s.utf8));
    }
    // A zero inside the text is kept, not taken as its end.
    const std::string with_zero("a\0b", 3);
    EXPECT_EQ(toUtf8(fromUtf8(with_zero)), with_zero);
    EXPECT_EQ(fromUtf8(with_zero).size(), 3u);
}

TEST(TextConversion, RefusesInvalidInput) {
    const char* bad_utf8[] = {
        "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", // overlong
        "\xED\xA0\x80", "\xED\xBF\xBF",                              // surrogates
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80", // beyond U+10FFFF
        "\x80", "abc\xBF", "\xFF", "\xFE",                             // stray bytes
        "a\xE2\x82", "\xE2\x82" "a", "\xF0\x9F\x8E", "\xC3",          // cut short
    };
    for (const char* text : bad_utf8) expectBadConversion(std::string(text));

    const auto w = [](unsigned unit) { return static_cast<wchar_t>(unit); };
    expectBadConversion(std::wstring{w(0xD800)});
    expectBadConversion(std::wstring{L'a', w(0xDBFF)});
    expectBadConversion(std::wstring{w(0xD83C), L'a'});
    expectBadConversion(std::wstring{L'a', w(0xDC00), L'b'});
    expectBadConversion(std::wstring{w(0xDFB5), w(0xD83C)});
    if (sizeof(wchar_t) == 4) {
        // UTF-32: surrogate units are no characters even in pairs, nor is
        // anything beyond U+10FFFF.
        expectBadConversion(std::wstring{w(0xD83C), w(0xDFB5)});
        expectBadConversion(std::wstring{w(0x110000)});
        expectBadConversion(std::wstring{w(0xFFFFFFFFu)});
    } else {
        // UTF-16: one non-BMP character is a surrogate pair.
        EXPECT_EQ(toUtf8(std::wstring{w(0xD83C), w(0xDFB5)}), "\xF0\x9F\x8E\xB5");
    }
}

TEST(TextConversion, ManyThreadsConvertAtOnce) {
    std::atomic<int> mismatches{0};
    std::atomic<int> missed_errors{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &mismatches, &missed_errors] {
            for (int i = 0; i < 2000; ++i) {
                const Sample& s = kSamples[(t + i) % (sizeof kSamples / sizeof kSamples[0])];
                if (fromUtf8(s.utf8) != s.wide || toUtf8(s.wide) != s.utf8) ++mismatches;
                // A failed conversion on one thread leaves the others alone.
                try {
                    fromUtf8(std::string("ok\xE2\x82"));
                    ++missed_errors;
                } catch (const std::range_error&) {
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(missed_errors.load(), 0);
}

TEST(UrlEncode, EncodesQuerySeparatorsSpacesAndUtf8) {
    EXPECT_EQ(urlEncode("a&b=c#d+e f"), "a%26b%3Dc%23d%2Be%20f");
    EXPECT_EQ(urlEncode("Caf\xC3\xA9 \xF0\x9F\x8E\xB5"), "Caf%C3%A9%20%F0%9F%8E%B5");
    EXPECT_EQ(urlEncode("AZaz09-_.~"), "AZaz09-_.~");
    // A title cannot break the query it is put in, and decodes back whole.
    const std::string title = "Artist & Friends - 1+1=2 #live?x=y&mode=kill";
    const std::string encoded = urlEncode(title);
    EXPECT_EQ(encoded.find_first_of("&=#+ "), std::string::npos) << encoded;
    std::string decoded;
    Poco::URI::decode(encoded, decoded);
    EXPECT_EQ(decoded, title);
    EXPECT_EQ(userAgent(), "velmora/1.4.1");
}

namespace {

std::uint32_t le(const std::vector<std::uint8_t>& h, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | h.at(at + static_cast<std::size_t>(i));
    return v;
}

std::string tag(const std::vector<std::uint8_t>& h, std::size_t at) {
    return std::string(h.begin() + static_cast<std::ptrdiff_t>(at), h.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

} // namespace

TEST(WavHeader, FieldsFor16And24And32BitsAndHighRates) {
    struct Case {
        int channels, rate, bits;
        std::uint32_t format_tag, byte_rate, block_align;
    };
    const Case cases[] = {
        {2, 44100, 16, 1, 176400, 4},
        {2, 44100, 24, 1, 264600, 6},
        {2, 44100, 32, 3, 352800, 8},
        {1, 48000, 24, 1, 144000, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " ch " + std::to_string(c.rate) + " Hz " +
                     std::to_string(c.bits) + " bits");
        // Whatever the vector held before is replaced.
        std::vector<std::uint8_t> h(100, 0xAB);
        EXPECT_EQ(&makeWavHeader(h, c.channels, c.rate, c.bits), &h);
        ASSERT_EQ(h.size(), 44u);
        EXPECT_EQ(tag(h, 0), "RIFF");
        EXPECT_EQ(le(h, 4, 4), 0u);
        EXPECT_EQ(tag(h, 8), "WAVE");
        EXPECT_EQ(tag(h, 12), "fmt ");
        EXPECT_EQ(le(h, 16, 4), 16u);
        EXPECT_EQ(le(h, 20, 2), c.format_tag);
        EXPECT_EQ(le(h, 22, 2), static_cast<std::uint32_t>(c.channels));
        EXPECT_EQ(le(h, 24, 4), static_cast<std::uint32_t>(c.rate));
        EXPECT_EQ(le(h, 28, 4), c.byte_rate);
        EXPECT_EQ(le(h, 32, 2), c.block_align);
        EXPECT_EQ(le(h, 34, 2), static_cast<std::uint32_t>(c.bits));
        EXPECT_EQ(tag(h, 36), "data");
        EXPECT_EQ(le(h, 40, 4), 0u);
    }

    // rate x bits leaves the 32-bit range; the byte rate itself still fits
    // the unsigned field.
    std::vector<std::uint8_t> h;
    makeWavHeader(h, 2, 300000000, 32);
    EXPECT_EQ(le(h, 28, 4), 2400000000u);
    // Beyond what the field holds: saturated, never wrapped.
    const int max_rate = std::numeric_limits<std::int32_t>::max();
    makeWavHeader(h, 2, max_rate, 32);
    EXPECT_EQ(le(h, 28, 4), std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(le(h, 24, 4), static_cast<std::uint32_t>(max_rate));
}

namespace {

// A scratch folder made the current directory for the test.
class InScratchDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::u8path(scratch_.path());
        previous_ = fs::current_path();
        fs::current_path(root_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
    }
    static void touch(const fs::path& path) {
        std::ofstream(path) << "x";
        ASSERT_TRUE(fs::exists(path)) << path.string();
    }
    static std::string utf8(const fs::path& path) { return path.u8string(); }

    TempDir scratch_;
    fs::path root_;
    fs::path previous_;
};

} // namespace

TEST_F(InScratchDirectory, FileExistsTakesRelativeNamesFromTheCurrentDirectoryAndAbsolutePaths) {
    touch(root_ / "encoder.exe");
    fs::create_directory(root_ / "encoders");
    touch(root_ / "encoders" / "lame.exe");

    EXPECT_TRUE(fileExists("encoder.exe"));
    EXPECT_TRUE(fileExists(utf8(fs::path("encoders") / "lame.exe")));
    EXPECT_TRUE(fileExists("encoders")); // directories count
    EXPECT_TRUE(fileExists(utf8(root_ / "encoders")));
    EXPECT_TRUE(fileExists(utf8(root_ / "encoder.exe")));
    EXPECT_FALSE(fileExists("missing.exe"));
    EXPECT_FALSE(fileExists(utf8(fs::path("encoders") / "missing.exe")));
    EXPECT_FALSE(fileExists(utf8(root_ / "nothing" / "encoder.exe")));
    // Names that name no file: an empty one (which would otherwise be the
    // current directory itself), one with a zero, one that is not UTF-8.
    EXPECT_FALSE(fileExists(""));
    EXPECT_FALSE(fileExists(std::string("encoder.exe\0x", 13)));
    EXPECT_FALSE(fileExists("encoder.exe\xFF"));

    // Non-BMP names pass through both conversions.
    const std::string music = "\xF0\x9F\x8E\xB5 caf\xC3\xA9.exe";
    touch(fs::u8path(music));
    EXPECT_TRUE(fileExists(music));
    EXPECT_FALSE(fileExists("caf\xC3\xA9.exe"));

    // Moving away changes what a relative name finds.
    fs::current_path(root_ / "encoders");
    EXPECT_FALSE(fileExists("encoder.exe"));
    EXPECT_TRUE(fileExists("lame.exe"));
}

#if !defined(_WIN32)
// (Not on Windows, which keeps the current directory within MAX_PATH; Wine
// takes a longer one but then fails to create windows in the same process.)
TEST_F(InScratchDirectory, FileExistsReadsALongCurrentDirectoryWhole) {
    // Several long folder names make the current directory well over 1024
    // characters; a name inside it is found only when it is read whole.
    fs::path deep = root_;
    for (int i = 0; i < 6; ++i) deep /= std::string(200, static_cast<char>('a' + i));
    std::error_code error;
    fs::create_directories(deep, error);
    if (!error) fs::current_path(deep, error);
    if (error) {
        GTEST_SKIP() << "this platform cannot enter a current directory of "
                     << deep.native().size() << " characters: " << error.message();
    }
    ASSERT_GT(fs::current_path().native().size(), 1100u);
    touch(deep / "lame.exe");
    EXPECT_TRUE(fileExists("lame.exe"));
    EXPECT_FALSE(fileExists("oggenc.exe"));
    // The same name one level up is not found from here.
    touch(deep.parent_path() / "flac.exe");
    EXPECT_FALSE(fileExists("flac.exe"));
    fs::current_path(root_);
}
#endif

#if defined(_WIN32)
namespace {

// A message-only window owns the clipboard; it needs no display.
class ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = CreateWindowExW(0, L"STATIC", L"velmora clipboard test", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    // The clipboard's Unicode text with its size in bytes, or false.
    static bool read(std::wstring& text, SIZE_T& bytes) {
        if (!OpenClipboard(nullptr)) return false;
        bool found = false;
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        if (data != nullptr) {
            const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(data));
            if (p != nullptr) {
                bytes = GlobalSize(data);
                text = p;
                found = true;
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
        return found;
    }
    HWND window_ = nullptr;
};

} // namespace

TEST_F(ClipboardTest, PutsUnicodeTextOnTheClipboardUnlessItIsHeldElsewhere) {
    const std::wstring url = fromUtf8("http://127.0.0.1:8000/stream \xF0\x9F\x8E\xB5 caf\xC3\xA9");
    copyToClipboard(window_, url);
    std::wstring text;
    SIZE_T bytes = 0;
    ASSERT_TRUE(read(text, bytes));
    EXPECT_EQ(text, url);
    EXPECT_GE(bytes, (url.size() + 1) * sizeof(wchar_t));

    // A second text replaces the first; an empty one is one zero character.
    copyToClipboard(window_, L"");
    text = L"unchanged";
    ASSERT_TRUE(read(text, bytes));
    EXPECT_EQ(text, L"");
    EXPECT_GE(bytes, sizeof(wchar_t));

    copyToClipboard(window_, L"before");
    // While another window holds the clipboard open, the copy gives up
    // quietly and the old text stays.
    HWND other = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(OpenClipboard(other));
    std::thread copier([this] { copyToClipboard(window_, L"after"); });
    copier.join();
    CloseClipboard();
    DestroyWindow(other);
    ASSERT_TRUE(read(text, bytes));
    EXPECT_EQ(text, L"before");
}
#endif

// Title formatting of the playing track and the title-format helpers.
#include <algorithm>
#include <chrono>

#include "dsp_fixture.h"
#include "titleformat.h"
#include "titleformat_util.h"

namespace {

using namespace dsp_test;

class TitleFormat : public player_fixture {
protected:
    void play_track(const std::string& artist, const std::string& title) {
        host.play({kestrune_host::signal_track(artist, title, 60.0)});
        ASSERT_TRUE(host.pump_until([this] { return host.is_playing(); }, std::chrono::milliseconds(5000)));
    }
    void TearDown() override {
        host.stop();
        player_fixture::TearDown();
    }
};

TEST_F(TitleFormat, ThePlayingTracksTextAndErrorForABrokenScript) {
    // Nothing playing: false, the text left alone.
    std::string out = "as it was";
    EXPECT_FALSE(formatTitle("%artist% - %title%", out));
    EXPECT_EQ(out, "as it was");

    play_track("Mötley Artist", "A \"quoted\" title");
    ASSERT_TRUE(formatTitle("%artist% - %title%", out));
    EXPECT_EQ(out, "Mötley Artist - A \"quoted\" title");
    out = "before";
    ASSERT_TRUE(formatTitle("%artist - [%title%", out));
    EXPECT_EQ(out, "<ERROR>");
    ASSERT_TRUE(formatTitle("", out));
    EXPECT_EQ(out, "");

    // A missing player service throws and keeps the text.
    host.registry().clear(playback_control::class_guid);
    out = "kept";
    EXPECT_THROW(formatTitle("%title%", out), exception_service_not_found);
    EXPECT_EQ(out, "kept");
}

// A playback control that answers as told and records how it was asked.
class recording_control : public playback_control {
public:
    explicit recording_control(bool playing) : m_playing(playing) {}
    bool is_playing() override {
        ++is_playing_calls;
        return m_playing;
    }
    bool format_title(titleformat_hook* hook, zof::string_base& out, const service_ptr_t<titleformat_object>& script,
                      titleformat_text_filter* filter, std::uint32_t flags) override {
        asked_with_hook = hook != nullptr;
        asked_with_filter = filter != nullptr;
        asked_with_script = script.is_valid();
        asked_flags = flags;
        if (!m_playing) return false;
        out.assign("playing text");
        return true;
    }
    int is_playing_calls = 0;
    bool asked_with_hook = true, asked_with_filter = true, asked_with_script = false;
    std::uint32_t asked_flags = 0;

private:
    bool m_playing;
};

TEST_F(TitleFormat, ThePlayerIsAskedWithoutHookOrFilterForTimeAndStreamInformation) {
    for (const bool playing : {true, false}) {
        SCOPED_TRACE(playing);
        host.registry().clear(playback_control::class_guid);
        const auto control = make_service<recording_control>(playing);
        host.registry().add(playback_control::class_guid, control);
        std::string out = "as it was";
        EXPECT_EQ(formatTitle("%title%", out), playing);
        EXPECT_EQ(out, playing ? "playing text" : "as it was");
        EXPECT_FALSE(control->asked_with_hook);
        EXPECT_FALSE(control->asked_with_filter);
        EXPECT_TRUE(control->asked_with_script);
        EXPECT_EQ(control->asked_flags, 3u);
        // Only a refusal is followed by the question whether anything plays.
        EXPECT_EQ(control->is_playing_calls, playing ? 0 : 1);
    }
}

// A compiler that refuses every script but those it is told to accept.
class picky_compiler final : public titleformat_compiler {
public:
    explicit picky_compiler(std::vector<std::string> accepted) : m_accepted(std::move(accepted)) {}
    bool compile(service_ptr_t<titleformat_object>& out, const char* script) override {
        asked.emplace_back(script);
        if (std::find(m_accepted.begin(), m_accepted.end(), script) == m_accepted.end()) return false;
        return m_real->compile(out, script);
    }
    int drop_reference() override { return 1; }
    int add_reference() override { return 1; }
    bool query_class(service_ptr_t<service_base>&, const GUID&) override { return false; }
    std::vector<std::string> asked;

private:
    std::vector<std::string> m_accepted;
    service_ptr_t<titleformat_compiler> m_real = make_service<kestrune_host::host_titleformat_compiler>();
};

TEST(TitleFormatCompile, AScriptThatDoesNotCompileIsReplacedByError) {
    picky_compiler compiler({"<ERROR>", "%title%"});
    service_ptr_t<titleformat_object> script;
    titleformat_compile_safe(compiler, script, "%title%");
    EXPECT_TRUE(script.is_valid());
    titleformat_compile_safe(compiler, script, "%broken");
    EXPECT_TRUE(script.is_valid());
    EXPECT_EQ(compiler.asked, (std::vector<std::string>{"%title%", "%broken", "<ERROR>"}));
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST(TitleFormatCompileDeathTest, APlayerThatRefusesEvenErrorStopsThroughItsBugCheck) {
    picky_compiler compiler({});
    service_ptr_t<titleformat_object> script;
    EXPECT_DEATH(titleformat_compile_safe(compiler, script, "%title%"), "bug check");
}
#endif

// A hook that knows one field and one function.
class one_name_hook final : public titleformat_hook {
public:
    explicit one_name_hook(std::string name) : m_name(std::move(name)) {}
    bool process_field(titleformat_text_out* out, const char* name, zof::t_size length, bool& found) override {
        if (std::string(name, length) != m_name) return false;
        out->write(guid_null, m_name.c_str());
        found = true;
        return true;
    }
    bool process_function(titleformat_text_out* out, const char* name, zof::t_size length,
                          titleformat_hook_function_params*, bool& found) override {
        return process_field(out, name, length, found);
    }

private:
    std::string m_name;
};

class text_collector final : public titleformat_text_out {
public:
    void write(const GUID&, const char* data, zof::t_size length) override {
        zof::t_size n = 0;
        while (n < length && data[n]) ++n;
        text.append(data, n);
        ++writes;
    }
    std::string text;
    int writes = 0;
};

TEST(TitleFormatHooks, TheSplitterAsksTheFirstHookThenTheSecond) {
    one_name_hook first("artist"), second("title");
    titleformat_hook_splitter both(&first, &second);
    text_collector out;
    bool found = false;
    EXPECT_TRUE(both.process_field(&out, "artist", 6, found));
    EXPECT_TRUE(both.process_field(&out, "title", 5, found));
    EXPECT_TRUE(both.process_function(&out, "title", 5, nullptr, found));
    EXPECT_EQ(out.text, "artisttitletitle");
    found = false;
    EXPECT_FALSE(both.process_field(&out, "album", 5, found));
    EXPECT_FALSE(found);

    titleformat_hook_splitter half(nullptr, &second);
    EXPECT_TRUE(half.process_field(&out, "title", 5, found));
    EXPECT_FALSE(half.process_field(&out, "artist", 6, found));
}

TEST(TitleFormatFilter, ReplacesEachCharacterOfTheSetAndPassesTheRuns) {
    text_collector out;
    titleformat_write_filtered(out, guid_null, "a/b\\\\c/", zof::infinite_size, "/\\", '_');
    EXPECT_EQ(out.text, "a_b__c_");

    text_collector wide;
    titleformat_write_filtered(wide, guid_null, "café – déjà", zof::infinite_size, "é–", '?');
    EXPECT_EQ(wide.text, "caf? ? d?jà");

    text_collector limited;
    titleformat_write_filtered(limited, guid_null, "a:b:c", 3, ":", '-');
    EXPECT_EQ(limited.text, "a-b");

    // A byte that is no UTF-8 (a Latin-1 tag) loses nothing after it.
    text_collector latin1;
    titleformat_write_filtered(latin1, guid_null, "Caf\xE9/Bar:\xC3", zof::infinite_size, "/:", '_');
    EXPECT_EQ(latin1.text, "Caf\xE9_Bar_\xC3");

    text_collector plain;
    titleformat_write_output(plain, guid_titleformat_output_unfiltered, "a/b", zof::infinite_size, "/", '_');
    EXPECT_EQ(plain.text, "a/b");
    EXPECT_EQ(plain.writes, 1);
    text_collector filtered;
    titleformat_write_output(filtered, guid_null, "a/b", zof::infinite_size, "/", '_');
    EXPECT_EQ(filtered.text, "a_b");
}

} // namespace

// The stand-in player's title formatting and playback control.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "host_string.h"
#include "player.h"
#include "titleformat.h"

using namespace kestrune_host;

namespace {

std::string format(const std::string& script, const std::map<std::string, std::string>& fields) {
    auto compiled = titleformat_script::compile(script);
    if (!compiled) return "<no compile>";
    return compiled->run(
        [&](const std::string& name, std::string& value) {
            auto it = fields.find(name);
            if (it == fields.end()) return false;
            value = it->second;
            return true;
        },
        nullptr);
}

// Upper-cases what passes through it.
class upper_filter final : public titleformat_text_filter {
public:
    void write(const GUID&, zof::string_receiver& out, const char* data, zof::t_size length) override {
        std::string s(data, length);
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        out.append(s.c_str(), static_cast<zof::t_size>(s.size()));
    }
};

// Answers %album% itself and leaves everything else to the player.
class album_hook final : public titleformat_hook {
public:
    bool process_field(titleformat_text_out* out, const char* name, zof::t_size length, bool& found) override {
        if (std::string(name, length) != "album") return false;
        out->write(guid_null, "Hooked", 6);
        found = true;
        return true;
    }
    bool process_function(titleformat_text_out*, const char*, zof::t_size, titleformat_hook_function_params*, bool& found) override {
        found = false;
        return false;
    }
};

} // namespace

TEST(TitleFormatLanguage, FieldsQuotesAndSections) {
    const std::map<std::string, std::string> f{{"artist", "Ann"}, {"title", "Song"}};
    EXPECT_EQ(format("%artist% - %title%", f), "Ann - Song");
    EXPECT_EQ(format("%album%", f), "?");
    EXPECT_EQ(format("[%album% - ]%title%", f), "Song");
    EXPECT_EQ(format("[%artist% - ]%title%", f), "Ann - Song");
    EXPECT_EQ(format("'%artist%' is ''quoted''", f), "%artist% is 'quoted'");
    EXPECT_EQ(format("[[%artist%][%album%]]", f), "Ann");
    EXPECT_EQ(format("<ERROR>", f), "<ERROR>");
    EXPECT_EQ(format("", f), "");
}

TEST(TitleFormatLanguage, SyntaxErrorsDoNotCompile) {
    for (const char* bad : {"%artist", "%%", "'open", "[%title%", "%title%]", "]", "[[a]"})
        EXPECT_EQ(titleformat_script::compile(bad), nullptr) << bad;
}

TEST(PlaybackControl, FormatsThePlayingTrackWithHookAndFilter) {
    player host;
    auto compiler = host.registry().get<titleformat_compiler>();
    auto control = host.registry().get<playback_control>();
    ASSERT_TRUE(compiler && control);
    service_ptr_t<titleformat_object> script;
    ASSERT_TRUE(compiler->compile(script, "%artist% - %title% [(%album%)]"));
    service_ptr_t<titleformat_object> untouched = script;
    EXPECT_FALSE(compiler->compile(script, "%title"));
    EXPECT_EQ(script.get_ptr(), untouched.get_ptr());

    // Nothing playing formats nothing.
    host_string out("before");
    EXPECT_FALSE(control->format_title(nullptr, out, script, nullptr, 3));
    EXPECT_EQ(out.str(), "before");
    EXPECT_FALSE(control->is_playing());

    host.play({signal_track("Ann", "Song", 30.0)});
    ASSERT_TRUE(host.pump_until([&] { return host.is_playing(); }, std::chrono::seconds(10)));
    ASSERT_TRUE(control->format_title(nullptr, out, script, nullptr, 3));
    EXPECT_EQ(out.str(), "Ann - Song ");

    album_hook hook;
    upper_filter filter;
    ASSERT_TRUE(control->format_title(&hook, out, script, &filter, 3));
    EXPECT_EQ(out.str(), "ANN - SONG (HOOKED)");

    // A radio's new title outranks the track's tags, when asked for.
    host.set_dynamic_info({{"title", "On Air"}});
    host.pump();
    ASSERT_TRUE(control->format_title(nullptr, out, script, nullptr, 3));
    EXPECT_EQ(out.str(), "Ann - On Air ");
    ASSERT_TRUE(control->format_title(nullptr, out, script, nullptr, 0));
    EXPECT_EQ(out.str(), "Ann - Song ");
    host.stop();
}

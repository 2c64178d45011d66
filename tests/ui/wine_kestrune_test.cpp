// Under Wine: the Windows build's kestrune with velmora.dll, started in its
// own folder as an installed player is, streams one MP3 stream with the
// built-in "lame" preset as it stands (encoders\lame.exe beside the player:
// the lame.exe cross-built from Debian's source, see
// scripts/build-win-deps.sh), or with the default encoder of settings that
// name none (the bare lame.exe), to the Linux icecast2 on loopback, and a
// listener there decodes what it hears. Wine cannot start Linux programs:
// the listener and its decoder are the decoding peer's.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Util/XMLConfiguration.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <windows.h>

#include "component_loader.h"
#include "http_client.h"
#include "peers.h"
#include "pipe_fixture.h"
#include "plugin/utils.h"
#include "temp_dir.h"
#include "ui/option_page_encoder.h"

namespace {

// The program's status and output; arguments are UTF-8, quoted here. It
// runs in its own folder.
std::pair<int, std::string> runKestrune(const std::string& arguments) {
    // The shell takes off the outermost quotes.
    const std::string command =
        "\"\"" + kestrune_host::program_folder() + "kestrune.exe\" " + arguments + " 2>&1\"";
    std::wstring wide(std::size_t(MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, &wide[0], int(wide.size()));
    std::string output;
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    std::wstring was(length, L'\0');
    was.resize(GetCurrentDirectoryW(length, &was[0]));
    SetCurrentDirectoryW(fromUtf8(kestrune_host::program_folder()).c_str());
    FILE* pipe = _wpopen(wide.c_str(), L"rb");
    SetCurrentDirectoryW(was.c_str());
    if (pipe == nullptr)
        return {-1, output};
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    return {_pclose(pipe), output};
}

// A message box of another program, captioned so, that is not among
// those closed already.
struct BoxSearch {
    std::wstring caption;
    const std::set<HWND>& closed;
    HWND box = nullptr;
};

BOOL CALLBACK findBox(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    wchar_t text[256] = {};
    wchar_t type[16] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    GetWindowTextW(window, text, 256);
    GetClassNameW(window, type, 16);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window) || search->caption != text ||
        std::wstring(type) != L"#32770" || search->closed.count(window) != 0)
        return TRUE;
    search->box = window;
    return FALSE;
}

// The text of such a box once it has been closed (and added to `closed`);
// "" without one.
std::string closeMessageBox(const std::wstring& caption, std::set<HWND>& closed) {
    BoxSearch search{caption, closed};
    EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
    if (search.box == nullptr)
        return "";
    closed.insert(search.box);
    wchar_t text[1024] = {};
    GetDlgItemTextW(search.box, 0xFFFF, text, 1024);
    PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    const std::string message = toUtf8(text);
    return message.empty() ? "(a message box)" : message;
}

// kestrune, with one stream "Wine MP3" to `mount` whose settings hold
// `encoder` (the stream's <encoder> element, or nothing), connects on
// startup and plays a tone: a listener there decodes what it hears, and
// the player's end writes the settings back.
void streamsMp3ToIcecast(const std::string& encoder, const std::string& mount) {
    VELMORA_PEER_PORT(icecast_port, peers::Kind::Icecast);
    VELMORA_PEER_PORT(probe_port, peers::Kind::Probe);
    const std::string lame = pipetest::lameExe();
    if (!Poco::File(lame).exists()) {
        if (peers::required())
            FAIL() << lame << " is missing (bash scripts/setup.sh builds it)";
        GTEST_SKIP() << lame << " is missing";
    }
    TempDir scratch;
    const std::string profile = scratch.path() + "profile";
    Poco::File(profile).createDirectories();
    std::ofstream(profile + "\\velmora.xml")
        << "<velmora version=\"1.4.1\"><common><auto_reconnect>0</auto_reconnect>"
           "<connect_on_startup>1</connect_on_startup></common>"
           "<stream><server><type>0</type><host>127.0.0.1</host><port>"
        << icecast_port << "</port><password>" << peers::kIcecastSourcePassword << "</password><mount_point>" << mount
        << "</mount_point><yp><name>Wine MP3</name></yp></server>" << encoder << "</stream></velmora>";

    // The tone lasts well beyond the ten seconds heard: on a loaded machine
    // the stream may start many seconds after the player.
    auto run = std::async(std::launch::async, [&] {
        return runKestrune("--profile \"" + profile + "\" --signal 30 --artist Wine --title Tone --freq 440,880");
    });
    // A listener for six seconds once the server holds more than icecast
    // bursts at a new listener (64 KB, four seconds at 128 kbps): however
    // slowly a loaded machine encodes, it hears those first.
    const auto received = [&]() -> long {
        std::string stats;
        try {
            stats = httpGet(icecast_port, "/admin/stats", peers::kIcecastAdminUser, peers::kIcecastAdminPassword);
        } catch (const Poco::Exception&) {
            return 0;
        }
        const std::string field = "<total_bytes_read>";
        const std::size_t source = stats.find("<source mount=\"" + mount + "\">");
        const std::size_t bytes = stats.find(field, source);
        return source == std::string::npos || bytes == std::string::npos ? 0 : std::atol(&stats[bytes + field.size()]);
    };
    // A failure the window shows in a message box would hold the player:
    // each box is read and closed.
    std::string shown;
    std::set<HWND> closed;
    while (received() < 96 * 1024 && run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        shown += closeMessageBox(L"Wine MP3", closed);
    std::map<std::string, std::string> heard;
    std::string why;
    try {
        heard = listenAndProbe(probe_port, icecast_port, mount, 6);
    } catch (const Poco::Exception& e) {
        why = e.displayText();
    } catch (const std::exception& e) {
        why = e.what();
    }
    // A box shown meanwhile would hold the player's end for ever.
    while (run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        shown += closeMessageBox(L"Wine MP3", closed);
    EXPECT_EQ(shown, "") << "the window showed a message box";
    const auto result = run.get();
    EXPECT_EQ(result.first, 0) << result.second;
    EXPECT_NE(result.second.find("console: velmora: Streaming start: Wine MP3"), std::string::npos) << result.second;
    EXPECT_NE(result.second.find("console: velmora: Streaming finish: Wine MP3"), std::string::npos) << result.second;
    ASSERT_TRUE(why.empty()) << why << "\n" << result.second;
    EXPECT_EQ(heard["codec_name"], "mp3");
    EXPECT_EQ(heard["sample_rate"], "44100");
    EXPECT_EQ(heard["channels"], "2");
    EXPECT_EQ(heard["decode_errors"], "0") << heard["first_decode_error"];
    EXPECT_GE(std::atof(heard["decoded_seconds"].c_str()), 5.0) << result.second;

    // The player's end closed the window, which wrote the settings back.
    Poco::AutoPtr<Poco::Util::XMLConfiguration> saved(new Poco::Util::XMLConfiguration(profile + "\\velmora.xml"));
    EXPECT_EQ(saved->getString("stream[0].server.mount_point", ""), mount);
    EXPECT_EQ(saved->getString("stream[0].server.yp.name", ""), "Wine MP3");
    EXPECT_EQ(saved->getInt("common.connect_on_startup", 0), 1);
    EXPECT_TRUE(saved->has("common.window_left"));
    EXPECT_FALSE(saved->has("stream[1]"));
}

TEST(WindowsStream, KestruneStreamsMp3WithTheBuiltInLamePresetToIcecastOnLinux) {
    const EncoderSettings preset = OptionPageEncoder::builtInPresets().at(0);
    ASSERT_EQ(preset.encoder_name, "lame");
    std::ostringstream encoder;
    encoder << "<encoder><encoder_file>" << preset.encoder_file << "</encoder_file><encoder_params>"
            << preset.encoder_params << "</encoder_params><format>" << preset.format << "</format><wave_format>"
            << preset.wave_format << "</wave_format><wave_header>" << preset.wave_header
            << "</wave_header><sampling_rate>" << preset.sampling_rate << "</sampling_rate><channel>"
            << preset.channel << "</channel><encoder_name>" << preset.encoder_name << "</encoder_name><bitrate>"
            << preset.bitrate << "</bitrate><description>" << preset.description << "</description></encoder>";
    streamsMp3ToIcecast(encoder.str(), "/wine.mp3");
}

// Settings that name no encoder: the stream runs the default, the bare
// "lame.exe", as the player finds it.
TEST(WindowsStream, KestruneStreamsMp3WithTheDefaultEncoderWhenTheSettingsNameNone) {
    streamsMp3ToIcecast("", "/default.mp3");
}

} // namespace
#endif

// The settings store: "velmora.xml" in the player's profile folder, read by
// the first getConfig and written by deleteConfig. Runs on Linux and under
// Wine with the component's code linked in and a stand-in player around it.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>
#include <Poco/String.h>

#include <string>
#include <utility>
#include <vector>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "engine/config.h"
#include "player.h"
#include "service_lookup.h"
#include "settings_text.h"
#include "temp_dir.h"

namespace {

std::string readFile(const std::string& path) {
    Poco::FileInputStream in(path);
    std::string text;
    Poco::StreamCopier::copyToString(in, text);
    return text;
}

void writeFile(const std::string& path, const std::string& text) {
    Poco::FileOutputStream out(path);
    out << text;
}

bool exists(const std::string& path) { return Poco::File(path).exists(); }

using settings_text::describe;

// A value that XML must carry whole: line ends of every kind (a lone CR,
// CR LF, LF), a tab, quotes, markup characters and non-ASCII text.
std::string awkward(const std::string& key) {
    return "\r" + key + "\r\n\"q\" 'a'\t& <b> ]]>\ncaf\xC3\xA9 \xE6\x97\xA5\r";
}

// The element as one would write it by hand: a CR can only be given as a
// character reference.
std::string element(const std::string& name, const std::string& text) {
    const std::string escaped =
        Poco::replace(Poco::replace(Poco::replace(Poco::replace(text, "&", "&amp;"), "<", "&lt;"), ">", "&gt;"), "\r",
                      "&#13;");
    return "<" + name + ">" + escaped + "</" + name + ">";
}

std::string element(const std::string& name, int number) { return element(name, std::to_string(number)); }

std::string commonXml(const CommonSettings& c) {
    return "<common>" + element("title_format", c.title_format) + element("vol", c.vol) + element("mute", c.mute) +
           element("auto_update_metadata", c.auto_update_metadata) +
           element("connect_on_startup", c.connect_on_startup) + element("auto_reconnect", c.auto_reconnect) +
           element("vumeter_switch", c.vumeter_switch) + element("window_top", c.window_top) +
           element("window_left", c.window_left) + "</common>";
}

std::string serverXml(const ServerSettings& s) {
    return "<server>" + element("type", s.type) + element("host", s.host) + element("port", s.port) +
           element("use_proxy", s.use_proxy) + element("proxy_host", s.proxy_host) +
           element("proxy_port", s.proxy_port) + element("username", s.username) + element("password", s.password) +
           element("mount_point", s.mount_point) + element("stream_id", s.stream_id) + "<yp>" +
           element("pub", s.yp.pub) + element("name", s.yp.name) + element("desc", s.yp.desc) +
           element("genre", s.yp.genre) + element("url", s.yp.url) + element("charset", s.yp.charset) +
           "</yp></server>";
}

std::string encoderXml(const EncoderSettings& e) {
    return "<encoder>" + element("encoder_file", e.encoder_file) + element("encoder_params", e.encoder_params) +
           element("format", e.format) + element("program_file", e.program_file) +
           element("program_params", e.program_params) + element("wave_format", e.wave_format) +
           element("wave_header", e.wave_header) + element("sampling_rate", e.sampling_rate) +
           element("channel", e.channel) + element("encoder_name", e.encoder_name) + element("bitrate", e.bitrate) +
           element("description", e.description) + "</encoder>";
}

// Every text field awkward (named after its group) and every number and
// flag away from its default.
EncoderSettings awkwardEncoder(const std::string& group, int format, int rate) {
    return {awkward(group + "encoder_file"), awkward(group + "encoder_params"), format,
            awkward(group + "program_file"), awkward(group + "program_params"), 2, true, rate, 1,
            awkward(group + "encoder_name"), 96, awkward(group + "description")};
}

// A profile folder of its own for each test, with a non-ASCII name: the
// player makes it and hands it to the component as "file://" + folder.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = scratch.path() + "velmora profil \xC3\xBC \xE6\x97\xA5\xE6\x9C\xAC";
        host.set_profile_folder(folder);
        file = folder + "/velmora.xml";
        client = kestrune_get_interface(&host.api(), nullptr);
        client->mark_services_ready(true);
    }
    void TearDown() override {
        deleteConfig();
        client->mark_services_ready(false);
        kestrune_get_interface(nullptr, nullptr);
    }

    // What the main window does at its end: rewrite its groups, then save.
    void closeWindow(const CommonSettings& common, const EncoderSettings& encoder, const ServerSettings& server) {
        Config* c = getConfig();
        c->removeCommon();
        c->removeStreams();
        c->saveCommon(common);
        c->saveStream(0, encoder, server);
        deleteConfig();
    }

    bool console(const std::string& text) { return host.console_log().contains(text); }

    TempDir scratch;
    kestrune_host::player host;
    component_client* client = nullptr;
    std::string folder;
    std::string file;
};

// The file a first close writes for one stream with every default.
const char* const kDefaultFile =
    "<velmora version=\"1.4.1\">\n"
    "\t<common>\n"
    "\t\t<title_format>%artist% - %title%</title_format>\n"
    "\t\t<vol>100</vol>\n"
    "\t\t<mute>0</mute>\n"
    "\t\t<auto_update_metadata>1</auto_update_metadata>\n"
    "\t\t<connect_on_startup>0</connect_on_startup>\n"
    "\t\t<auto_reconnect>0</auto_reconnect>\n"
    "\t\t<vumeter_switch>1</vumeter_switch>\n"
    "\t\t<window_top>200</window_top>\n"
    "\t\t<window_left>200</window_left>\n"
    "\t</common>\n"
    "\t<stream>\n"
    "\t\t<server>\n"
    "\t\t\t<type>0</type>\n"
    "\t\t\t<host>127.0.0.1</host>\n"
    "\t\t\t<port>8000</port>\n"
    "\t\t\t<use_proxy>false</use_proxy>\n"
    "\t\t\t<proxy_host>127.0.0.1</proxy_host>\n"
    "\t\t\t<proxy_port>9050</proxy_port>\n"
    "\t\t\t<username/>\n"
    "\t\t\t<password>wombat</password>\n"
    "\t\t\t<mount_point>/stream</mount_point>\n"
    "\t\t\t<stream_id>1</stream_id>\n"
    "\t\t\t<yp>\n"
    "\t\t\t\t<pub>false</pub>\n"
    "\t\t\t\t<name>Stream Name</name>\n"
    "\t\t\t\t<desc>Stream Description</desc>\n"
    "\t\t\t\t<genre>Genre</genre>\n"
    "\t\t\t\t<url>http://</url>\n"
    "\t\t\t\t<charset>UTF-8</charset>\n"
    "\t\t\t</yp>\n"
    "\t\t</server>\n"
    "\t\t<encoder>\n"
    "\t\t\t<encoder_file>lame.exe</encoder_file>\n"
    "\t\t\t<encoder_params>-r --flush --quiet -</encoder_params>\n"
    "\t\t\t<format>0</format>\n"
    "\t\t\t<program_file/>\n"
    "\t\t\t<program_params/>\n"
    "\t\t\t<wave_format>0</wave_format>\n"
    "\t\t\t<wave_header>false</wave_header>\n"
    "\t\t\t<sampling_rate>44100</sampling_rate>\n"
    "\t\t\t<channel>2</channel>\n"
    "\t\t\t<encoder_name>LAME</encoder_name>\n"
    "\t\t\t<bitrate>128</bitrate>\n"
    "\t\t\t<description>CBR 128kbps j-stereo</description>\n"
    "\t\t</encoder>\n"
    "\t</stream>\n"
    "</velmora>\n";

} // namespace

TEST_F(ConfigTest, NoFileGivesOneDefaultStreamAndClosingWritesAFileThatLoadsBackEqual) {
    Config* c = getConfig();
    EXPECT_EQ(c->countStreams(), 0);
    EXPECT_EQ(c->countEncoderSettings(), 0);
    CommonSettings common;
    EncoderSettings encoder, preset;
    ServerSettings server;
    c->loadCommon(common);
    c->loadStream(0, encoder, server);
    c->loadEncoderSetting(0, preset);
    EXPECT_EQ(preset.description, "CBR j-stereo");
    EXPECT_EQ(preset.encoder_name, "LAME");
    EXPECT_FALSE(exists(file)) << "nothing is written before the store is deleted";

    closeWindow(common, encoder, server);
    EXPECT_EQ(readFile(file), kDefaultFile);
    EXPECT_FALSE(exists(file + ".tmp"));
    EXPECT_TRUE(host.console_log().lines().empty());

    // Every field changed, with text the XML must carry whole, goes out and
    // comes back as it was; the presets keep their own group.
    common = {"\xE2\x99\xAA %title% <by> %artist% & co", 35, true, false, true, true, false, -20, 1900};
    encoder = {"C:\\enc\\oggenc2.exe", "-Q -r -a \"%artist%\" -t '%title%' -", 4, "sox", "-t raw - ${x}", 2, true,
               48000, 1, "Vorbis \xC3\xA9", 96, "q2 mono"};
    server.type = 2;
    server.host = "radio.example";
    server.port = 8443;
    server.use_proxy = 1;
    server.proxy_host = "socks.local";
    server.proxy_port = 1080;
    server.username = "dj";
    server.password = "p\xC3\xA4ss${common.vol}\"<'>";
    server.mount_point = "/live.ogg";
    server.stream_id = 7;
    server.yp = {true, "Caf\xC3\xA9 Radio", "line one\nline two", "Jazz", "https://radio.example/", "ISO-8859-1"};
    c = getConfig();
    c->removeEncoderSettings();
    c->saveEncoderSetting(0, preset);
    c->saveEncoderSetting(1, encoder);
    closeWindow(common, encoder, server);
    const std::string text = readFile(file);
    EXPECT_LT(text.find("<encoder_setting>"), text.find("<common>"));
    EXPECT_LT(text.find("<common>"), text.find("<stream>"));

    // What loads back, written again, is the same file.
    c = getConfig();
    ASSERT_EQ(c->countStreams(), 1);
    ASSERT_EQ(c->countEncoderSettings(), 2);
    CommonSettings common2;
    EncoderSettings encoder2, preset0, preset1;
    ServerSettings server2;
    c->loadCommon(common2);
    c->loadStream(0, encoder2, server2);
    c->loadEncoderSetting(0, preset0);
    c->loadEncoderSetting(1, preset1);
    EXPECT_EQ(preset1.description, "q2 mono");
    c->removeEncoderSettings();
    c->saveEncoderSetting(0, preset0);
    c->saveEncoderSetting(1, preset1);
    closeWindow(common2, encoder2, server2);
    EXPECT_EQ(readFile(file), text);
    EXPECT_TRUE(host.console_log().lines().empty());
}

TEST_F(ConfigTest, EveryValueOfAFileReadsBackTheSameAfterASave) {
    CommonSettings common{awkward("title_format"), 35, true, false, true, true, false, -20, 1900};
    ServerSettings server;
    server.type = SERVER_SHOUTCAST2;
    server.host = awkward("host");
    server.port = 8443;
    server.use_proxy = 1;
    server.proxy_host = awkward("proxy_host");
    server.proxy_port = 1080;
    server.username = awkward("username");
    server.password = awkward("password");
    server.mount_point = awkward("mount_point");
    server.stream_id = 7;
    server.yp = {true, awkward("yp.name"), awkward("yp.desc"), awkward("yp.genre"), awkward("yp.url"),
                 awkward("yp.charset")};
    const EncoderSettings encoder = awkwardEncoder("stream.", FORMAT_OGG_VORBIS, 48000);
    const EncoderSettings preset = awkwardEncoder("preset.", FORMAT_OGG_OPUS, 22050);
    writeFile(file, "<velmora version=\"1.4.1\"><encoder_setting>" + encoderXml(preset) + "</encoder_setting>" +
                        commonXml(common) + "<stream>" + serverXml(server) + encoderXml(encoder) +
                        "</stream></velmora>");

    // Read the hand-written file, save, read what was saved, save again.
    std::string saved;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "as written by hand" : "as saved");
        Config* c = getConfig();
        ASSERT_EQ(c->countStreams(), 1);
        ASSERT_EQ(c->countEncoderSettings(), 1);
        CommonSettings common2;
        EncoderSettings encoder2, preset2;
        ServerSettings server2;
        c->loadCommon(common2);
        c->loadStream(0, encoder2, server2);
        c->loadEncoderSetting(0, preset2);
        EXPECT_EQ(describe(common2), describe(common));
        EXPECT_EQ(describe(server2), describe(server));
        EXPECT_EQ(describe(encoder2), describe(encoder));
        EXPECT_EQ(describe(preset2), describe(preset));
        c->removeEncoderSettings();
        c->saveEncoderSetting(0, preset2);
        closeWindow(common2, encoder2, server2);
        if (round == 1) {
            EXPECT_EQ(readFile(file), saved);
        }
        saved = readFile(file);
    }
    EXPECT_TRUE(host.console_log().lines().empty());
}

// The first group is the one read; the save leaves that one alone.
TEST_F(ConfigTest, ASecondCommonGroupGoesAtTheSave) {
    writeFile(file,
              "<velmora><common><title_format>A</title_format><vol>35</vol><mute>0</mute></common>"
              "<common><title_format>B<x/>C</title_format><vol><x/>77</vol><mute><x/>1</mute></common></velmora>");
    CommonSettings common;
    EncoderSettings encoder;
    ServerSettings server;
    getConfig()->loadCommon(common);
    getConfig()->loadStream(0, encoder, server);
    EXPECT_EQ(common.title_format, "A");
    const std::string read = describe(common);
    closeWindow(common, encoder, server);
    const std::string text = readFile(file);
    EXPECT_EQ(text.find("<common>"), text.rfind("<common>")) << text;
    getConfig()->loadCommon(common);
    EXPECT_EQ(describe(common), read);
}

TEST_F(ConfigTest, GroupsAreCountedByPositionAndBothFlagFormsLoad) {
    writeFile(file,
              "<velmora version=\"1.4.1\">\n"
              "<common><mute>true</mute><auto_update_metadata>false</auto_update_metadata><vumeter_switch>0</vumeter_switch>"
              "<connect_on_startup>1</connect_on_startup></common>\n"
              "<stream><server><yp><pub>1</pub><name>First</name></yp><use_proxy>true</use_proxy>"
              "<proxy_host>10.0.0.9</proxy_host><proxy_port>1081</proxy_port></server>"
              "<encoder><wave_header>1</wave_header></encoder></stream>\n"
              "<stream/>\n"
              "<stream><server><yp><pub>true</pub><name>Third</name></yp></server>"
              "<encoder><wave_header>true</wave_header></encoder></stream>\n"
              "</velmora>\n");
    Config* c = getConfig();
    CommonSettings common;
    c->loadCommon(common);
    EXPECT_TRUE(common.mute);
    EXPECT_FALSE(common.auto_update_metadata);
    EXPECT_FALSE(common.vumeter_switch);
    EXPECT_TRUE(common.connect_on_startup);
    EXPECT_EQ(common.vol, 100);

    ASSERT_EQ(c->countStreams(), 3);
    EncoderSettings e[3];
    ServerSettings s[3];
    for (int i = 0; i < 3; ++i) c->loadStream(i, e[i], s[i]);
    EXPECT_EQ(s[0].yp.name, "First");
    EXPECT_TRUE(s[0].yp.pub && s[2].yp.pub);
    EXPECT_TRUE(e[0].wave_header && e[2].wave_header);
    EXPECT_EQ(s[0].use_proxy, 1);
    EXPECT_EQ(s[0].proxy_host, "10.0.0.9");
    EXPECT_EQ(s[0].proxy_port, 1081);
    EXPECT_EQ(s[1].yp.name, "Stream Name");
    EXPECT_EQ(s[1].password, "wombat");
    EXPECT_EQ(s[2].yp.name, "Third");
    EXPECT_EQ(s[2].use_proxy, 0);

    // Index -1 reads every default although stream groups exist.
    EncoderSettings fresh;
    ServerSettings freshServer;
    c->loadStream(-1, fresh, freshServer);
    EXPECT_EQ(freshServer.yp.name, "Stream Name");
    EXPECT_FALSE(freshServer.yp.pub);
    EXPECT_EQ(fresh.description, "CBR 128kbps j-stereo");

    // The hand-written proxy keys survive the group rewrite.
    c->removeCommon();
    c->removeStreams();
    EXPECT_EQ(c->countStreams(), 0);
    c->saveCommon(common);
    for (int i = 0; i < 3; ++i) c->saveStream(i, e[i], s[i]);
    deleteConfig();
    c = getConfig();
    ASSERT_EQ(c->countStreams(), 3);
    EncoderSettings again;
    ServerSettings againServer;
    c->loadStream(0, again, againServer);
    EXPECT_EQ(againServer.use_proxy, 1);
    EXPECT_EQ(againServer.proxy_host, "10.0.0.9");
    EXPECT_EQ(againServer.proxy_port, 1081);
    EXPECT_EQ(againServer.yp.name, "First");
    EXPECT_TRUE(againServer.yp.pub);
    EXPECT_TRUE(again.wave_header);
    EXPECT_TRUE(host.console_log().lines().empty());
}

TEST_F(ConfigTest, ABrokenFileIsKeptBesideAndBadValuesTakeTheirDefaults) {
    const std::string broken = "<velmora version=\"1.4.1\"><common><vol>35</vol></common><stream>";
    writeFile(file, broken);
    Config* c = getConfig();
    EXPECT_TRUE(console("velmora: load config: ")) << "the parser's reason is printed";
    // The name as the component joined it (a backslash before the file).
    EXPECT_TRUE(console("velmora: the settings file that did not load was kept as " + folder));
    EXPECT_TRUE(console("velmora.xml.broken"));
    EXPECT_EQ(readFile(file + ".broken"), broken);
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(c->countStreams(), 0);
    CommonSettings common;
    c->loadCommon(common);
    EXPECT_EQ(common.vol, 100);
    deleteConfig();
    // The store went on from the empty document and saved; a second broken
    // file does not replace the first one kept.
    EXPECT_NE(readFile(file).find("<velmora version=\"1.4.1\"/>"), std::string::npos) << readFile(file);
    writeFile(file, "not XML at all");
    getConfig();
    deleteConfig();
    EXPECT_EQ(readFile(file + ".broken"), broken);
    EXPECT_EQ(readFile(file + ".broken.1"), "not XML at all");

    host.console_log().clear();
    writeFile(file,
              "<velmora><common><vol>loud</vol><mute>perhaps</mute><window_top>-12</window_top></common>"
              "<stream><server><port>99999999999</port><host>h</host></server></stream></velmora>");
    c = getConfig();
    c->loadCommon(common);
    EXPECT_EQ(common.vol, 100);
    EXPECT_FALSE(common.mute);
    EXPECT_EQ(common.window_top, -12);
    EncoderSettings encoder;
    ServerSettings server;
    c->loadStream(0, encoder, server);
    EXPECT_EQ(server.port, 8000);
    EXPECT_EQ(server.host, "h");
    EXPECT_TRUE(console("velmora: load config: common.vol: \"loud\" is not a number; 100 is used"));
    EXPECT_TRUE(console("velmora: load config: common.mute: \"perhaps\" is not a flag; false is used"));
    EXPECT_TRUE(console("velmora: load config: stream[0].server.port: \"99999999999\" is not a number; 8000 is used"));
    EXPECT_EQ(host.console_log().lines().size(), 3u);
}

// The ranges of the option pages and of the engine: a value outside goes
// back to its default, with a line naming the key; the rest of the group
// is read as it is. A volume outside takes the nearer end of its range.
TEST_F(ConfigTest, ValuesOutOfRangeTakeTheirDefaultsAndTheRestIsKept) {
    writeFile(file,
              "<velmora><encoder_setting><encoder><channel>5</channel><description>mine</description></encoder>"
              "</encoder_setting>"
              "<common><title_format>T</title_format><vol>101</vol><mute>1</mute><window_top>-30000</window_top>"
              "</common>"
              "<stream><server><type>3</type><host>h</host><port>70000</port><use_proxy>1</use_proxy>"
              "<proxy_host>p</proxy_host><proxy_port>70000</proxy_port><stream_id>0</stream_id><yp><name>N</name></yp>"
              "</server><encoder><format>7</format><wave_format>3</wave_format><sampling_rate>2822401</sampling_rate>"
              "<channel>3</channel><bitrate>96</bitrate></encoder></stream>"
              "<stream><server><type>-1</type><port>-1</port><proxy_port>-1</proxy_port><stream_id>-5</stream_id>"
              "</server><encoder><format>-1</format><wave_format>-1</wave_format><sampling_rate>0</sampling_rate>"
              "<channel>0</channel></encoder></stream>"
              "<stream><server><type>2</type><port>65535</port><proxy_port>0</proxy_port>"
              "<stream_id>2147483647</stream_id></server><encoder><format>6</format><wave_format>2</wave_format>"
              "<sampling_rate>2822400</sampling_rate><channel>1</channel></encoder></stream></velmora>");
    Config* c = getConfig();
    CommonSettings common;
    EncoderSettings preset, e[3];
    ServerSettings s[3];
    c->loadCommon(common);
    c->loadEncoderSetting(0, preset);
    for (int i = 0; i < 3; ++i) c->loadStream(i, e[i], s[i]);

    EncoderSettings defaultEncoder;
    ServerSettings defaultServer;
    c->loadStream(-1, defaultEncoder, defaultServer);
    ServerSettings server = defaultServer;
    server.host = "h";
    server.use_proxy = 1;
    server.proxy_host = "p";
    server.yp.name = "N";
    EncoderSettings encoder = defaultEncoder;
    encoder.bitrate = 96;
    EXPECT_EQ(describe(s[0]), describe(server));
    EXPECT_EQ(describe(e[0]), describe(encoder));
    EXPECT_EQ(describe(s[1]), describe(defaultServer));
    EXPECT_EQ(describe(e[1]), describe(defaultEncoder));
    // The edges of every range are kept.
    EXPECT_EQ(s[2].type, SERVER_SHOUTCAST2);
    EXPECT_EQ(s[2].port, 65535);
    EXPECT_EQ(s[2].proxy_port, 0);
    EXPECT_EQ(s[2].stream_id, 2147483647);
    EXPECT_EQ(e[2].format, FORMAT_OGG_OPUS);
    EXPECT_EQ(e[2].wave_format, WAVE_FLOAT32);
    EXPECT_EQ(e[2].sampling_rate, 2822400);
    EXPECT_EQ(e[2].channel, 1);
    EXPECT_EQ(preset.channel, 2);
    EXPECT_EQ(preset.description, "mine");
    EXPECT_EQ(common.vol, 100);
    EXPECT_EQ(common.title_format, "T");
    EXPECT_TRUE(common.mute);
    EXPECT_EQ(common.window_top, -30000) << "a window position has no range";

    const std::vector<std::string> lines = {
        "encoder_setting[0].encoder.channel: 5 is out of range (1 to 2); 2 is used",
        "common.vol: 101 is out of range (0 to 100); 100 is used",
        "stream[0].server.type: 3 is out of range (0 to 2); 0 is used",
        "stream[0].server.port: 70000 is out of range (0 to 65535); 8000 is used",
        "stream[0].server.proxy_port: 70000 is out of range (0 to 65535); 9050 is used",
        "stream[0].server.stream_id: 0 is out of range (1 to 2147483647); 1 is used",
        "stream[0].encoder.format: 7 is out of range (0 to 6); 0 is used",
        "stream[0].encoder.wave_format: 3 is out of range (0 to 2); 0 is used",
        "stream[0].encoder.sampling_rate: 2822401 is out of range (1 to 2822400); 44100 is used",
        "stream[0].encoder.channel: 3 is out of range (1 to 2); 2 is used",
        "stream[1].server.type: -1 is out of range (0 to 2); 0 is used",
        "stream[1].server.port: -1 is out of range (0 to 65535); 8000 is used",
        "stream[1].server.proxy_port: -1 is out of range (0 to 65535); 9050 is used",
        "stream[1].server.stream_id: -5 is out of range (1 to 2147483647); 1 is used",
        "stream[1].encoder.format: -1 is out of range (0 to 6); 0 is used",
        "stream[1].encoder.wave_format: -1 is out of range (0 to 2); 0 is used",
        "stream[1].encoder.sampling_rate: 0 is out of range (1 to 2822400); 44100 is used",
        "stream[1].encoder.channel: 0 is out of range (1 to 2); 2 is used",
    };
    for (const std::string& line : lines) EXPECT_TRUE(console("velmora: load config: " + line)) << line;
    EXPECT_EQ(host.console_log().lines().size(), lines.size());

    // Saved, the file holds the values used and reads without a word.
    c->removeEncoderSettings();
    c->saveEncoderSetting(0, preset);
    c->removeCommon();
    c->removeStreams();
    c->saveCommon(common);
    for (int i = 0; i < 3; ++i) c->saveStream(i, e[i], s[i]);
    deleteConfig();
    host.console_log().clear();
    c = getConfig();
    ServerSettings again;
    EncoderSettings againEncoder;
    c->loadStream(0, againEncoder, again);
    EXPECT_EQ(describe(again), describe(server));
    EXPECT_EQ(describe(againEncoder), describe(encoder));
    c->loadStream(2, againEncoder, again);
    EXPECT_EQ(describe(again), describe(s[2]));
    EXPECT_TRUE(host.console_log().lines().empty());

    deleteConfig();
    for (const auto& [stored, nearest] : {std::pair{-20, 0}, std::pair{150, 100}}) {
        writeFile(file, "<velmora><common><vol>" + std::to_string(stored) + "</vol></common></velmora>");
        getConfig()->loadCommon(common);
        deleteConfig();
        EXPECT_EQ(common.vol, nearest) << stored;
        EXPECT_TRUE(console("velmora: load config: common.vol: " + std::to_string(stored) +
                            " is out of range (0 to 100); " + std::to_string(nearest) + " is used"));
    }
}

TEST_F(ConfigTest, AFailedSaveLeavesTheOldFileWhole) {
    const std::string old = "<velmora version=\"1.4.1\"><common><vol>7</vol></common></velmora>";
    writeFile(file, old);
    CommonSettings common;
    getConfig()->loadCommon(common);
    common.vol = 8;
    getConfig()->saveCommon(common);
    // The temporary file cannot be made.
    Poco::File(file + ".tmp").createDirectory();
    deleteConfig();
    EXPECT_TRUE(console("velmora: save config to file: "));
    EXPECT_EQ(readFile(file), old);

    Poco::File(file + ".tmp").remove();
#if !defined(_WIN32)
    // The temporary name leads to a device that keeps nothing: the file
    // written does not read back.
    ASSERT_EQ(symlink("/dev/null", (file + ".tmp").c_str()), 0);
    host.console_log().clear();
    getConfig()->saveCommon(common);
    deleteConfig();
    EXPECT_TRUE(console("velmora: save config to file: the file written does not read back as saved"));
    EXPECT_EQ(readFile(file), old);
    Poco::File(file + ".tmp").remove();
#endif
    // The file written reads, but not as the document: a value changed on
    // the way.
    Config::setWrittenHook([](const std::string& written) {
        std::string text = readFile(written);
        Poco::replaceInPlace(text, std::string("<vol>8</vol>"), std::string("<vol>9</vol>"));
        writeFile(written, text);
    });
    host.console_log().clear();
    getConfig()->saveCommon(common);
    deleteConfig();
    Config::setWrittenHook(nullptr);
    EXPECT_TRUE(console("velmora: save config to file: the file written does not read back as saved"));
    EXPECT_EQ(readFile(file), old);

    getConfig()->saveCommon(common);
    deleteConfig();
    getConfig()->loadCommon(common);
    EXPECT_EQ(common.vol, 8);
}

// What XML cannot carry (control characters, U+FFFE, U+FFFF, ill-formed
// UTF-8) and a text of white space alone, which the reader drops, are left
// out of their values with one line naming each key; every other change of
// the session is saved and the file reads back without a word.
TEST_F(ConfigTest, WhatTheFileCannotHoldIsLeftOutOfItsValueAndTheRestIsSaved) {
    writeFile(file, kDefaultFile);
    CommonSettings common;
    EncoderSettings encoder;
    ServerSettings server;
    getConfig()->loadCommon(common);
    getConfig()->loadStream(0, encoder, server);
    common.vol = 35;
    common.title_format = "a\x01" "b\x1F" "c\xEF\xBF\xBE" "d\xEF\xBF\xBF";
    // A lone lead byte, a surrogate, a code point beyond U+10FFFF, a
    // sequence cut short by the next character.
    server.password = "Caf\xC3\xC3\xA9\xED\xA0\x80" "!\xF4\x90\x80\x80\x7F\xE2\x82" "z";
    server.username = " \t";
    encoder.description = "x\xC3";
    closeWindow(common, encoder, server);
    for (const char* key : {"common.title_format", "stream[0].server.password", "stream[0].server.username",
                            "stream[0].encoder.description"})
        EXPECT_TRUE(console(std::string("velmora: save config: ") + key +
                            ": what the settings file cannot hold is left out")) << key;
    EXPECT_EQ(host.console_log().lines().size(), 4u);

    host.console_log().clear();
    CommonSettings common2;
    EncoderSettings encoder2;
    ServerSettings server2;
    getConfig()->loadCommon(common2);
    getConfig()->loadStream(0, encoder2, server2);
    common.title_format = "abcd";
    server.password = "Caf\xC3\xA9!\x7Fz";
    server.username = "";
    encoder.description = "x";
    EXPECT_EQ(describe(common2), describe(common));
    EXPECT_EQ(describe(server2), describe(server));
    EXPECT_EQ(describe(encoder2), describe(encoder));
    EXPECT_TRUE(host.console_log().lines().empty());
}

TEST_F(ConfigTest, WithoutAProfileFolderNothingIsReadOrWritten) {
    host.api().set_profile_path("file://");
    CommonSettings common;
    getConfig()->loadCommon(common);
    EXPECT_EQ(common.vol, 100);
    deleteConfig();
    EXPECT_TRUE(console("velmora: load config: profile folder: the player gives no profile folder"));
    EXPECT_EQ(host.console_log().lines().size(), 1u);
}

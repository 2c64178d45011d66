// What every server connection shares: the factory, content types,
// credentials, reply tests, ports, refused fields and closing.
#include <gtest/gtest.h>

#include <Poco/Base64Decoder.h>
#include <Poco/Exception.h>

#include <sstream>
#include <string>

#include "fake_server.h"
#include "peers.h"
#include "server/server_icecast2.h"
#include "server_test_support.h"

namespace {

ServerSettings settingsFor(int port)
{
    return servertest::icecast(port, "/stream", "hackme");
}

EncoderSettings mp3()
{
    return servertest::encoder(FORMAT_MP3, 44100, 2, 128);
}

std::string decode(const std::string& base64)
{
    std::istringstream in(base64);
    Poco::Base64Decoder decoder(in);
    return std::string(std::istreambuf_iterator<char>(decoder), std::istreambuf_iterator<char>());
}

}  // namespace

using servertest::messageOf;

TEST(Server, CreatePicksTheProtocolByType)
{
    ServerSettings s = settingsFor(8000);
    EXPECT_NE(dynamic_cast<ServerIcecast2*>(Server::create(s).get()), nullptr);
    for (int type : {3, -1}) {
        s.type = type;
        EXPECT_EQ(Server::create(s), nullptr);
    }
    for (int type : {SERVER_SHOUTCAST1, SERVER_SHOUTCAST2}) {
        s.type = type;
        EXPECT_THROW(Server::create(s), Poco::ApplicationException);
    }
}

TEST(Server, ContentTypes)
{
    EXPECT_EQ(Server::contentType(FORMAT_MP3), "audio/mpeg");
    EXPECT_EQ(Server::contentType(FORMAT_LC_AAC), "audio/aac");
    EXPECT_EQ(Server::contentType(FORMAT_HE_AAC), "audio/aacp");
    EXPECT_EQ(Server::contentType(FORMAT_HE_AAC_V2), "audio/aacp");
    for (int ogg : {FORMAT_OGG_VORBIS, FORMAT_OGG_FLAC, FORMAT_OGG_OPUS})
        EXPECT_EQ(Server::contentType(ogg), "application/ogg");
    EXPECT_EQ(messageOf([] { Server::contentType(7); }), "Undefined format");
}

TEST(Server, CredentialsStayOnOneLine)
{
    EXPECT_EQ(decode(Server::basicCredentials("", "hackme")), "source:hackme");
    EXPECT_EQ(decode(Server::basicCredentials("dj", "pw")), "dj:pw");
    // 54 bytes and more used to wrap after 72 Base64 characters.
    for (std::size_t total : {53u, 54u, 60u, 200u}) {
        std::string password(total - 7, 'p');
        std::string text = Server::basicCredentials("", password);
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << total;
        EXPECT_EQ(decode(text), "source:" + password);
    }
    for (const char* bad : {"a\rb", "a\nb", "a\0b"}) {
        std::string value(bad, 3);
        EXPECT_THROW(Server::basicCredentials("", value), Poco::ApplicationException);
        EXPECT_THROW(Server::basicCredentials(value, "pw"), Poco::ApplicationException);
    }
}

TEST(Server, StatusCountsOnlyAtItsPlace)
{
    EXPECT_TRUE(Server::statusIs("HTTP/1.1 100 Continue\r\n\r\n", "100 Continue"));
    EXPECT_TRUE(Server::statusIs("HTTP/1.0 200 OK\r\n\r\n", "200 OK"));
    EXPECT_FALSE(Server::statusIs("HTTP/1.1 401 Unauthorized\r\n\r\n100 Continue", "100 Continue"));
    EXPECT_FALSE(Server::statusIs("HTTP/1.1  100 Continue\r\n\r\n", "100 Continue"));
    EXPECT_FALSE(Server::statusIs("", "200 OK"));
    EXPECT_EQ(Server::replyBody("HTTP/1.0 401 Authentication Required\r\nA: b\r\n\r\nYou need to authenticate\r\n"),
              "You need to authenticate\r\n");
    EXPECT_EQ(Server::replyBody("HTTP/1.0 403 Forbidden\r\n\r\n"), "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(Server::replyBody("garbage"), "garbage");
}

TEST(Server, PortsOutsideTheRangeAreRefused)
{
    FakeServer untouched({});
    for (int port : {0, -1, 65536, 65536 + 8000}) {
        ServerSettings s = settingsFor(port);
        auto server = Server::create(s);
        EXPECT_NE(messageOf([&] { server->connect(); }).find("out of range"), std::string::npos) << port;
        s.port = untouched.port();
        s.use_proxy = 1;
        s.proxy_port = port;
        EXPECT_NE(messageOf([&] { server->connect(); }).find("out of range"), std::string::npos) << port;
    }
    EXPECT_EQ(untouched.accepted(), 0u);
}

TEST(Server, DisconnectNeverThrows)
{
    ServerSettings s = settingsFor(peers::freePort());
    auto server = Server::create(s);
    EXPECT_NO_THROW(server->disconnect());  // never connected
    EXPECT_THROW(server->connect(), Poco::Exception);
    EXPECT_NO_THROW(server->disconnect());  // refused
    EXPECT_NO_THROW(server->disconnect());  // twice

    FakeServer twice({[](FakeConnection& c) { c.waitForClose(); }, [](FakeConnection& c) { c.waitForClose(); }});
    s.port = twice.port();
    server->connect();
    EXPECT_NO_THROW(server->disconnect());
    EXPECT_NO_THROW(server->disconnect());
    // And the same object connects again.
    server->connect();
    server->disconnect();
    EXPECT_EQ(twice.finish().size(), 2u);
}

TEST(Server, FieldsThatWouldBreakTheRequestAreRefusedBeforeSending)
{
    struct Case {
        const char* what;
        void (*spoil)(ServerSettings&);
    } cases[] = {
        {"name", [](ServerSettings& s) { s.yp.name = "Name\r\nice-public: 1"; }},
        {"genre", [](ServerSettings& s) { s.yp.genre = "Rock\n"; }},
        {"description", [](ServerSettings& s) { s.yp.desc = std::string("a\0b", 3); }},
        {"url", [](ServerSettings& s) { s.yp.url = "http://x/\r\n\r\n"; }},
        {"mount with CR LF", [](ServerSettings& s) { s.mount_point = "/a\r\nX: y"; }},
        {"mount with a blank", [](ServerSettings& s) { s.mount_point = "/my stream"; }},
        {"mount with a tab", [](ServerSettings& s) { s.mount_point = "/my\tstream"; }},
        {"huge description", [](ServerSettings& s) { s.yp.desc = std::string(5000, 'd'); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeServer server({[](FakeConnection& conn) { conn.waitForClose(); }});
        ServerSettings s = settingsFor(server.port());
        c.spoil(s);
        auto connection = Server::create(s);
        connection->connect();
        EXPECT_THROW(connection->login(mp3()), Poco::ApplicationException);
        connection->disconnect();
        auto received = server.finish();
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0], "");
    }
    ServerSettings s = settingsFor(8000);
    s.password = "pass\r\nword";
    EXPECT_THROW(Server::create(s), Poco::ApplicationException);
}

TEST(Server, UnknownFormatSendsNothing)
{
    FakeServer server({[](FakeConnection& conn) { conn.waitForClose(); }});
    ServerSettings s = settingsFor(server.port());
    auto connection = Server::create(s);
    connection->connect();
    EncoderSettings e = mp3();
    e.format = 7;
    EXPECT_EQ(messageOf([&] { connection->login(e); }), "Undefined format");
    connection->disconnect();
    EXPECT_EQ(server.finish().at(0), "");
}

TEST(Server, UnsupportedCharsetFailsAtCreation)
{
    ServerSettings s = settingsFor(8000);
    s.yp.charset = "NO-SUCH-CHARSET";
    EXPECT_THROW(Server::create(s), std::runtime_error);
}

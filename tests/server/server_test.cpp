// What every server connection shares: the factory, content types,
// credentials, reply tests, ports, refused fields, deadlines and closing.
#include <gtest/gtest.h>

#include <Poco/Base64Decoder.h>
#include <Poco/Exception.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_server.h"
#include "peers.h"
#include "server/server_icecast2.h"
#include "server/server_shoutcast1.h"
#include "server/server_shoutcast2.h"
#include "server_test_support.h"
#include "shoutcast_servers.h"

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

TEST(Server, CreatePicksTheProtocolByTypeAndFormatsTheirContentTypes)
{
    ServerSettings s = settingsFor(8000);
    EXPECT_NE(dynamic_cast<ServerIcecast2*>(Server::create(s).get()), nullptr);
    s.type = SERVER_SHOUTCAST1;
    EXPECT_NE(dynamic_cast<ServerSHOUTcast1*>(Server::create(s).get()), nullptr);
    s.type = SERVER_SHOUTCAST2;
    EXPECT_NE(dynamic_cast<ServerSHOUTcast2*>(Server::create(s).get()), nullptr);
    for (int type : {3, -1}) {
        s.type = type;
        EXPECT_EQ(Server::create(s), nullptr);
    }
    // An unsupported charset fails at creation.
    s.yp.charset = "NO-SUCH-CHARSET";
    for (int type : {SERVER_ICECAST2, SERVER_SHOUTCAST1}) {
        s.type = type;
        EXPECT_THROW(Server::create(s), std::runtime_error);
    }

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
    // The server splits the pair at the first colon.
    EXPECT_EQ(messageOf([] { Server::basicCredentials("d:j", "pw"); }), "User name must not contain ':'.");
    EXPECT_EQ(decode(Server::basicCredentials("dj", "p:w")), "dj:p:w");
    for (const char* bad : {"a\rb", "a\nb", "a\0b"}) {
        std::string value(bad, 3);
        EXPECT_THROW(Server::basicCredentials("", value), Poco::ApplicationException);
        EXPECT_THROW(Server::basicCredentials(value, "pw"), Poco::ApplicationException);
    }
}

TEST(Server, StatusCountsOnlyAtItsPlaceAndTheServersWordsAreCleaned)
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

    // The server's words are cut and cleaned: control bytes become blanks,
    // invalid UTF-8 the replacement character.
    EXPECT_EQ(Server::readableText("You need to authenticate\r\n"), "You need to authenticate\r\n");
    EXPECT_EQ(Server::readableText(std::string("a\0b\x1b[31m\tc\xFF\xC3(\xED\xA0\x80\xC3\xA9", 18)),
              "a b [31m\tc\xEF\xBF\xBD\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xC3\xA9");
    // At most 500 characters, cut between characters.
    std::string long_text;
    for (int i = 0; i < 100000; ++i)
        long_text += "\xC3\xA9";
    EXPECT_EQ(Server::readableText(long_text), long_text.substr(0, 1000) + "...");
    EXPECT_EQ(Server::readableText(long_text.substr(0, 1000)), long_text.substr(0, 1000));
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
        std::vector<int> types;
        void (*spoil)(ServerSettings&);
    } cases[] = {
        {"name", {SERVER_ICECAST2, SERVER_SHOUTCAST1, SERVER_SHOUTCAST2},
         [](ServerSettings& s) { s.yp.name = "Name\r\nice-public: 1"; }},
        {"genre", {SERVER_ICECAST2, SERVER_SHOUTCAST1, SERVER_SHOUTCAST2},
         [](ServerSettings& s) { s.yp.genre = "Rock\n"; }},
        {"description", {SERVER_ICECAST2}, [](ServerSettings& s) { s.yp.desc = std::string("a\0b", 3); }},
        {"url", {SERVER_ICECAST2, SERVER_SHOUTCAST1, SERVER_SHOUTCAST2},
         [](ServerSettings& s) { s.yp.url = "http://x/\r\n\r\n"; }},
        {"password", {SERVER_SHOUTCAST1, SERVER_SHOUTCAST2},
         [](ServerSettings& s) { s.password = std::string("pw\0icy-pub: 1", 14); }},
        {"user", {SERVER_SHOUTCAST2}, [](ServerSettings& s) { s.username = "dj\r\n"; }},
        {"mount with CR LF", {SERVER_ICECAST2}, [](ServerSettings& s) { s.mount_point = "/a\r\nX: y"; }},
        {"mount with a blank", {SERVER_ICECAST2}, [](ServerSettings& s) { s.mount_point = "/my stream"; }},
        {"mount with a tab", {SERVER_ICECAST2}, [](ServerSettings& s) { s.mount_point = "/my\tstream"; }},
        {"huge description", {SERVER_ICECAST2}, [](ServerSettings& s) { s.yp.desc = std::string(5000, 'd'); }},
        {"huge name", {SERVER_SHOUTCAST1, SERVER_SHOUTCAST2},
         [](ServerSettings& s) { s.yp.name = std::string(17000, 'n'); }},
        {"unknown format", {SERVER_ICECAST2, SERVER_SHOUTCAST1, SERVER_SHOUTCAST2}, [](ServerSettings&) {}},
    };
    for (const Case& c : cases) {
        for (int type : c.types) {
            SCOPED_TRACE(std::string(c.what) + " type " + std::to_string(type));
            FakeServer server({[](FakeConnection& conn) { conn.waitForClose(); }});
            // SHOUTcast v1 sources go to the port after the server's.
            ServerSettings s = settingsFor(server.port() - (type == SERVER_SHOUTCAST1 ? 1 : 0));
            s.type = type;
            c.spoil(s);
            auto connection = Server::create(s);
            connection->connect();
            EncoderSettings e = mp3();
            if (std::string(c.what) == "unknown format") {
                e.format = 7;
                EXPECT_EQ(messageOf([&] { connection->login(e); }), "Undefined format");
            } else {
                EXPECT_THROW(connection->login(e), Poco::ApplicationException);
            }
            connection->disconnect();
            auto received = server.finish();
            ASSERT_EQ(received.size(), 1u);
            // Nothing but, for SHOUTcast v2, the packet that says goodbye.
            EXPECT_EQ(received[0], type == SERVER_SHOUTCAST2 ? std::string("\x5A\x00\x10\x05\x00\x00\x00", 7) : "");
        }
    }
    ServerSettings s = settingsFor(8000);
    s.password = "pass\r\nword";
    EXPECT_THROW(Server::create(s), Poco::ApplicationException);
    s = settingsFor(8000);
    s.username = "d:j";
    EXPECT_THROW(Server::create(s), Poco::ApplicationException);
}

TEST(Server, EveryExchangeHasADeadline)
{
    // A server that sends the first `head` bytes of its reply at once, then
    // the rest one byte every 20 ms over and over, never finishing; or
    // (with no text) one that never answers. The exchange limit is half a
    // second here: the head is there long before it, however busy the
    // machine.
    auto trickle = [](std::string text, std::size_t head) {
        return [text, head](FakeConnection& c) {
            c.readAvailable();
            if (text.empty())
                return c.waitForClose();
            c.send(text.substr(0, head));
            const std::string rest = head < text.size() ? text.substr(head) : std::string(" ");
            // Sending fails once the client has gone.
            for (std::size_t i = 0; !c.stopping(); i = (i + 1) % rest.size()) {
                c.send(rest.substr(i, 1));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        };
    };
    const std::string partly = "Timed out: the server's reply did not come whole: ";
    const std::string silent = "Timed out waiting for the server's reply.";
    struct Case {
        const char* what;
        int type;
        std::string reply;
        void (*exchange)(Server&);
        std::string message;  // the message starts with it
    } cases[] = {
        {"icecast2 login", SERVER_ICECAST2, "HTTP/1.1 100 Continue\r\nX-Padding: abcdefghijklmnopqrstuvwxyz",
         [](Server& x) { x.login(mp3()); }, partly + "HTTP/1.1 100 Continue"},
        {"icecast2 listeners", SERVER_ICECAST2, "HTTP/1.0 200 OK\r\n\r\n<?xml version=\"1.0\"?><icestats>",
         [](Server& x) { x.listClients("", ""); }, partly + "HTTP/1.0 200 OK"},
        {"icecast2 title", SERVER_ICECAST2, "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n<message>",
         [](Server& x) { x.updateMetadata("t"); }, partly + "HTTP/1.0 200 OK"},
        {"icecast2 silent title", SERVER_ICECAST2, "", [](Server& x) { x.updateMetadata("t"); }, silent},
        {"v1 login", SERVER_SHOUTCAST1, "OK2 and no end of line",
         [](Server& x) { x.login(mp3()); }, partly + "OK2"},
        {"v1 silent login", SERVER_SHOUTCAST1, "", [](Server& x) { x.login(mp3()); }, silent},
        {"v1 title", SERVER_SHOUTCAST1, "HTTP/1.0 200 OK\r\n\r\nslow page",
         [](Server& x) { x.updateMetadata("t"); }, partly + "HTTP/1.0 200 OK"},
        // Silence is no success.
        {"v1 silent title", SERVER_SHOUTCAST1, "", [](Server& x) { x.updateMetadata("t"); }, silent},
        {"v1 silent listeners", SERVER_SHOUTCAST1, "", [](Server& x) { x.listClients("", ""); }, silent},
        {"v2 login", SERVER_SHOUTCAST2, std::string("\x5A\x00\x10\x09\x40\x00", 6) + "ACK:slow key",
         [](Server& x) { x.login(mp3()); }, silent},
        {"v2 silent login", SERVER_SHOUTCAST2, "", [](Server& x) { x.login(mp3()); }, silent},
        {"v2 listeners", SERVER_SHOUTCAST2, "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml",
         [](Server& x) { x.listClients("admin", "pw"); }, partly + "HTTP/1.0 200 OK"},
    };
    servertest::ExchangeLimit limit(Poco::Timespan(0, 500000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // What the message quotes of the reply comes at once.
        const std::size_t head = c.message.compare(0, partly.size(), partly) == 0 ? c.message.size() - partly.size() : 0;
        FakeServer server({trickle(c.reply, head)});
        bool source = std::string(c.what).find("login") != std::string::npos;
        ServerSettings s = settingsFor(server.port() - (source && c.type == SERVER_SHOUTCAST1 ? 1 : 0));
        s.type = c.type;
        auto connection = Server::create(s);
        auto start = std::chrono::steady_clock::now();
        if (source)
            connection->connect();
        EXPECT_EQ(messageOf([&] { c.exchange(*connection); }).substr(0, c.message.size()), c.message);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        connection->disconnect();
    }

    // The SOCKS5 greeting too: one byte of an answer, then silence.
    FakeServer proxy({[](FakeConnection& c) {
        c.readBytes(3);
        c.send("\x05");
        c.waitForClose();
    }});
    ServerSettings s = settingsFor(8000);
    s.use_proxy = 1;
    s.proxy_port = proxy.port();
    auto connection = Server::create(s);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(messageOf([&] { connection->connect(); }), "Socks5 Authorization was refused.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    connection->disconnect();
}

TEST(Server, AServerThatStopsReadingFailsTheBatchInTime)
{
    // Batches of 1 MB go out until the socket's buffers are full and the
    // server takes no more; a batch may take half a second here. Icecast2's
    // audio path is SHOUTcast v1's too; SHOUTcast v2 sends packets.
    servertest::SendLimit limit(Poco::Timespan(0, 500000));
    auto hold = std::make_shared<std::atomic<bool>>(true);
    FakeServer icecast({[hold](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        while (*hold && !c.stopping())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        c.waitForClose();
    }});
    Shoutcast2Options options;
    options.hold = hold;
    Shoutcast2Server sc(options);
    std::string batch(1 << 20, 'a');
    for (int type : {SERVER_ICECAST2, SERVER_SHOUTCAST2}) {
        SCOPED_TRACE(type);
        *hold = true;
        ServerSettings s = type == SERVER_ICECAST2 ? settingsFor(icecast.port())
                                                   : servertest::shoutcast(type, sc.port(), "sc2-pass");
        auto server = Server::create(s);
        server->connect();
        server->login(mp3());
        Poco::FIFOBuffer fifo(batch.size());
        std::size_t counted = 0;
        std::string message;
        for (int i = 0; i < 256 && message.empty(); ++i) {
            fifo.write(batch.data(), batch.size());
            auto start = std::chrono::steady_clock::now();
            try {
                counted += static_cast<std::size_t>(server->sendData(fifo));
            } catch (const ServerStalled& stalled) {
                EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
                counted += static_cast<std::size_t>(stalled.sent());
                message = stalled.displayText();
            }
        }
        EXPECT_EQ(message, "Application exception: The server stopped taking the stream.");
        // Nothing follows the cut.
        EXPECT_ANY_THROW(server->sendData(fifo));
        *hold = false;
        // The server got exactly what was counted as sent.
        if (type == SERVER_ICECAST2) {
            std::vector<std::string> received = icecast.finish();
            ASSERT_EQ(received.size(), 1u);
            EXPECT_EQ(received[0].size() - received[0].find("\r\n\r\n") - 4, counted);
        } else {
            ASSERT_TRUE(waitUntil([&] { return sc.sourcesEnded() == 1; }));
            std::size_t login = 0;
            for (const auto& p : sc.packets())
                login += p.message_class == 1 ? p.raw.size() : 0;
            EXPECT_EQ(sc.sourceBytes() - login, counted);
            // At most the last packet is cut; nothing came after it.
            for (const std::string& e : sc.errors())
                EXPECT_EQ(e.substr(0, 14), "packet cut off");
        }
        server->disconnect();
    }
}

// The Icecast2 connection, and the SHOUTcast v1 connection on icecast's
// SHOUTcast mount, against a real icecast2 on 127.0.0.1, directly and
// through real SOCKS5 proxies.
#include <gtest/gtest.h>

#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/Util/XMLConfiguration.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "peers.h"
#include "server/server_icecast2.h"
#include "server/server_shoutcast1.h"
#include "ui/listener_xml.h"
#include "server_test_support.h"

namespace {

ServerSettings settingsFor(int port, const std::string& mount)
{
    ServerSettings s = servertest::icecast(port, mount, peers::kIcecastSourcePassword);
    s.yp.name = "Velmora Test";
    s.yp.desc = "Loopback stream";
    s.yp.genre = "Jazz";
    s.yp.url = "http://example.org/radio";
    return s;
}

EncoderSettings mp3()
{
    return servertest::encoder(FORMAT_MP3, 44100, 2, 192);
}

Poco::AutoPtr<Poco::Util::XMLConfiguration> parse(const std::string& xml)
{
    std::istringstream in(xml);
    return new Poco::Util::XMLConfiguration(in);
}

std::string pattern(std::size_t length)
{
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += static_cast<char>('A' + i % 26);
    return text;
}

// The server's statistic `key` for one mount; icecast publishes a new
// source's statistics a moment after its login, so this waits (at most
// 5 s) for `expected` and returns what it saw last.
std::string stat(int port, const std::string& mount, const std::string& key, const std::string& expected,
                 int tries = 100)
{
    std::string value;
    for (int i = 0; i < tries; ++i) {
        auto stats = parse(
            httpGet(port, "/admin/stats", peers::kIcecastAdminUser, peers::kIcecastAdminPassword));
        value = stats->getString("source[@mount=" + mount + "]." + key, "(missing)");
        if (value == expected)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return value;
}

using servertest::messageOf;

// Keeps feeding audio until the listener has some (icecast sends a new
// listener its burst only once it holds data).
bool feedUntilHeard(Server& server, HttpListener& listener, const std::string& chunk)
{
    Poco::FIFOBuffer fifo(chunk.size());
    for (int i = 0; i < 200; ++i) {
        fifo.write(chunk.data(), chunk.size());
        if (server.sendData(fifo) != static_cast<int>(chunk.size()))
            return false;
        if (listener.audio().size() >= 4 * chunk.size())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Sends a title, then audio until the server's statistics show it: the
// server takes a new title with the audio that follows it.
std::string titleSeen(Server& server, int port, const std::string& mount, const std::string& title)
{
    server.updateMetadata(title);
    std::string seen, chunk = pattern(4096);
    Poco::FIFOBuffer fifo(chunk.size());
    for (int i = 0; i < 50 && seen != title; ++i) {
        fifo.write(chunk.data(), chunk.size());
        server.sendData(fifo);
        seen = stat(port, mount, "title", title, 1);
    }
    return seen;
}

}  // namespace

class Icecast2Peer : public ::testing::TestWithParam<peers::Kind> {};

// Direct (Kind::Icecast stands for "no proxy"), through microsocks, through
// danted.
TEST_P(Icecast2Peer, StreamReachesAListenerWithItsDirectoryFields)
{
    VELMORA_PEER_PORT(icecast, peers::Kind::Icecast);
    std::string mount = "/live-" + std::to_string(static_cast<int>(GetParam()));
    ServerSettings s = settingsFor(icecast, mount);
    if (GetParam() != peers::Kind::Icecast) {
        VELMORA_PEER_PORT(proxy, GetParam());
        s.use_proxy = 1;
        s.proxy_port = proxy;
    }
    auto server = Server::create(s);
    server->connect();
    server->login(mp3());

    EXPECT_EQ(stat(icecast, mount, "server_name", "Velmora Test"), "Velmora Test");
    EXPECT_EQ(stat(icecast, mount, "server_description", "Loopback stream"), "Loopback stream");
    EXPECT_EQ(stat(icecast, mount, "genre", "Jazz"), "Jazz");
    EXPECT_EQ(stat(icecast, mount, "server_url", "http://example.org/radio"), "http://example.org/radio");
    EXPECT_EQ(stat(icecast, mount, "bitrate", "192"), "192");

    HttpListener listener(icecast, mount, "test-listener/1.0");
    std::string chunk = pattern(4096);
    ASSERT_TRUE(feedUntilHeard(*server, listener, chunk));
    EXPECT_NE(listener.head().find("200 OK"), std::string::npos);
    // What arrives is the stream as sent, from some chunk boundary on.
    std::string heard = listener.audio().substr(0, 2 * chunk.size());
    EXPECT_NE((chunk + chunk + chunk).find(heard), std::string::npos);
    // The side requests take the same road.
    EXPECT_NO_THROW(server->updateMetadata("On the road"));
    EXPECT_NE(server->listClients("", "").find("<UserAgent>test-listener/1.0</UserAgent>"), std::string::npos);
    server->disconnect();
}

INSTANTIATE_TEST_SUITE_P(Roads, Icecast2Peer,
                         ::testing::Values(peers::Kind::Icecast, peers::Kind::Microsocks, peers::Kind::Danted),
                         [](const ::testing::TestParamInfo<peers::Kind>& info) {
                             switch (info.param) {
                             case peers::Kind::Microsocks: return std::string("microsocks");
                             case peers::Kind::Danted: return std::string("danted");
                             default: return std::string("direct");
                             }
                         });

TEST(Icecast2PeerRefusals, WrongPasswordBusyMountAndSilentMount)
{
    VELMORA_PEER_PORT(icecast, peers::Kind::Icecast);
    ServerSettings wrong = settingsFor(icecast, "/refused");
    wrong.password = "not-the-password";
    auto refused = Server::create(wrong);
    refused->connect();
    // The status and the server's words, on one line.
    EXPECT_EQ(messageOf([&] { refused->login(mp3()); }), "401 Authentication Required: You need to authenticate");
    refused->disconnect();

    ServerSettings busy = settingsFor(icecast, "/busy");
    auto first = Server::create(busy);
    first->connect();
    first->login(mp3());
    auto second = Server::create(busy);
    second->connect();
    EXPECT_EQ(messageOf([&] { second->login(mp3()); }), "403 Forbidden: Mountpoint in use");
    second->disconnect();
    first->disconnect();

    // This mount makes the server close without a byte: PUT, then SOURCE.
    ServerSettings silent = settingsFor(icecast, "nosl");
    auto closed = Server::create(silent);
    closed->connect();
    EXPECT_EQ(messageOf([&] { closed->login(mp3()); }), "No Response from Server");
    closed->disconnect();

}

TEST(Icecast2PeerCredentials, LongCredentialsLogIn)
{
    VELMORA_PEER_PORT(icecast, peers::Kind::Icecast);
    for (int total : {53, 54, 60}) {
        SCOPED_TRACE(total);
        std::string mount = "/cred" + std::to_string(total);
        ServerSettings s = settingsFor(icecast, mount);
        s.password = peers::credentialPassword(total);
        auto server = Server::create(s);
        server->connect();
        EXPECT_NO_THROW(server->login(mp3()));
        EXPECT_EQ(stat(icecast, mount, "server_name", "Velmora Test"), "Velmora Test");
        server->disconnect();
    }
}

TEST(Icecast2PeerMetadata, TitlesArriveExactly)
{
    VELMORA_PEER_PORT(icecast, peers::Kind::Icecast);
    for (const char* charset : {"UTF-8", "ISO-8859-1"}) {
        SCOPED_TRACE(charset);
        std::string mount = std::string("/meta-") + charset;
        ServerSettings s = settingsFor(icecast, mount);
        s.yp.charset = charset;
        auto server = Server::create(s);
        server->connect();
        server->login(mp3());
        for (const std::string title : {"A & B = C #1 +x", "Caf\xC3\xA9"})
            EXPECT_EQ(titleSeen(*server, icecast, mount, title), title);
        server->disconnect();
    }
    ServerSettings gone = settingsFor(icecast, "/not-streaming");
    auto server = Server::create(gone);
    EXPECT_EQ(messageOf([&] { server->updateMetadata("x"); }), "400 Bad Request: Source does not exist");
}

// The listener list as it comes from icecast, read as the Clients view
// reads it: two listeners, one of them without a user agent.
TEST(Icecast2PeerListeners, ListsEveryListener)
{
    VELMORA_PEER_PORT(icecast, peers::Kind::Icecast);
    ServerSettings s = settingsFor(icecast, "/clients");
    auto server = Server::create(s);
    server->connect();
    server->login(mp3());
    std::string chunk = pattern(4096);
    HttpListener with_agent(icecast, "/clients", "velmora-test-player/2.0");
    ASSERT_TRUE(feedUntilHeard(*server, with_agent, chunk));
    HttpListener without_agent(icecast, "/clients", "");
    ASSERT_TRUE(feedUntilHeard(*server, without_agent, chunk));

    std::string xml = server->listClients("", "");
    ASSERT_EQ(xml.compare(0, 5, "<?xml"), 0) << xml;
    Poco::AutoPtr<Poco::Util::XMLConfiguration> document;
    std::vector<ClientInfo> records;
    ASSERT_NO_THROW(parseListenerXml(xml, document, records)) << xml;
    ASSERT_EQ(records.size(), 2u) << xml;
    std::multiset<std::string> agents;
    for (const ClientInfo& r : records) {
        EXPECT_EQ(r.ip, "127.0.0.1");
        // Seconds since the listener came, shown as hours:minutes:seconds.
        EXPECT_EQ(formatConnectedTime(r.connected).substr(0, 6), "00:00:") << r.connected;
        agents.insert(r.user_agent);
    }
    EXPECT_EQ(agents.count("velmora-test-player/2.0"), 1u) << xml;
    EXPECT_EQ(agents.count("Unknown"), 1u) << xml;
    server->disconnect();
}

class Shoutcast1OnIcecast : public ::testing::TestWithParam<peers::Kind> {};

// icecast takes v1 sources on its port + 1 for its SHOUTcast mount and
// v1 titles through its admin.cgi; its listener list is no v1 XML.
TEST_P(Shoutcast1OnIcecast, AudioAndTitleArrive)
{
    VELMORA_PEER_PORT(icecast, peers::Kind::Icecast);
    ServerSettings s = servertest::shoutcast(SERVER_SHOUTCAST1, icecast, peers::kIcecastSourcePassword);
    s.yp.charset = "ISO-8859-1";  // icecast reads v1 titles as Latin-1
    if (GetParam() != peers::Kind::Icecast) {
        VELMORA_PEER_PORT(proxy, GetParam());
        s.use_proxy = 1;
        s.proxy_port = proxy;
    }
    const std::string mount = peers::kIcecastShoutcastMount;
    ServerSettings wrong = s;
    wrong.password = "not-the-password";
    auto refused = Server::create(wrong);
    refused->connect();
    EXPECT_EQ(messageOf([&] { refused->login(mp3()); }), "No Response from Server");
    refused->disconnect();

    auto server = Server::create(s);
    server->connect();
    server->login(mp3());
    EXPECT_EQ(stat(icecast, mount, "server_name", "Velmora Test"), "Velmora Test");
    EXPECT_EQ(stat(icecast, mount, "genre", "Jazz"), "Jazz");
    HttpListener listener(icecast, mount, "test-listener/1.0");
    std::string chunk = pattern(4096);
    ASSERT_TRUE(feedUntilHeard(*server, listener, chunk));
    std::string heard = listener.audio().substr(0, 2 * chunk.size());
    EXPECT_NE((chunk + chunk + chunk).find(heard), std::string::npos);

    EXPECT_EQ(titleSeen(*server, icecast, mount, "Caf\xC3\xA9 & more"), "Caf\xC3\xA9 & more");
    server->disconnect();
}

INSTANTIATE_TEST_SUITE_P(Roads, Shoutcast1OnIcecast, ::testing::Values(peers::Kind::Icecast, peers::Kind::Microsocks),
                         [](const ::testing::TestParamInfo<peers::Kind>& info) {
                             return info.param == peers::Kind::Microsocks ? std::string("microsocks")
                                                                          : std::string("direct");
                         });

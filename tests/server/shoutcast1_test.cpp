// The SHOUTcast v1 connection against the scripted v1 server (sources on
// port + 1, admin.cgi on the port), directly, with answers split into
// single bytes, and through microsocks; and against replies it never gives.
#include <gtest/gtest.h>

#include <Poco/Exception.h>

#include <string>
#include <vector>

#include "fake_server.h"
#include "peers.h"
#include "server/server_shoutcast1.h"
#include "server_test_support.h"
#include "shoutcast_servers.h"

namespace {

using servertest::messageOf;
using servertest::Road;

// Every character that breaks a query unless encoded.
const char* const kPassword = "p&ss #1+x=%";

ServerSettings settingsFor(int port)
{
    ServerSettings s = servertest::shoutcast(SERVER_SHOUTCAST1, port, kPassword);
    s.yp.name = "Caf\xC3\xA9 Radio";
    s.yp.charset = "ISO-8859-1";
    return s;
}

EncoderSettings aac()
{
    return servertest::encoder(FORMAT_HE_AAC, 44100, 2, 64);
}

}  // namespace

class Shoutcast1Session : public ::testing::TestWithParam<Road> {};

TEST_P(Shoutcast1Session, LogsInStreamsTitlesAndListsListeners)
{
    Shoutcast1Options options;
    options.password = kPassword;
    options.bytewise = GetParam() == Road::Bytewise;
    Shoutcast1Server sc(options);
    ServerSettings s = settingsFor(sc.port());
    if (GetParam() == Road::Microsocks) {
        VELMORA_PEER_PORT(proxy, peers::Kind::Microsocks);
        s.use_proxy = 1;
        s.proxy_port = proxy;
    }
    auto server = Server::create(s);
    ASSERT_NE(dynamic_cast<ServerSHOUTcast1*>(server.get()), nullptr);
    server->connect();
    server->login(aac());
    Poco::FIFOBuffer fifo(64);
    fifo.write("aacp audio", 10);
    EXPECT_EQ(server->sendData(fifo), 10);
    ASSERT_TRUE(waitUntil([&] { return sc.audio() == "aacp audio"; }));
    EXPECT_EQ(sc.passwordLines(), std::vector<std::string>{std::string(kPassword) + "\r\n"});
    EXPECT_EQ(sc.sourceHead(), "icy-name: Caf\xE9 Radio\r\nicy-genre: Jazz\r\nicy-url: http://example.org/\r\n"
                               "icy-irc: N/A\r\nicy-icq: 0\r\nicy-aim: N/A\r\nicy-pub: 1\r\nicy-br: 64\r\n"
                               "content-type: audio/aacp\r\n\r\n");

    // The title in the stream's charset, password and title encoded.
    server->updateMetadata("A & B = C #1 +x Caf\xC3\xA9");
    EXPECT_EQ(sc.titles(), std::vector<std::string>{"A & B = C #1 +x Caf\xE9"});
    std::string listeners = server->listClients("", "");
    EXPECT_EQ(listeners, shoutcast1Statistics(sampleListeners(), "A & B = C #1 +x Caf\xE9"));
    EXPECT_EQ(servertest::clientRows(listeners), servertest::clientRows(sampleListeners()));
    const std::string pass = "GET /admin.cgi?pass=p%26ss%20%231%2Bx%3D%25&mode=";
    const std::string agent = " HTTP/1.0\r\nUser-Agent: velmora/1.4.1 (Mozilla compatible)\r\n\r\n";
    EXPECT_EQ(sc.requests(), (std::vector<std::string>{
                                 pass + "updinfo&song=A%20%26%20B%20%3D%20C%20%231%20%2Bx%20Caf%E9" + agent,
                                 pass + "viewxml" + agent}));
    server->disconnect();
    EXPECT_TRUE(sc.errors().empty()) << sc.errors().front();
}

INSTANTIATE_TEST_SUITE_P(Roads, Shoutcast1Session,
                         ::testing::Values(Road::Direct, Road::Bytewise, Road::Microsocks), servertest::roadName);

TEST(Shoutcast1Replies, RefusalsInTheServersWords)
{
    // The scripted server refuses a wrong password, on both ports.
    Shoutcast1Options options;
    Shoutcast1Server sc(options);
    ServerSettings s = settingsFor(sc.port());
    auto server = Server::create(s);
    server->connect();
    EXPECT_EQ(messageOf([&] { server->login(aac()); }), "invalid password");
    server->disconnect();
    EXPECT_EQ(messageOf([&] { server->updateMetadata("x"); }), "invalid password or something");
    EXPECT_EQ(messageOf([&] { server->listClients("", ""); }), "invalid password or something");
    EXPECT_TRUE(sc.titles().empty());

    // Answers no v1 server gives: to the password line on the source port
    // (the server's port is the one below) and to admin requests.
    auto answer = [](std::string reply) {
        return [reply](FakeConnection& c) {
            c.readUntil("\n");
            c.send(reply);
            c.close();
        };
    };
    auto answerRequest = [](std::string reply) {
        return [reply](FakeConnection& c) {
            c.readHead();
            c.send(reply);
            c.close();
        };
    };
    struct Case {
        FakeServer::Handler handler;
        int port_offset;
        void (*call)(Server&);
        std::string message;
    } cases[] = {
        {answer(""), -1, [](Server& x) { x.login(aac()); }, "No Response from Server"},
        {answer("OK2"), -1, [](Server& x) { x.login(aac()); }, "The server's reply was cut off: OK2"},
        {answer("ICY 401 Service Unavailable\r\n"), -1, [](Server& x) { x.login(aac()); },
         "ICY 401 Service Unavailable"},
        {answerRequest("HTTP/1.0 404 Not Found\r\n\r\nNo admin here"), 0, [](Server& x) { x.updateMetadata("t"); },
         "404 Not Found: No admin here"},
        // A page takes a title only when it says so.
        {answerRequest("HTTP/1.0 200 OK\r\n\r\n<html><body>Update successful</body></html>"), 0,
         [](Server& x) { x.updateMetadata("t"); }, "(no exception)"},
        {answerRequest("HTTP/1.0 200 OK\r\n\r\n<html><body>Update unsuccessful</body></html>"), 0,
         [](Server& x) { x.updateMetadata("t"); }, "invalid password or something"},
        {answerRequest("HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\n<?xml version=\"1.0\"?><SHOUTCASTSERVER>"), 0,
         [](Server& x) { x.listClients("", ""); },
         "The server's reply was cut off: HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\n<?xml version=\"1.0\"?>"
         "<SHOUTCASTSERVER>"},
    };
    for (const Case& c : cases) {
        FakeServer fake({c.handler});
        ServerSettings settings = settingsFor(fake.port() + c.port_offset);
        auto connection = Server::create(settings);
        if (c.port_offset < 0)
            connection->connect();
        EXPECT_EQ(messageOf([&] { c.call(*connection); }), c.message);
        connection->disconnect();
    }
}

// The SOCKS5 client socket against a scripted proxy and real ones.
#include <gtest/gtest.h>

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>

#include <string>
#include <vector>

#include "fake_server.h"
#include "peers.h"
#include "server/ss_proxy.h"

namespace {

Poco::Net::SocketAddress loopback(int port)
{
    return Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port));
}

std::string connectFailure(int proxy_port, const std::string& host, std::uint16_t port)
{
    SSProxy socket;
    try {
        socket.connect(loopback(proxy_port), host, port);
    } catch (Poco::ApplicationException& e) {
        socket.closeQuietly();
        return e.message();
    }
    socket.closeQuietly();
    return "(connected)";
}

// A proxy that agrees to everything, answering with `bound` as its bound
// address, then sends `greeting` as the server would.
FakeServer::Handler agreeingProxy(const std::string& bound, const std::string& greeting)
{
    return [bound, greeting](FakeConnection& c) {
        c.readBytes(3);
        c.send(std::string("\x05\x00", 2), true);
        std::string head = c.readBytes(5);
        if (head.size() == 5)
            c.readBytes(static_cast<unsigned char>(head[4]) + 2);
        c.send(std::string("\x05\x00\x00", 3) + bound, true);
        c.send(greeting);
        c.waitForClose();
    };
}

std::string readAll(SSProxy& socket, std::size_t length)
{
    std::string text(length, '\0');
    text.resize(socket.receiveFully(&text[0], length));
    return text;
}

}  // namespace

TEST(SSProxy, SendsGreetingAndConnectByName)
{
    FakeServer proxy({agreeingProxy(std::string("\x01\x7F\x00\x00\x01\x1F\x41", 7), "ICY")});
    SSProxy socket;
    socket.connect(loopback(proxy.port()), "radio.example", 8001);
    // The whole bound address is consumed, split bytes and all: the next
    // bytes are the server's.
    EXPECT_EQ(readAll(socket, 3), "ICY");
    socket.closeQuietly();

    auto received = proxy.finish();
    ASSERT_EQ(received.size(), 1u);
    std::string expected("\x05\x01\x00"
                         "\x05\x01\x00\x03\x0D"
                         "radio.example"
                         "\x1F\x41",
                         3 + 5 + 13 + 2);
    EXPECT_EQ(received[0], expected);
}

TEST(SSProxy, ReadsEveryKindOfBoundAddress)
{
    std::string by_name("\x03\x09localhost\x00\x50", 13);
    std::string ipv6("\x04", 1);
    ipv6 += std::string(16, '\x00') + std::string("\x00\x50", 2);
    for (const std::string& bound : {by_name, ipv6}) {
        FakeServer proxy({agreeingProxy(bound, "OK2")});
        SSProxy socket;
        socket.connect(loopback(proxy.port()), "127.0.0.1", 80);
        EXPECT_EQ(readAll(socket, 3), "OK2");
        socket.closeQuietly();
    }
}

TEST(SSProxy, RefusedGreetingsAndConnects)
{
    auto greetingReply = [](std::string reply) {
        return [reply](FakeConnection& c) {
            c.readBytes(3);
            c.send(reply);
            c.close();
        };
    };
    auto connectReply = [](std::string reply) {
        return [reply](FakeConnection& c) {
            c.readBytes(3);
            c.send(std::string("\x05\x00", 2));
            c.readBytes(5 + 9 + 2);  // CONNECT to "127.0.0.1"
            c.send(reply);
            c.close();
        };
    };
    const std::string refused_auth = "Socks5 Authorization was refused.";
    const std::string refused_connect = "Connection to proxy was not established.";
    struct Case {
        FakeServer::Handler handler;
        std::string message;
    } cases[] = {
        {greetingReply(std::string("\x05\xFF", 2)), refused_auth},
        {greetingReply(std::string("\x05", 1)), refused_auth},
        {greetingReply(std::string("\x04\x00", 2)), refused_auth},
        {greetingReply(""), refused_auth},
        {connectReply(std::string("\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00", 10)), refused_connect},
        {connectReply(std::string("\x05\x00\x00", 3)), refused_connect},
        {connectReply(std::string("\x04\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10)), refused_connect},
        {connectReply(std::string("\x05\x00\x00\x07\x00\x00", 6)), refused_connect},
        {connectReply(""), refused_connect},
    };
    for (auto& c : cases) {
        FakeServer proxy({c.handler});
        EXPECT_EQ(connectFailure(proxy.port(), "127.0.0.1", 8000), c.message);
    }
}

TEST(SSProxy, HostNameLengthIsChecked)
{
    // 255 bytes fit the length byte; 256 and none do not, and are refused
    // before the proxy is even reached.
    std::string longest(255, 'a');
    FakeServer proxy({agreeingProxy(std::string("\x01\x7F\x00\x00\x01\x00\x50", 7), "")});
    SSProxy socket;
    socket.connect(loopback(proxy.port()), longest, 80);
    socket.closeQuietly();
    auto received = proxy.finish();
    ASSERT_EQ(received.size(), 1u);
    ASSERT_EQ(received[0].size(), 3u + 5 + 255 + 2);
    EXPECT_EQ(static_cast<unsigned char>(received[0][7]), 255u);

    FakeServer unused({});
    EXPECT_NE(connectFailure(unused.port(), std::string(256, 'a'), 80).find("255"), std::string::npos);
    EXPECT_NE(connectFailure(unused.port(), "", 80).find("255"), std::string::npos);
    EXPECT_EQ(unused.accepted(), 0u);
}

TEST(SSProxy, CloseQuietlyNeverThrows)
{
    SSProxy never_connected;
    EXPECT_NO_THROW(never_connected.closeQuietly());

    SSProxy refused;
    int closed_port = peers::freePort();
    EXPECT_THROW(refused.open(loopback(closed_port)), Poco::Net::NetException);
    EXPECT_NO_THROW(refused.closeQuietly());

    FakeServer server({[](FakeConnection& c) { c.waitForClose(); }});
    SSProxy open;
    open.open(loopback(server.port()));
    EXPECT_NO_THROW(open.closeQuietly());
    EXPECT_NO_THROW(open.closeQuietly());
    // A closed socket can be opened again.
    FakeServer again({[](FakeConnection& c) { c.send("x"); }});
    open.open(loopback(again.port()));
    EXPECT_EQ(readAll(open, 1), "x");
    open.closeQuietly();
}

// A batch whose time is up still goes when the socket takes it at once
// (the end of a stream, sent as a stop's grace runs out).
TEST(SSProxy, ASendWhoseTimeIsUpTakesWhatTheSocketTakesAtOnce)
{
    const std::string batch(1000, 'b');
    FakeServer server({[&batch](FakeConnection& c) { c.readBytes(batch.size()); }});
    SSProxy socket;
    socket.open(loopback(server.port()));
    const Deadline over(Poco::Timespan(0));
    EXPECT_EQ(socket.sendBefore(batch.data(), batch.size(), over), batch.size());
    socket.closeQuietly();
    EXPECT_EQ(server.finish(), std::vector<std::string>{batch});
}

class RealProxy : public ::testing::TestWithParam<peers::Kind> {};

TEST_P(RealProxy, ReachesAServerByNameAndReportsAClosedPort)
{
    VELMORA_PEER_PORT(proxy_port, GetParam());
    FakeServer server({[](FakeConnection& c) {
        c.send("hello through the proxy");
        c.waitForClose();
    }});
    SSProxy socket;
    socket.connect(loopback(proxy_port), "127.0.0.1", static_cast<std::uint16_t>(server.port()));
    EXPECT_EQ(readAll(socket, 23), "hello through the proxy");
    socket.closeQuietly();
    EXPECT_EQ(connectFailure(proxy_port, "127.0.0.1", static_cast<std::uint16_t>(peers::freePort())),
              "Connection to proxy was not established.");
}

INSTANTIATE_TEST_SUITE_P(Peers, RealProxy, ::testing::Values(peers::Kind::Microsocks, peers::Kind::Danted),
                         [](const ::testing::TestParamInfo<peers::Kind>& info) {
                             return info.param == peers::Kind::Microsocks ? std::string("microsocks")
                                                                          : std::string("danted");
                         });

TEST(SSProxy, ProxyDemandingAPasswordRefusesUs)
{
    VELMORA_PEER_PORT(proxy_port, peers::Kind::MicrosocksAuth);
    EXPECT_EQ(connectFailure(proxy_port, "127.0.0.1", 80), "Socks5 Authorization was refused.");
}

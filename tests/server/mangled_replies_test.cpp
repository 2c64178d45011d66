// Every exchange of the three connections against mangled versions of the
// replies their servers give, reproducibly: each ends within its deadline
// in success or in a Poco exception whose text is clean and of bounded
// length; under the sanitizers, with no memory error.
#include <gtest/gtest.h>

#include <Poco/Exception.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "fake_server.h"
#include "mangled_text.h"
#include "server/server.h"
#include "server_test_support.h"

namespace {

std::string v2Reply(int type, const std::string& text)
{
    std::size_t length = text.size() + 1;
    return std::string{'\x5A', '\x00', static_cast<char>(0x10 | type >> 8), static_cast<char>(type & 0xFF),
                       static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} +
           text + std::string(2, '\0');
}

struct Exchange {
    const char* what;
    int type;
    std::string reply;  // what the server sends on every connection
    std::function<void(Server&)> run;
};

}  // namespace

TEST(MangledReplies, EndInSuccessOrAClearError)
{
    std::string v2_login;
    for (int type : {0x009, 0x001, 0x040, 0x002, 0x003, 0x008, 0x100, 0x101, 0x102, 0x103, 0x006})
        v2_login += v2Reply(type, type == 0x009 ? "ACK:Kp7vQ2xB9zR4mT1w" : "ACK");
    v2_login += v2Reply(0x004, "ACK:Data transfer mode");
    const EncoderSettings mp3 = servertest::encoder(FORMAT_MP3, 44100, 2, 128);
    auto login = [mp3](Server& s) {
        s.connect();
        s.login(mp3);
    };
    auto list = [](Server& s) { s.listClients("admin", "pw"); };
    auto title = [](Server& s) { s.updateMetadata("A & B"); };
    const std::vector<Exchange> exchanges = {
        {"icecast2 login", SERVER_ICECAST2, "HTTP/1.1 100 Continue\r\nContent-Length: 0\r\n\r\n", login},
        {"icecast2 refusal", SERVER_ICECAST2,
         "HTTP/1.0 401 Authentication Required\r\nContent-Length: 26\r\n\r\nYou need to authenticate\r\n", login},
        {"icecast2 title", SERVER_ICECAST2,
         "HTTP/1.0 200 OK\r\n\r\n<?xml version=\"1.0\"?>\n<iceresponse><message>Metadata update successful"
         "</message><return>1</return></iceresponse>",
         title},
        {"icecast2 listeners", SERVER_ICECAST2,
         "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 45\r\n\r\n<?xml version=\"1.0\"?><icestats>"
         "</icestats>",
         list},
        {"v1 login", SERVER_SHOUTCAST1, "OK2\r\nicy-caps:11\r\n\r\n", login},
        {"v1 title", SERVER_SHOUTCAST1, "HTTP/1.0 200 OK\r\n\r\n<html><body>Update successful</body></html>", title},
        {"v1 listeners", SERVER_SHOUTCAST1, "HTTP/1.0 200 OK\r\n\r\n<?xml version=\"1.0\"?><SHOUTCASTSERVER/>", list},
        {"v2 login", SERVER_SHOUTCAST2, v2_login, login},
        {"v2 listeners", SERVER_SHOUTCAST2,
         "HTTP/1.0 401 Unauthorized\r\nContent-Type: text/html\r\n\r\n<html><body>Unauthorized</body></html>", list},
    };

    std::mutex lock;
    std::string reply;
    LoopbackService server([&](FakeConnection& c) {
        c.readAvailable();
        std::string text;
        {
            std::lock_guard<std::mutex> guard(lock);
            text = reply;
        }
        c.send(text);
        c.close();
    });
    servertest::ExchangeLimit limit(Poco::Timespan(0, 300000));
    std::mt19937 random(20261207);
    int succeeded = 0;
    for (int i = 0; i < 450; ++i) {
        const Exchange& e = exchanges[i % exchanges.size()];
        {
            std::lock_guard<std::mutex> guard(lock);
            reply = mangled(e.reply, random);
        }
        SCOPED_TRACE(std::string(e.what) + ": " + reply);
        // SHOUTcast v1 sources go to the port after the one configured.
        const bool v1_source = e.type == SERVER_SHOUTCAST1 && std::string(e.what) == "v1 login";
        ServerSettings settings = servertest::shoutcast(e.type, server.port() - (v1_source ? 1 : 0), "pw");
        settings.mount_point = "/live";
        auto connection = Server::create(settings);
        const auto start = std::chrono::steady_clock::now();
        try {
            e.run(*connection);
            ++succeeded;
        } catch (const Poco::Exception& x) {
            // As the console shows it (a socket error's text is its name).
            const std::string message = x.displayText();
            EXPECT_LE(message.size(), 2200u);
            EXPECT_EQ(Server::wellFormedUtf8(message, true), message);
        }
        connection->disconnect();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
    EXPECT_GT(succeeded, 20);
}

// Titles and listener requests tell the truth about where they went: a
// failed listener request keeps its reason.
#include "stream_fixture.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>

#include "fake_server.h"
#include "peers.h"
#include "pipe_fixture.h"

using namespace streamtest;
using namespace pipetest;

using StreamRequests = PlayerTest;

// A listener request that fails says why, as a title request does: the
// exception comes with its own class and text, not as a bare copy of its
// base. (A SHOUTcast v1 server takes its sources one port above the one
// that answers requests; here nothing answers there.)
TEST_F(StreamRequests, AFailedListenerRequestKeepsItsReason) {
    const int port = peers::freePort();
    LoopbackService sources(
        [](FakeConnection& c) {
            c.readUntil("\r\n");
            c.send("OK2\r\nicy-caps:11\r\n\r\n");
            while (!c.stopping() && !c.closed())
                c.readAvailable();
        },
        port + 1);
    ServerSettings settings = icecastSettings(port, "", "Half Open");
    settings.type = SERVER_SHOUTCAST1;
    Observer observer;
    Stream stream(&observer, encoderSettings(helper("passthrough"), "", FORMAT_MP3, 44100, 2), settings);
    stream.start(capture.get());
    ASSERT_TRUE(stream.status().running) << stream.status().error_text;

    std::string title_failure, listener_failure;
    try {
        stream.updateMetadata("Artist - Title");
    } catch (const Poco::Exception& e) {
        title_failure = e.displayText();
    }
    try {
        stream.listClients();
    } catch (const Poco::Net::ConnectionRefusedException& e) {
        listener_failure = e.displayText();
    } catch (const Poco::Exception& e) {
        ADD_FAILURE() << e.className() << ": " << e.displayText();
    }
    EXPECT_EQ(listener_failure.compare(0, 18, "Connection refused"), 0) << listener_failure;
    EXPECT_EQ(listener_failure, title_failure);
    EXPECT_FALSE(stream.status().clients_requested);
    stream.stop();
}

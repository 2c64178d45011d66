// Titles and listener requests tell the truth about where they went: while
// a stream waits to reconnect nothing is sent, the title is kept and the
// reconnection carries the latest one; once the stream gave up a title is
// refused as going nowhere; a failed listener request keeps its reason.
#include "stream_fixture.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>

#include <functional>
#include <future>
#include <mutex>
#include <optional>

#include "fake_server.h"
#include "list_holding_server.h"
#include "peers.h"
#include "pipe_fixture.h"

using namespace streamtest;
using namespace pipetest;

namespace {

struct AfterGivingUp {
    std::string title;
    std::string listeners;
    // What each successful reconnection said it sent again ("-" for none).
    std::mutex mutex;
    std::vector<std::string> resent;
};

std::vector<std::string> resentTitles(AfterGivingUp& after) {
    std::lock_guard<std::mutex> lock(after.mutex);
    return after.resent;
}

// Reconnects a failed stream as the front ends do; once it gave up, asks
// for a title and a listener list before the stop.
void reconnectOrRecord(Stream& stream, int code, AfterGivingUp& after) {
    if (code != StreamEventListener::EVENT_ERROR || !stream.status().running)
        return;
    const std::optional<std::string> resent = stream.reconnect();
    if (stream.status().reconnect_count != 3) {
        std::lock_guard<std::mutex> lock(after.mutex);
        after.resent.push_back(resent ? *resent : "-");
        return;
    }
    try {
        stream.updateMetadata("Too Late");
        after.title = "sent";
    } catch (const Poco::Exception& e) {
        after.title = e.displayText();
    }
    try {
        stream.listClients();
        after.listeners = "asked";
    } catch (const StreamReconnecting&) {
        after.listeners = "waits for a reconnection";
    } catch (const Poco::Exception& e) {
        after.listeners = e.displayText();
    }
    stream.stop();
}

bool reconnecting(Stream& stream) { return stream.status().reconnecting; }

} // namespace

using StreamRequests = PlayerTest;

// Both an MP3 and an Ogg stream, whose server drops its sources: during
// the wait a title is kept (not sent, not reported as sent) and a listener
// request asks nothing; one caller hears of the wait; the reconnection
// sends the MP3 stream's latest title. When the server refuses them, the
// streams give up, and a title is then refused outright.
TEST_F(StreamRequests, WaitForTheReconnectionAndGoNowhereOnceItIsGivenUp) {
    ListHoldingServer server;
    Observer mp3_events, ogg_events;
    AfterGivingUp mp3_after, ogg_after;
    mp3_events.also = [&](Stream& s, int code) { reconnectOrRecord(s, code, mp3_after); };
    ogg_events.also = [&](Stream& s, int code) { reconnectOrRecord(s, code, ogg_after); };
    Stream mp3(&mp3_events, encoderSettings(helper("passthrough"), "", FORMAT_MP3, 44100, 2),
               icecastSettings(server.port(), "/wait.mp3", "Wait MP3"));
    Stream ogg(&ogg_events, encoderSettings(helper("passthrough"), "", FORMAT_OGG_VORBIS, 44100, 2),
               icecastSettings(server.port(), "/wait.ogg", "Wait Ogg"));
    Stream* const both[] = {&mp3, &ogg};
    for (Stream* s : both) {
        // Long enough for the requests below to fall inside the wait.
        s->setReconnectWait(2s);
        s->setSettleSeconds(0);
        s->start(capture.get());
        ASSERT_TRUE(s->status().running) << s->status().error_text;
    }
    playTone(120);
    EXPECT_TRUE(mp3.updateMetadata("Artist - One"));
    EXPECT_TRUE(ogg.updateMetadata(""));
    EXPECT_EQ(server.titles("/wait.mp3"), std::vector<std::string>{"Artist - One"});

    const int asked = server.adminRequests();
    server.dropSources();
    ASSERT_TRUE(eventually([&] { return reconnecting(mp3) && reconnecting(ogg); }, 20s));
    ogg.addTitle("Artist", "Two");
    EXPECT_FALSE(mp3.updateMetadata("Artist - Two"));
    EXPECT_FALSE(ogg.updateMetadata(""));
    for (Stream* s : both) {
        EXPECT_THROW(s->listClients(), StreamReconnecting);
        EXPECT_TRUE(s->reconnectionNoticeDue());
        EXPECT_FALSE(s->reconnectionNoticeDue());
    }
    EXPECT_EQ(server.adminRequests(), asked) << "a request went to a stream that waits to reconnect";
    // (The calls above came inside the wait.)
    ASSERT_TRUE(reconnecting(mp3) && reconnecting(ogg));

    ASSERT_TRUE(mp3_events.waitFor(StreamEventListener::EVENT_STARTED, 2));
    ASSERT_TRUE(ogg_events.waitFor(StreamEventListener::EVENT_STARTED, 2));
    EXPECT_TRUE(eventually([&] { return server.titles("/wait.mp3").size() == 2; }));
    EXPECT_EQ(server.titles("/wait.mp3"), (std::vector<std::string>{"Artist - One", "Artist - Two"}));
    ASSERT_TRUE(eventually([&] { return !reconnecting(mp3) && !reconnecting(ogg); }));
    // The MP3 stream's reconnection tells its caller which title it sent
    // again; the Ogg stream's restarted programs carry theirs.
    EXPECT_TRUE(eventually([&] { return resentTitles(mp3_after).size() == 1 && resentTitles(ogg_after).size() == 1; }));
    EXPECT_EQ(resentTitles(mp3_after), std::vector<std::string>{"Artist - Two"});
    EXPECT_EQ(resentTitles(ogg_after), std::vector<std::string>{"-"});
    EXPECT_TRUE(mp3.updateMetadata("Artist - Three"));
    EXPECT_TRUE(ogg.updateMetadata(""));

    // Gone for good: three refused attempts, then the stop.
    server.refuseSources(true);
    server.dropSources();
    ASSERT_TRUE(eventually([&] { return reconnecting(mp3) && reconnecting(ogg); }, 20s));
    // Each wait has its own notice.
    for (Stream* s : both)
        EXPECT_TRUE(s->reconnectionNoticeDue());
    ASSERT_TRUE(mp3_events.waitFor(StreamEventListener::EVENT_STOPPED, 1, 30s));
    ASSERT_TRUE(ogg_events.waitFor(StreamEventListener::EVENT_STOPPED, 1, 30s));
    for (const AfterGivingUp* after : {&mp3_after, &ogg_after}) {
        EXPECT_EQ(after->title, "Application exception: The title was not sent: the stream gave up reconnecting.");
        EXPECT_EQ(after->listeners, "Application exception: The stream is not connected.");
    }
    EXPECT_EQ(consoleCount("velmora: Reconnection given up after 3 attempts: "), 2u);
    EXPECT_EQ(server.titles("/wait.mp3").back(), "Artist - Three");
}

// A title that finds the stream waiting to reconnect, while the
// reconnection ends and sends the kept title again at that very moment:
// the new title is the one the server gets and the one the reconnection
// says it sent, not the one before it.
TEST_F(StreamRequests, ATitleAsTheReconnectionEndsIsTheOneItSendsAgain) {
    ListHoldingServer server;
    Observer events;
    AfterGivingUp after;
    events.also = [&](Stream& s, int code) { reconnectOrRecord(s, code, after); };
    Stream stream(&events, encoderSettings(helper("passthrough"), "", FORMAT_MP3, 44100, 2),
                  icecastSettings(server.port(), "/race.mp3", "Race"));
    // Long enough for the title below to fall inside the wait.
    stream.setReconnectWait(2s);
    stream.setSettleSeconds(0);
    stream.start(capture.get());
    ASSERT_TRUE(stream.status().running) << stream.status().error_text;
    playTone(120);
    EXPECT_TRUE(stream.updateMetadata("Artist - One"));
    ASSERT_EQ(server.titles("/race.mp3"), std::vector<std::string>{"Artist - One"});

    server.dropSources();
    ASSERT_TRUE(eventually([&] { return reconnecting(stream); }, 20s));
    // The title has seen the wait; the reconnection ends and sends its
    // title again before the request goes on.
    bool seen = false;
    stream.setReconnectionSeenHook([&] {
        seen = true;
        EXPECT_TRUE(eventually([&] { return server.titles("/race.mp3").size() == 2; }, 30s))
            << "the reconnection sent no title";
    });
    EXPECT_FALSE(stream.updateMetadata("Artist - Two"));
    stream.setReconnectionSeenHook(nullptr);
    ASSERT_TRUE(seen) << "the title did not come inside the wait";
    EXPECT_EQ(server.titles("/race.mp3"), (std::vector<std::string>{"Artist - One", "Artist - Two"}));
    EXPECT_TRUE(eventually([&] { return resentTitles(after).size() == 1; }));
    EXPECT_EQ(resentTitles(after), std::vector<std::string>{"Artist - Two"});
}

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

// A stop ends the title and the listener request in flight, and turns
// away those that come after it, as stopped rather than failed: the front
// ends print no error for them.
TEST_F(StreamRequests, AStopEndsTheRequestsInFlightAsStopped) {
    ListHoldingServer server;
    Observer observer;
    Stream stream(&observer, encoderSettings(helper("passthrough"), "", FORMAT_MP3, 44100, 2),
                  icecastSettings(server.port(), "/held.mp3", "Held"));
    stream.start(capture.get());
    ASSERT_TRUE(stream.status().running) << stream.status().error_text;
    server.hold(true);
    server.holdTitles(true);
    // What each request ended with: "stopped", or the failure's text.
    const auto outcome = [](const std::function<void()>& request) {
        try {
            request();
            return std::string("done");
        } catch (const StreamStopped&) {
            return std::string("stopped");
        } catch (const Poco::Exception& e) {
            return e.displayText();
        }
    };
    auto title = std::async(std::launch::async, [&] { return outcome([&] { stream.updateMetadata("Held Title"); }); });
    auto list = std::async(std::launch::async, [&] { return outcome([&] { stream.listClients(); }); });
    ASSERT_TRUE(eventually([&] { return server.titles("/held.mp3").size() == 1 && server.listRequests() == 1; }));
    stream.stop();
    EXPECT_EQ(title.get(), "stopped");
    EXPECT_EQ(list.get(), "stopped");
    EXPECT_EQ(outcome([&] { stream.updateMetadata("Late Title"); }), "stopped");
    EXPECT_EQ(outcome([&] { stream.listClients(); }), "stopped");
}

// A stop asked while the worker is in its round (here: handling its
// statistics): a title that comes then is turned away as the stream is
// stopping, and nothing of it is left for the worker: after the round the
// Ogg encoder is not started again with the new title, and the server gets
// the stream of the one encoder, ended whole.
TEST_F(StreamRequests, ATitleTurnedAwayByAStopStartsNoEncoder) {
    ListHoldingServer server;
    Observer events;
    std::thread stopper;
    std::string refusal;
    bool stopped_in_round = false;
    events.also = [&](Stream& s, int code) {
        if (code != StreamEventListener::EVENT_STATISTICS || stopped_in_round)
            return;
        stopped_in_round = true;
        stopper = std::thread([&s] { s.stop(); });
        // The stop is asked once a listener request is turned away.
        EXPECT_TRUE(eventually([&] {
            try {
                s.listClients();
                return false;
            } catch (const StreamStopped&) {
                return true;
            }
        }, 30s));
        s.addTitle("Next Artist", "After Stop");
        try {
            s.updateMetadata("");
            refusal = "sent";
        } catch (const Poco::Exception& e) {
            refusal = e.displayText();
        }
    };
    Stream stream(&events, encoderSettings(helper("printargs"), "%artist% %title%", FORMAT_OGG_VORBIS, 44100, 2),
                  icecastSettings(server.port(), "/stopping.ogg", "Stopping"));
    // (Joined before the stream goes, also when a check below gives up.)
    struct Joined {
        std::thread& thread;
        ~Joined() {
            if (thread.joinable())
                thread.join();
        }
    } joined{stopper};
    const std::size_t unsent = consoleCount("could not be sent");
    stream.start(capture.get());
    ASSERT_TRUE(stream.status().running) << stream.status().error_text;
    playTone(120);
    ASSERT_TRUE(events.waitFor(StreamEventListener::EVENT_STOPPED, 1, 60s));
    stopper.join();
    EXPECT_EQ(refusal, "The stream stopped: The title was not sent: the stream is stopping.");
    ASSERT_TRUE(eventually([&] { return server.sourceBytes().size() == 1; }));
    const std::string sent = server.sourceBytes()[0];
    EXPECT_EQ(sent.compare(0, 2, "2\n"), 0) << sent;
    EXPECT_EQ(sent.find("After Stop"), std::string::npos) << "an encoder started after the stop: " << sent;
    EXPECT_EQ(consoleCount("could not be sent"), unsent);
}

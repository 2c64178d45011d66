#pragma once
// Scripted SHOUTcast servers on 127.0.0.1, written from the published
// descriptions of the two source protocols (not from our client), strict
// about every byte they are sent. Each serves any number of connections at
// once and records what arrived; errors() lists every breach of the
// protocol it saw, so a test that ends with it empty proves the client
// spoke the protocol.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_server.h"
#include "listener_documents.h"

// Waits (at most 10 s) until `ready` returns true; returns its last answer.
bool waitUntil(const std::function<bool()>& ready);

// SHOUTcast v1: sources on port() + 1 (password line, "OK2", icy-* header
// block, audio), admin.cgi on port() (titles by mode=updinfo, the
// statistics document by mode=viewxml).
struct Shoutcast1Options {
    std::string password = "sc1-pass";
    // Answers split into single bytes.
    bool bytewise = false;
    // When set, the answer to every password line, after which the server
    // closes.
    std::string password_answer;
    std::vector<ListenerEntry> listeners = sampleListeners();
};

class Shoutcast1Server {
public:
    explicit Shoutcast1Server(Shoutcast1Options options = Shoutcast1Options());
    ~Shoutcast1Server();

    int port() const;
    // Header block of the last source that logged in, blank line included.
    std::string sourceHead() const;
    // Audio of every source, in order of arrival.
    std::string audio() const;
    // Titles taken by updinfo, decoded from the query.
    std::vector<std::string> titles() const;
    // Admin requests, head by head.
    std::vector<std::string> requests() const;
    // Password lines, as sent.
    std::vector<std::string> passwordLines() const;
    std::vector<std::string> errors() const;

private:
    void source(FakeConnection& c);
    void admin(FakeConnection& c);
    void error(const std::string& what);

    Shoutcast1Options options_;
    mutable std::mutex lock_;
    std::string head_, audio_;
    std::vector<std::string> titles_, requests_, password_lines_, errors_;
    std::unique_ptr<LoopbackService> admin_service_, source_service_;
};

// SHOUTcast v2: framed packets and admin.cgi on one port. The login
// dialogue is checked in order (cipher key, authentication with the user
// and password deciphered by the server's own XTEA, stream set-up,
// standby) and answered as a server does, every message with a reply of
// its own type ("ACK:Data transfer mode" to the standby), replies carrying
// their terminating zero inside the payload; data and metadata are accepted only
// after it, metadata reassembled and parsed as XML.
struct Shoutcast2Options {
    std::string user = "dj";
    std::string password = "sc2-pass";
    int stream_id = 1;
    std::string key = "Kp7vQ2xB9zR4mT1w";
    std::string admin_user = "admin";
    std::string admin_password = "sc2-admin";
    bool bytewise = false;
    // When set, the message of this type is answered with `refusal`, after
    // which the server closes.
    int refuse_type = -1;
    std::string refusal;
    // The four directory messages get one reply (to the last) rather than
    // one each.
    bool one_directory_reply = false;
    // The server takes the standby and closes at once.
    bool close_after_standby = false;
    // When set, the whole reply to every admin request.
    std::string admin_reply;
    std::vector<ListenerEntry> listeners = sampleListeners();
    // While this holds true, a source that has gone to standby is not read.
    std::shared_ptr<std::atomic<bool>> hold;
};

class Shoutcast2Server {
public:
    struct Packet {
        int message_class;
        int type;
        std::string payload;
        // The whole packet as it came.
        std::string raw;
    };

    explicit Shoutcast2Server(Shoutcast2Options options = Shoutcast2Options());
    ~Shoutcast2Server();

    int port() const;
    // Every packet of every source connection, in order.
    std::vector<Packet> packets() const;
    // Payloads of the data packets.
    std::string audio() const;
    // TIT2 of each metadata document.
    std::vector<std::string> titles() const;
    // "user:password" as deciphered at the last authentication.
    std::string credentials() const;
    // Source connections that have ended, and the bytes they carried.
    int sourcesEnded() const;
    std::size_t sourceBytes() const;
    std::vector<std::string> requests() const;
    std::vector<std::string> errors() const;

private:
    void serve(FakeConnection& c);
    void source(FakeConnection& c);
    void admin(FakeConnection& c);
    void reply(FakeConnection& c, int message_class, int type, const std::string& text);
    void error(const std::string& what);

    Shoutcast2Options options_;
    mutable std::mutex lock_;
    std::vector<Packet> packets_;
    std::string audio_, credentials_;
    std::vector<std::string> titles_, requests_, errors_;
    int sources_ended_ = 0;
    std::size_t source_bytes_ = 0;
    std::unique_ptr<LoopbackService> service_;
};

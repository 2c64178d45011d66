#pragma once
// Scripted TCP servers on 127.0.0.1 for the replies a real server never
// gives. FakeServer hands each accepted connection, in order, to the next
// handler of its script, on the server's own thread; LoopbackService hands
// every connection to one handler on a thread of its own, for servers that
// serve several connections at once.
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeConnection {
public:
    // `stop` (may be null) ends every wait early when set.
    FakeConnection(Poco::Net::StreamSocket socket, const std::atomic<bool>* stop);

    // Reads up to and including the blank line that ends a request head
    // (or until the peer closes or 5 s pass); returns it.
    std::string readHead();
    // The same up to and including `marker`.
    std::string readUntil(const std::string& marker);
    // Whatever arrives next (empty when nothing came within 5 s).
    std::string readAvailable();
    // Reads exactly `length` bytes, or fewer when the peer closes or 5 s
    // pass.
    std::string readBytes(std::size_t length);
    // Sends the text; `bytewise` sends one byte per segment with a short
    // pause, so the peer sees the reply split into single bytes.
    void send(const std::string& text, bool bytewise = false);
    // Waits until the peer closes the connection (at most `limit`, or until
    // the server stops), reading and keeping whatever it sends.
    void waitForClose(Poco::Timespan limit = Poco::Timespan(30, 0));
    void close();

    // Everything received on this connection so far.
    const std::string& received() const { return received_; }
    // True once the peer has closed (or reset) the connection.
    bool closed() const { return closed_; }
    // True once the server that owns the connection stops.
    bool stopping() const { return stop_ && *stop_; }

private:
    // Waits until bytes (or the peer's close) can be read; false when the
    // peer closed, the server stops or 5 s pass.
    bool waitForBytes();
    // Takes up to `at_most` of the bytes waiting.
    bool receiveWaiting(std::size_t at_most);
    bool receiveSome(std::size_t at_most);
    // The bytes waiting, left in place.
    std::string peekWaiting();
    // The client has closed (or reset) its end; asked without waiting.
    bool peerClosed();

    Poco::Net::StreamSocket socket_;
    const std::atomic<bool>* stop_;
    std::string received_;
    bool closed_ = false;
};

class FakeServer {
public:
    using Handler = std::function<void(FakeConnection&)>;

    explicit FakeServer(std::vector<Handler> script);
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return port_; }
    // Waits (at most 30 s) until every handler has run; returns what each
    // connection received, in order.
    std::vector<std::string> finish();
    // Connections accepted so far.
    std::size_t accepted() const { return accepted_; }

private:
    void run();

    std::vector<Handler> script_;
    Poco::Net::ServerSocket listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> accepted_{0};
    std::mutex lock_;
    std::vector<std::string> received_;
    std::thread thread_;
};

class LoopbackService {
public:
    using Handler = std::function<void(FakeConnection&)>;

    // Listens on `port` (0: any free port). Handlers should return once
    // the connection is closed or stopping() turns true.
    explicit LoopbackService(Handler handler, int port = 0);
    // Stops accepting, ends the waits of every handler and joins them.
    ~LoopbackService();
    LoopbackService(const LoopbackService&) = delete;
    LoopbackService& operator=(const LoopbackService&) = delete;

    int port() const { return port_; }

    // Two services on neighbouring ports (port and port + 1), as a server
    // that takes its sources one port above its listeners.
    static std::pair<std::unique_ptr<LoopbackService>, std::unique_ptr<LoopbackService>> pair(Handler first,
                                                                                             Handler second);

private:
    void run();

    Handler handler_;
    Poco::Net::ServerSocket listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<Poco::Net::StreamSocket> sockets_;
    std::vector<std::thread> handlers_;
    std::thread thread_;
};

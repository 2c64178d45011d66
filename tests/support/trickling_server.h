#pragma once
// An Icecast2 server in miniature on 127.0.0.1 whose listener lists
// trickle in at a byte a second (the exchange would take minutes): it
// takes every source (PUT, 100 Continue) and keeps it until the client
// closes it, and answers title updates at once.
#include <atomic>
#include <chrono>
#include <functional>

#include "fake_server.h"

class TricklingServer {
public:
    // `trickling` (may be empty) is called on a thread of the server once
    // the first byte of the first listener list has gone out.
    explicit TricklingServer(std::function<void()> trickling = nullptr);

    int port() const { return service_.port(); }
    // A listener list has begun to trickle.
    bool trickling() const { return trickling_; }
    // When the client last closed a source connection; the clock's epoch
    // while it closed none.
    std::chrono::steady_clock::time_point sourceClosed() const;

private:
    void serve(FakeConnection& c);

    std::function<void()> on_trickling_;
    std::atomic<bool> trickling_{false};
    std::atomic<std::chrono::steady_clock::rep> source_closed_{0};
    // Last: its handlers use the members above until it has ended.
    LoopbackService service_;
};

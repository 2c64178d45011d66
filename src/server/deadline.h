#pragma once
// The time that one exchange with a server (a SOCKS5 greeting, a login, a
// title update, a listener request) may take as a whole, however slowly
// its replies trickle in.
#include <Poco/Timespan.h>

#include <atomic>
#include <chrono>

// An end that one thread may bring closer while deadlines on other threads
// watch it (the sends of a connection that is closing).
class Cutoff {
public:
    // Deadlines that watch it end at most `limit` from now (or earlier, if
    // it was brought closer before).
    void bringTo(Poco::Timespan limit);
    // Where deadlines that watch it end; far off while it was never brought
    // closer.
    std::chrono::steady_clock::time_point end() const;
    // Far off again (for a new start of what it bounds).
    void reset();

private:
    std::atomic<std::chrono::steady_clock::rep> end_{std::chrono::steady_clock::duration::max().count()};
};

class Deadline {
public:
    // Ends `limit` from now; by default after the exchange limit.
    Deadline();
    explicit Deadline(Poco::Timespan limit);
    // The same, but over at once when `cancel` turns true (it must outlive
    // the deadline); waits bounded by the deadline notice it within a
    // moment.
    Deadline(Poco::Timespan limit, const std::atomic<bool>* cancel);
    // The same, but ending at the cut-off when that comes first (it must
    // outlive the deadline; waits notice it within a moment).
    Deadline(Poco::Timespan limit, const Cutoff* cutoff);

    // Time left; zero once the deadline has passed or was cancelled.
    Poco::Timespan left() const;
    bool cancelled() const { return cancel_ != nullptr && cancel_->load(); }

    // The limit of every exchange: 30 s unless set otherwise.
    static Poco::Timespan exchangeLimit();
    static void setExchangeLimit(Poco::Timespan limit);

private:
    std::chrono::steady_clock::time_point end_;
    const std::atomic<bool>* cancel_ = nullptr;
    const Cutoff* cutoff_ = nullptr;
};

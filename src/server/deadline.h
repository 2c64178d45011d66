#pragma once
// The time that one exchange with a server (a SOCKS5 greeting, a login, a
// title update, a listener request) may take as a whole, however slowly
// its replies trickle in.
#include <Poco/Timespan.h>

#include <atomic>
#include <chrono>

class Deadline {
public:
    // Ends `limit` from now; by default after the exchange limit.
    Deadline();
    explicit Deadline(Poco::Timespan limit);
    // The same, but over at once when `cancel` turns true (it must outlive
    // the deadline); waits bounded by the deadline notice it within a
    // moment.
    Deadline(Poco::Timespan limit, const std::atomic<bool>* cancel);

    // Time left; zero once the deadline has passed or was cancelled.
    Poco::Timespan left() const;
    bool cancelled() const { return cancel_ != nullptr && cancel_->load(); }

    // The limit of every exchange: 30 s unless set otherwise.
    static Poco::Timespan exchangeLimit();
    static void setExchangeLimit(Poco::Timespan limit);

private:
    std::chrono::steady_clock::time_point end_;
    const std::atomic<bool>* cancel_ = nullptr;
};

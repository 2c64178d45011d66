#pragma once
// The time that one exchange with a server (a SOCKS5 greeting, a login, a
// title update, a listener request) may take as a whole, however slowly
// its replies trickle in.
#include <Poco/Timespan.h>

#include <chrono>

class Deadline {
public:
    // Ends `limit` from now; by default after the exchange limit.
    Deadline();
    explicit Deadline(Poco::Timespan limit);

    // Time left; zero once the deadline has passed.
    Poco::Timespan left() const;

    // The limit of every exchange: 30 s unless set otherwise.
    static Poco::Timespan exchangeLimit();
    static void setExchangeLimit(Poco::Timespan limit);

private:
    std::chrono::steady_clock::time_point end_;
};

#include "deadline.h"

#include <atomic>

namespace {
std::atomic<Poco::Timespan::TimeDiff> exchange_limit{Poco::Timespan(30, 0).totalMicroseconds()};
}

Deadline::Deadline() : Deadline(exchangeLimit()) {}

Deadline::Deadline(Poco::Timespan limit)
    : end_(std::chrono::steady_clock::now() + std::chrono::microseconds(limit.totalMicroseconds()))
{
}

Deadline::Deadline(Poco::Timespan limit, const std::atomic<bool>* cancel) : Deadline(limit)
{
    cancel_ = cancel;
}

Poco::Timespan Deadline::left() const
{
    if (cancelled())
        return Poco::Timespan(0);
    auto rest = std::chrono::duration_cast<std::chrono::microseconds>(end_ - std::chrono::steady_clock::now());
    return rest.count() > 0 ? Poco::Timespan(rest.count()) : Poco::Timespan(0);
}

Poco::Timespan Deadline::exchangeLimit()
{
    return Poco::Timespan(exchange_limit.load());
}

void Deadline::setExchangeLimit(Poco::Timespan limit)
{
    exchange_limit = limit.totalMicroseconds();
}

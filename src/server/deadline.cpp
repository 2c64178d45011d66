#include "deadline.h"

#include <algorithm>
#include <atomic>

namespace {
std::atomic<Poco::Timespan::TimeDiff> exchange_limit{Poco::Timespan(30, 0).totalMicroseconds()};
}

void Cutoff::bringTo(Poco::Timespan limit)
{
    const auto end = (std::chrono::steady_clock::now() + std::chrono::microseconds(limit.totalMicroseconds()))
                         .time_since_epoch()
                         .count();
    auto current = end_.load();
    while (end < current && !end_.compare_exchange_weak(current, end)) {
    }
}

std::chrono::steady_clock::time_point Cutoff::end() const
{
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(end_.load()));
}

void Cutoff::reset()
{
    end_ = std::chrono::steady_clock::duration::max().count();
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

Deadline::Deadline(Poco::Timespan limit, const Cutoff* cutoff) : Deadline(limit)
{
    cutoff_ = cutoff;
}

Poco::Timespan Deadline::left() const
{
    if (cancelled())
        return Poco::Timespan(0);
    const auto end = cutoff_ != nullptr ? std::min(end_, cutoff_->end()) : end_;
    auto rest = std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
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

#include "fake_server.h"

#include <Poco/Exception.h>
#include <Poco/Net/SocketAddress.h>

#include <chrono>

#include "server/ss_proxy.h"

namespace {
const Poco::Timespan kReadLimit(5, 0);
}

FakeConnection::FakeConnection(Poco::Net::StreamSocket socket, const std::atomic<bool>* stop)
    : socket_(socket), stop_(stop)
{
    socket_.setReceiveTimeout(kReadLimit);
}

bool FakeConnection::receiveSome(std::size_t at_most)
{
    char buffer[4096];
    int n = 0;
    try {
        n = socket_.receiveBytes(buffer, static_cast<int>(std::min(sizeof buffer, at_most)));
    } catch (Poco::Exception&) {
        return false;
    }
    if (n <= 0)
        return false;
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::string FakeConnection::readHead()
{
    std::size_t start = received_.size();
    while (received_.find("\r\n\r\n", start) == std::string::npos)
        if (!receiveSome(1))
            break;
    return received_.substr(start);
}

std::string FakeConnection::readBytes(std::size_t length)
{
    std::size_t start = received_.size();
    while (received_.size() - start < length)
        if (!receiveSome(length - (received_.size() - start)))
            break;
    return received_.substr(start);
}

void FakeConnection::send(const std::string& text, bool bytewise)
{
    if (!bytewise) {
        socket_.sendBytes(text.data(), static_cast<int>(text.size()));
        return;
    }
    socket_.setNoDelay(true);
    for (char c : text) {
        socket_.sendBytes(&c, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void FakeConnection::waitForClose(Poco::Timespan limit)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(limit.totalMicroseconds());
    while (std::chrono::steady_clock::now() < deadline && !(stop_ && *stop_)) {
        try {
            if (!socket_.poll(Poco::Timespan(0, 100000), Poco::Net::Socket::SELECT_READ))
                continue;
        } catch (Poco::Exception&) {
            return;
        }
        if (!receiveSome(4096))
            return;
    }
}

void FakeConnection::close()
{
    try {
        socket_.shutdown();
    } catch (Poco::Exception&) {
    }
    socket_.close();
}

FakeServer::FakeServer(std::vector<Handler> script) : script_(std::move(script))
{
    SSProxy::initializeNetwork();
    listener_.bind(Poco::Net::SocketAddress("127.0.0.1", 0));
    listener_.listen();
    port_ = listener_.address().port();
    thread_ = std::thread([this] { run(); });
}

FakeServer::~FakeServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    listener_.close();
}

void FakeServer::run()
{
    for (Handler& handler : script_) {
        Poco::Net::StreamSocket socket;
        for (;;) {
            if (stop_)
                return;
            try {
                if (listener_.poll(Poco::Timespan(0, 100000), Poco::Net::Socket::SELECT_READ)) {
                    socket = listener_.acceptConnection();
                    break;
                }
            } catch (Poco::Exception&) {
                return;
            }
        }
        ++accepted_;
        FakeConnection connection(socket, &stop_);
        try {
            handler(connection);
        } catch (Poco::Exception&) {
            // The client went away: what it sent is still recorded.
        }
        std::lock_guard<std::mutex> guard(lock_);
        received_.push_back(connection.received());
    }
}

std::vector<std::string> FakeServer::finish()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (received_.size() == script_.size() || std::chrono::steady_clock::now() > deadline)
                return received_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

#include "fake_server.h"

#include <Poco/Exception.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/SocketDefs.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "server/ss_proxy.h"

namespace {
const Poco::Timespan kReadLimit(5, 0);

// Takes a connection that waits on the (non-blocking) listener, waiting
// for one at most `wait`; false when none came. Wine's poll can miss a
// connection that came before it began, for as long as no other one
// comes: the accept is tried whatever the poll says.
bool acceptWaiting(Poco::Net::ServerSocket& listener, Poco::Timespan wait, Poco::Net::StreamSocket& socket)
{
    listener.poll(wait, Poco::Net::Socket::SELECT_READ);
    try {
        socket = listener.acceptConnection();
    } catch (Poco::IOException& e) {
        if (e.code() == POCO_EWOULDBLOCK || e.code() == POCO_EAGAIN)
            return false;
        throw;
    }
    // (A Windows socket takes the listener's mode.)
    socket.setBlocking(true);
    return true;
}

void listenWithoutBlocking(Poco::Net::ServerSocket& listener)
{
    listener.listen();
    listener.setBlocking(false);
}
} // namespace

FakeConnection::FakeConnection(Poco::Net::StreamSocket socket, const std::atomic<bool>* stop)
    : socket_(socket), stop_(stop)
{
    socket_.setReceiveTimeout(kReadLimit);
}

bool FakeConnection::waitForBytes()
{
    // Waits in short steps, so that a stopping server ends the wait.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(kReadLimit.totalMicroseconds());
    for (;;) {
        if (closed_ || stopping() || std::chrono::steady_clock::now() > deadline)
            return false;
        try {
            // Bytes already waiting are taken without a poll: Wine's poll
            // can miss bytes that came before it began and then waits out
            // its whole time.
            if (socket_.available() > 0 || socket_.poll(Poco::Timespan(0, 50000), Poco::Net::Socket::SELECT_READ))
                return true;
            // The poll can miss the client's close as well.
            if (peerClosed()) {
                closed_ = true;
                return false;
            }
        } catch (Poco::Exception&) {
            closed_ = true;
            return false;
        }
    }
}

bool FakeConnection::receiveWaiting(std::size_t at_most)
{
    char buffer[4096];
    int n = 0;
    try {
        n = socket_.receiveBytes(buffer, static_cast<int>(std::min(sizeof buffer, at_most)));
    } catch (Poco::TimeoutException&) {
        return false;
    } catch (Poco::Exception&) {
        closed_ = true;
        return false;
    }
    if (n <= 0) {
        closed_ = true;
        return false;
    }
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool FakeConnection::receiveSome(std::size_t at_most)
{
    return waitForBytes() && receiveWaiting(at_most);
}

std::string FakeConnection::peekWaiting()
{
    char buffer[4096];
    const int n = static_cast<int>(::recv(socket_.impl()->sockfd(), buffer, sizeof buffer, MSG_PEEK));
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool FakeConnection::peerClosed()
{
    // A peek that does not wait: no byte is taken, and Poco's receive,
    // which may poll first, is not used.
    char byte;
    socket_.setBlocking(false);
    const int n = static_cast<int>(::recv(socket_.impl()->sockfd(), &byte, 1, MSG_PEEK));
#if defined(_WIN32)
    const bool waiting = n < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK;
#else
    const bool waiting = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
#endif
    socket_.setBlocking(true);
    return n == 0 || (n < 0 && !waiting);
}

std::string FakeConnection::readHead()
{
    return readUntil("\r\n\r\n");
}

std::string FakeConnection::readUntil(const std::string& marker)
{
    const std::size_t start = received_.size();
    // What is waiting is looked at first and taken up to the end of the
    // marker, leaving what follows it to the next read. (Taken byte by
    // byte, a head would cost a round of system calls per byte, which
    // Wine on a loaded machine pays in milliseconds each.)
    while (received_.find(marker, start) == std::string::npos) {
        if (!waitForBytes())
            break;
        // The marker may begin in what was taken before.
        const std::string waiting = peekWaiting();
        const std::size_t taken = received_.size() - start;
        const std::size_t at = (received_.substr(start) + waiting).find(marker);
        const std::size_t take = at == std::string::npos ? waiting.size() : at + marker.size() - taken;
        // Nothing to peek means the peer closed: the read tells.
        if (!receiveWaiting(std::max<std::size_t>(take, 1)))
            break;
    }
    return received_.substr(start);
}

std::string FakeConnection::readAvailable()
{
    std::size_t start = received_.size();
    receiveSome(4096);
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
    while (std::chrono::steady_clock::now() < deadline && !stopping() && !closed_)
        receiveSome(4096);
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
    listenWithoutBlocking(listener_);
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
                if (acceptWaiting(listener_, Poco::Timespan(0, 100000), socket))
                    break;
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

LoopbackService::LoopbackService(Handler handler, int port) : handler_(std::move(handler))
{
    SSProxy::initializeNetwork();
    listener_.bind(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)), false);
    listenWithoutBlocking(listener_);
    port_ = listener_.address().port();
    thread_ = std::thread([this] { run(); });
}

LoopbackService::~LoopbackService()
{
    stop_ = true;
    thread_.join();
    for (auto& handler : handlers_)
        handler.join();
    // Released only now, after every handler has ended with its copy.
    sockets_.clear();
    listener_.close();
}

void LoopbackService::run()
{
    while (!stop_) {
        try {
            Poco::Net::StreamSocket socket;
            if (!acceptWaiting(listener_, Poco::Timespan(0, 50000), socket))
                continue;
            sockets_.push_back(socket);
            handlers_.emplace_back([this, socket = sockets_.back()] {
                FakeConnection connection(socket, &stop_);
                try {
                    handler_(connection);
                } catch (Poco::Exception&) {
                    // The client went away.
                }
                connection.close();
            });
        } catch (Poco::Exception&) {
            return;
        }
    }
}

std::pair<std::unique_ptr<LoopbackService>, std::unique_ptr<LoopbackService>> LoopbackService::pair(Handler first,
                                                                                                   Handler second)
{
    for (int attempt = 0;; ++attempt) {
        std::unique_ptr<LoopbackService> low(new LoopbackService(first));
        if (low->port() < 65535) {
            try {
                std::unique_ptr<LoopbackService> high(new LoopbackService(second, low->port() + 1));
                return {std::move(low), std::move(high)};
            } catch (Poco::Exception&) {
                if (attempt == 100)
                    throw;
            }
        }
    }
}

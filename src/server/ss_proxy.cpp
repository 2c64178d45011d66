#include "ss_proxy.h"

#include <Poco/Exception.h>
#include <Poco/Net/Net.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketDefs.h>
#include <Poco/Net/StreamSocketImpl.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <mutex>
#include <vector>

#include "console.h"

const Poco::Timespan SSProxy::timeout(10, 0);

namespace {
std::atomic<Poco::Timespan::TimeDiff> send_limit{SSProxy::timeout.totalMicroseconds()};

// Longest single wait for the socket: a deadline that is cancelled from
// another thread is noticed within this time.
const Poco::Timespan slice(0, 200000);

// A stream socket that no program started from this process inherits:
// a child holding a copy would keep the connection open after we closed
// it.
poco_socket_t privateSocket(int family)
{
#if defined(_WIN32)
    SOCKET fd = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (fd == INVALID_SOCKET)
        throw Poco::Net::NetException("Cannot create a socket", WSAGetLastError());
    SetHandleInformation(reinterpret_cast<HANDLE>(fd), HANDLE_FLAG_INHERIT, 0);
#else
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw Poco::Net::NetException("Cannot create a socket", errno);
#endif
    return fd;
}
}

Poco::Timespan SSProxy::sendLimit()
{
    return Poco::Timespan(send_limit.load());
}

void SSProxy::setSendLimit(Poco::Timespan limit)
{
    send_limit = limit.totalMicroseconds();
}

SSProxy::~SSProxy() = default;

void SSProxy::initializeNetwork()
{
    static std::once_flag once;
    std::call_once(once, [] { Poco::Net::initializeNetwork(); });
}

void SSProxy::open(const Poco::Net::SocketAddress& address)
{
    initializeNetwork();
    // A new socket for every connection (the library's own would be
    // inherited by child processes).
    StreamSocket::operator=(StreamSocket(new Poco::Net::StreamSocketImpl(privateSocket(address.af()))));
    StreamSocket::connect(address, timeout);
    setSendTimeout(timeout);
    setReceiveTimeout(timeout);
}

void SSProxy::connect(const Poco::Net::SocketAddress& proxy, const std::string& host, std::uint16_t port)
{
    if (host.empty() || host.size() > 255)
        throw Poco::ApplicationException("The server's host name must have 1 to 255 characters to pass the proxy.");
    open(proxy);
    Deadline deadline;
    if (!greet(deadline))
        throw Poco::ApplicationException("Socks5 Authorization was refused.");
    console_print("velmora: Socks5 Authorization passed.");
    if (!requestConnect(host, port, deadline))
        throw Poco::ApplicationException("Connection to proxy was not established.");
    console_print("velmora: Connection to proxy was established.");
}

bool SSProxy::greet(const Deadline& deadline)
{
    // Version 5, one method: no authentication.
    const unsigned char hello[] = {0x05, 0x01, 0x00};
    if (sendBytes(hello, sizeof hello) <= 0)
        return false;
    // Version 5 and the method chosen.
    unsigned char reply[2];
    return receiveFully(reply, sizeof reply, deadline) == sizeof reply && reply[0] == 0x05 && reply[1] == 0x00;
}

bool SSProxy::requestConnect(const std::string& host, std::uint16_t port, const Deadline& deadline)
{
    if (host.empty() || host.size() > 255)
        return false;
    std::vector<unsigned char> request = {0x05, 0x01, 0x00, 0x03, static_cast<unsigned char>(host.size())};
    request.insert(request.end(), host.begin(), host.end());
    request.push_back(static_cast<unsigned char>(port >> 8));
    request.push_back(static_cast<unsigned char>(port & 0xFF));
    if (sendBytes(request.data(), static_cast<int>(request.size())) != static_cast<int>(request.size()))
        return false;

    // Version, reply code, reserved, address type; then the bound address,
    // which is read whole so that what follows is the server's.
    unsigned char head[4];
    if (receiveFully(head, sizeof head, deadline) != sizeof head || head[0] != 0x05 || head[1] != 0x00)
        return false;
    std::size_t address_length;
    switch (head[3]) {
    case 0x01: address_length = 4; break;
    case 0x04: address_length = 16; break;
    case 0x03: {
        unsigned char length;
        if (receiveFully(&length, 1, deadline) != 1)
            return false;
        address_length = length;
        break;
    }
    default: return false;
    }
    unsigned char bound[255 + 2];
    return receiveFully(bound, address_length + 2, deadline) == address_length + 2;
}

void SSProxy::closeQuietly()
{
    try {
        if (poll(Poco::Timespan(100000), SELECT_READ | SELECT_WRITE)) {
            // Input left unread would make the close a reset, which can cost
            // the server the last bytes sent: take what has come.
            char sink[4096];
            for (int i = 0; i < 64 && poll(Poco::Timespan(0), SELECT_READ); ++i)
                if (receiveBytes(sink, sizeof sink) <= 0)
                    break;
            shutdown();
        }
    } catch (...) {
        // Never connected, refused or already closed: nothing to shut down.
    }
    try {
        close();
    } catch (...) {
    }
}

int SSProxy::receiveBefore(void* buffer, int length, const Deadline& deadline)
{
    const Deadline limit(std::min(timeout, deadline.left()));
    for (;;) {
        // Bytes already waiting are taken without a poll: Wine's poll may
        // miss bytes that came before it began, and would then wait out
        // the whole deadline on a reply that is there.
        if (available() > 0)
            break;
        Poco::Timespan wait = std::min(std::min(limit.left(), deadline.left()), slice);
        if (wait <= 0)
            return -1;
        if (poll(wait, SELECT_READ))
            break;
    }
    int n = receiveBytes(buffer, length);
    return n > 0 ? n : 0;
}

std::size_t SSProxy::sendBefore(const void* buffer, std::size_t length, const Deadline& deadline)
{
    // A blocking send waits up to the send time-out on every call, and a
    // peer that takes a trickle restarts that wait each time: without
    // blocking, each wait is bounded by what is left of the deadline.
    if (impl()->sockfd() == POCO_INVALID_SOCKET)
        throw Poco::Net::InvalidSocketException();
#if defined(_WIN32)
    // Where the system's time-outs are emulated (Wine), a send into full
    // buffers waits out the whole send time-out even without blocking:
    // every send is polled for first, and the socket blocks again after.
    setBlocking(false);
    struct Restore {
        SSProxy& socket;
        ~Restore()
        {
            try {
                socket.setBlocking(true);
            } catch (...) {
                // Closed meanwhile: nothing to restore.
            }
        }
    } restore{*this};
    const bool poll_first = true;
#else
    // The socket stays non-blocking from its first batch on (what else
    // uses it then waits for readiness first), and a batch the peer takes
    // at once costs one send.
    if (getBlocking())
        setBlocking(false);
    const bool poll_first = false;
#endif
    const char* bytes = static_cast<const char*>(buffer);
    std::size_t sent = 0;
    for (bool first = true; sent < length; first = false) {
        if (poll_first || !first) {
            // Waited for only when the peer has taken less than all (on
            // Windows, before every send), in slices, so that a cancelled
            // deadline ends the wait. A deadline that is over still lets
            // the first send go if the socket takes it at once, as on
            // Linux.
            Poco::Timespan wait = std::min(deadline.left(), slice);
            if (wait <= 0 && !first)
                break;
            if (!poll(wait, SELECT_WRITE)) {
                if (wait <= 0)
                    break;
                continue;
            }
        }
        try {
            int n = sendBytes(bytes + sent, static_cast<int>(std::min<std::size_t>(length - sent, 1 << 30)));
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        } catch (Poco::TimeoutException&) {
        } catch (Poco::IOException& e) {
            if (e.code() != POCO_EWOULDBLOCK && e.code() != POCO_EAGAIN)
                throw;
        }
    }
    return sent;
}

std::size_t SSProxy::receiveFully(void* buffer, std::size_t length, const Deadline& deadline, bool* timed_out)
{
    std::size_t received = 0;
    int n = 0;
    while (received < length) {
        n = receiveBefore(static_cast<char*>(buffer) + received, static_cast<int>(length - received), deadline);
        if (n <= 0)
            break;
        received += static_cast<std::size_t>(n);
    }
    if (timed_out)
        *timed_out = n < 0;
    return received;
}

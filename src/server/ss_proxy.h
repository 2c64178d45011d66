#pragma once
// The socket of every server connection: a stream socket that reaches its
// server either directly or through a SOCKS5 proxy (no authentication,
// CONNECT by host name, so that the proxy resolves the name).
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>

#include <cstdint>
#include <string>

#include "deadline.h"

class SSProxy : public Poco::Net::StreamSocket {
public:
    // Connect, send and receive time-out of every server connection.
    static const Poco::Timespan timeout;

    // The time one batch of audio may take to leave as a whole: the send
    // time-out, unless set otherwise (tests shorten it).
    static Poco::Timespan sendLimit();
    static void setSendLimit(Poco::Timespan limit);

    // Readies the platform's sockets (once per process; Windows needs it).
    static void initializeNetwork();

    SSProxy() = default;
    virtual ~SSProxy();

    using Poco::Net::StreamSocket::connect;

    // Connects to `address` within the time-out and sets the send and
    // receive time-outs.
    void open(const Poco::Net::SocketAddress& address);

    // Connects to the proxy at `proxy` and has it open the way to host and
    // port, the whole greeting within one exchange deadline. Throws
    // Poco::ApplicationException when the proxy refuses or falls silent.
    void connect(const Poco::Net::SocketAddress& proxy, const std::string& host, std::uint16_t port);

    // The two steps of connect: true when the proxy agrees in time.
    bool greet(const Deadline& deadline = Deadline());
    bool requestConnect(const std::string& host, std::uint16_t port, const Deadline& deadline = Deadline());

    // Shuts down and closes the socket; never throws, whatever its state.
    void closeQuietly();

    // Receives at most `length` bytes as soon as some arrive. Returns their
    // number; 0 when the peer has closed; -1 when nothing came within the
    // time-out or before the deadline.
    int receiveBefore(void* buffer, int length, const Deadline& deadline);

    // Sends as much of `length` bytes as the peer takes before the
    // deadline, never waiting past it (one that is over still lets what the
    // socket takes at once go); returns the bytes taken, fewer than
    // `length` only when the time ran out. Throws the socket's exceptions
    // when the connection fails.
    std::size_t sendBefore(const void* buffer, std::size_t length, const Deadline& deadline);

    // Receives exactly `length` bytes unless the peer closes or the time
    // runs out first; returns the bytes received. `timed_out` (when given)
    // tells whether the time ran out.
    std::size_t receiveFully(void* buffer, std::size_t length, const Deadline& deadline = Deadline(),
                             bool* timed_out = nullptr);
};

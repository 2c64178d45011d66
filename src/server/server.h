#pragma once
// A stream's connection to its server. One subclass per source protocol;
// Server::create picks it by the record's server type. Failures are thrown:
// Poco::ApplicationException for protocol errors and refused settings, the
// Poco::Net exceptions for socket errors, std::runtime_error for character
// set errors.
#include <Poco/Exception.h>
#include <Poco/FIFOBuffer.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "deadline.h"
#include "plugin/settings.h"

class SSProxy;

// The server stopped taking the stream: what sendData was handed did not
// leave within the send time-out. The socket had taken `sent` bytes of it
// (they count as sent) and is closed, so nothing follows the cut.
class ServerStalled : public Poco::ApplicationException {
public:
    explicit ServerStalled(int sent);
    int sent() const { return sent_; }
    Poco::Exception* clone() const override;
    void rethrow() const override;

private:
    int sent_;
};

class Server {
public:
    // Type 0 makes an Icecast2 connection, 1 a SHOUTcast v1 and 2 a
    // SHOUTcast v2 connection; an unknown type gives an empty pointer. The
    // record must outlive the connection; it is read at each request.
    static std::unique_ptr<Server> create(const ServerSettings& settings);

    virtual ~Server();
    // Opens the connection that carries the audio.
    virtual void connect() = 0;
    // Closes it; never throws.
    virtual void disconnect() = 0;
    // The protocol's handshake on the open connection.
    virtual void login(const EncoderSettings& encoder) = 0;
    // Sends every byte the FIFO holds; returns the bytes written.
    virtual int sendData(Poco::FIFOBuffer& fifo) = 0;
    // Sends a new stream title (UTF-8).
    virtual void updateMetadata(const std::string& title) = 0;
    // The server's listener list as XML text, from "<?xml" on.
    virtual std::string listClients(const std::string& admin_user, const std::string& admin_password) = 0;

    // Ends the exchanges in progress on any thread (logins, titles,
    // listener requests) within a moment, and every later one at once:
    // for a connection that is being given up. The audio's own sends are
    // not touched.
    void cancel() { cancelled_ = true; }
    // Gives the audio's sends, the one in progress and every later one, at
    // most `grace` from now (any thread): for a connection that is closing,
    // whose last bytes a server that stopped reading must not hold up.
    void limitSends(Poco::Timespan grace) { send_cutoff_.bringTo(grace); }
    // The deadline of a batch of audio that starts now: the send limit, cut
    // short by limitSends.
    Deadline sendDeadline() const;

    // Longest request text sent (servers refuse longer header blocks).
    static constexpr std::size_t max_request_size = 4096;
    // Longest status line and header block read from a reply.
    static constexpr std::size_t max_reply_head = 16384;
    // Longest reply body read for an error message or a title update.
    static constexpr std::size_t max_reply_body = 65536;
    // Longest listener list accepted (a large server's list of some ten
    // thousand listeners).
    static constexpr std::size_t max_listener_reply = 16 * 1024 * 1024;
    // Characters of a server's reply kept in an error message.
    static constexpr std::size_t max_error_text = 500;

    // The content type announced for an encoded format; throws
    // "Undefined format" for an unknown one.
    static std::string contentType(int format);
    // HTTP Basic credentials: Base64 of "user:password" ("source" when the
    // user is empty), on one line. A user name with ':' is refused.
    static std::string basicCredentials(const std::string& user, const std::string& password);
    // True when `status` (for example "200 OK") stands where a status line
    // puts its code.
    static bool statusIs(const std::string& reply, const char* status);
    // The reply's body (after the blank line); the status line when there
    // is no body.
    static std::string replyBody(const std::string& reply);
    // A server's words fit for a message: well-formed UTF-8 whose control
    // characters but tabs and line breaks became blanks, cut after
    // max_error_text characters.
    static std::string readableText(const std::string& text);
    // A refusal read from a reply, fit for a message: for an HTTP reply its
    // status and the words of its body, markup removed and blanks run
    // together ("401 Authentication Required: You need to authenticate");
    // any other text as it came, without its line end; then readableText.
    static std::string refusalText(const std::string& reply);
    // True when a server's page says that an update succeeded: it holds
    // "successful" (in any case), not as part of "unsuccessful".
    static bool saysSuccessful(const std::string& text);
    // Well-formed UTF-8 of a text: every invalid byte becomes U+FFFD, the
    // non-characters U+FFFE and U+FFFF too, and every control character a
    // blank (but tabs and line breaks where `keep_layout` is set).
    static std::string wellFormedUtf8(const std::string& text, bool keep_layout);

protected:
    explicit Server(const ServerSettings* settings);

    // The deadline of one exchange, over early when the connection is
    // cancelled.
    Deadline exchangeDeadline() const;
    Deadline exchangeDeadline(Poco::Timespan limit) const;

    // Connects `socket` to the server's host and `port`, directly or through
    // the record's SOCKS5 proxy.
    void connectSocket(SSProxy& socket, int port) const;

    // Base64 of "user:password" on one line; refuses a user name with ':'
    // and line breaks or NUL in either.
    static std::string base64Credentials(const std::string& user, const std::string& password);

    // Refuse values that would break a request: CR, LF or NUL (and, for the
    // mount point, blanks).
    static void checkField(const char* what, const std::string& value);
    static void checkMountPoint(const std::string& mount_point);

    // Refuses a request text longer than max_request_size.
    static void checkRequestSize(const std::string& request);
    // Sends a request text whole, once its size is checked.
    static void sendRequest(SSProxy& socket, const std::string& request);
    // Reads onto `reply` (which may hold the start already) up to the blank
    // line that ends an HTTP reply's head, before the deadline. Leaves it
    // empty when the server closed without a word (and, where
    // `silence_answers` is set, when the time ran out before a byte came);
    // keeps a text that is not HTTP as the server closed it. Throws when the
    // reply was cut off, timed out or is too long.
    static void receiveHead(SSProxy& socket, std::string& reply, const Deadline& deadline,
                            bool silence_answers = false);
    // Reads the body after a complete head: Content-Length bytes, or up to
    // the end of the connection, at most `limit` bytes; what came beyond the
    // body is dropped. Throws when the body was cut off or is too long.
    static void receiveBody(SSProxy& socket, std::string& reply, std::size_t limit, const Deadline& deadline);
    // Reads up to the end of the first line (LF), at most max_reply_head
    // bytes; the text as the server closed it otherwise. Throws when the
    // time ran out.
    static std::string receiveLine(SSProxy& socket, const Deadline& deadline);
    // Sends `request` on a connection of its own to the record's port and
    // returns the whole reply (empty when the server answered nothing),
    // its body at most `limit` bytes, all within one exchange deadline.
    std::string sideRequest(const std::string& request, std::size_t limit) const;
    // Moves the FIFO's bytes through `buffer` to the socket, all before the
    // send deadline; throws ServerStalled when they do not leave in time.
    int sendFifo(SSProxy& socket, Poco::FIFOBuffer& fifo, std::vector<char>& buffer) const;

    // The exception for a reply that ended before it was whole.
    static Poco::ApplicationException cutOff(const std::string& partial);
    // The exception for a reply that did not come, or not whole, in time.
    static Poco::ApplicationException timedOut(const std::string& partial);

    const ServerSettings* settings;

private:
    std::atomic<bool> cancelled_{false};
    Cutoff send_cutoff_;
};

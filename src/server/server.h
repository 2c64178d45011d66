#pragma once
// A stream's connection to its server. One subclass per source protocol;
// Server::create picks it by the record's server type. Failures are thrown:
// Poco::ApplicationException for protocol errors and refused settings, the
// Poco::Net exceptions for socket errors, std::runtime_error for character
// set errors.
#include <Poco/FIFOBuffer.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugin/settings.h"

class SSProxy;

class Server {
public:
    // Type 0 makes an Icecast2 connection; an unknown type gives an empty
    // pointer. The record must outlive the connection; it is read at each
    // request.
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

    // Longest request text sent (servers refuse longer header blocks).
    static constexpr std::size_t max_request_size = 4096;
    // Longest status line and header block read from a reply.
    static constexpr std::size_t max_reply_head = 16384;
    // Longest reply body read for an error message or a title update.
    static constexpr std::size_t max_reply_body = 65536;
    // Longest listener list accepted.
    static constexpr std::size_t max_listener_reply = 1024 * 1024;

    // The content type announced for an encoded format; throws
    // "Undefined format" for an unknown one.
    static std::string contentType(int format);
    // HTTP Basic credentials: Base64 of "user:password" ("source" when the
    // user is empty), on one line.
    static std::string basicCredentials(const std::string& user, const std::string& password);
    // True when `status` (for example "200 OK") stands where a status line
    // puts its code.
    static bool statusIs(const std::string& reply, const char* status);
    // The reply's body (after the blank line); the status line when there
    // is no body.
    static std::string replyBody(const std::string& reply);

protected:
    explicit Server(const ServerSettings* settings);

    // Connects `socket` to the server's host and `port`, directly or through
    // the record's SOCKS5 proxy.
    void connectSocket(SSProxy& socket, int port) const;

    // Refuse values that would break a request: CR, LF or NUL (and, for the
    // mount point, blanks).
    static void checkField(const char* what, const std::string& value);
    static void checkMountPoint(const std::string& mount_point);

    // Sends a request text whole; refuses one longer than max_request_size.
    static void sendRequest(SSProxy& socket, const std::string& request);
    // Reads a reply up to its blank line (at most max_reply_head bytes). A
    // server that sends nothing within the time-out gives an empty text.
    static std::string receiveHead(SSProxy& socket);
    // Reads the rest of a reply after its head: Content-Length bytes, or
    // up to the end of the connection; at most `limit` bytes of body.
    static void receiveBody(SSProxy& socket, std::string& reply, std::size_t limit);
    // Moves the FIFO's bytes through `buffer` to the socket.
    static int sendFifo(SSProxy& socket, Poco::FIFOBuffer& fifo, std::vector<char>& buffer);

    const ServerSettings* settings;
};

#include "server.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Exception.h>
#include <Poco/Format.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/SocketAddress.h>

#include <algorithm>
#include <sstream>

#include "server_icecast2.h"
#include "ss_proxy.h"

namespace {

std::uint16_t checkedPort(int port, const char* what)
{
    if (port < 1 || port > 65535)
        throw Poco::ApplicationException(Poco::format("%s port %d is out of range (1-65535)", std::string(what), port));
    return static_cast<std::uint16_t>(port);
}

// Content-Length of a reply head (status line to blank line), or -1.
long contentLength(const std::string& head)
{
    try {
        std::istringstream in(head);
        Poco::Net::HTTPResponse response;
        response.read(in);
        return response.hasContentLength() ? static_cast<long>(response.getContentLength64()) : -1;
    } catch (Poco::Exception&) {
        return -1;  // not HTTP: read up to the end
    }
}

}  // namespace

std::unique_ptr<Server> Server::create(const ServerSettings& settings)
{
    switch (settings.type) {
    case SERVER_ICECAST2:
        return std::unique_ptr<Server>(new ServerIcecast2(&settings));
    case SERVER_SHOUTCAST1:
        throw Poco::ApplicationException("SHOUTcast v1 connections are not available yet.");
    case SERVER_SHOUTCAST2:
        throw Poco::ApplicationException("SHOUTcast v2 connections are not available yet.");
    default:
        return nullptr;
    }
}

Server::Server(const ServerSettings* settings) : settings(settings)
{
    SSProxy::initializeNetwork();
}

Server::~Server() = default;

void Server::connectSocket(SSProxy& socket, int port) const
{
    std::uint16_t server_port = checkedPort(port, "Server");
    if (settings->use_proxy == 0) {
        socket.open(Poco::Net::SocketAddress(settings->host, server_port));
    } else {
        std::uint16_t proxy_port = checkedPort(settings->proxy_port, "Proxy");
        socket.connect(Poco::Net::SocketAddress(settings->proxy_host, proxy_port), settings->host, server_port);
    }
}

std::string Server::contentType(int format)
{
    switch (format) {
    case FORMAT_MP3: return "audio/mpeg";
    case FORMAT_LC_AAC: return "audio/aac";
    case FORMAT_HE_AAC:
    case FORMAT_HE_AAC_V2: return "audio/aacp";
    case FORMAT_OGG_VORBIS:
    case FORMAT_OGG_FLAC:
    case FORMAT_OGG_OPUS: return "application/ogg";
    default: throw Poco::ApplicationException("Undefined format");
    }
}

std::string Server::basicCredentials(const std::string& user, const std::string& password)
{
    checkField("User name", user);
    checkField("Password", password);
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    // One line: a line break would end the request's header block.
    encoder.rdbuf()->setLineLength(0);
    encoder << (user.empty() ? std::string("source") : user) << ':' << password;
    encoder.close();
    return out.str();
}

bool Server::statusIs(const std::string& reply, const char* status)
{
    return reply.find(status) == 9;
}

std::string Server::replyBody(const std::string& reply)
{
    std::size_t pos = reply.find("\r\n\r\n");
    if (pos != std::string::npos && pos + 4 < reply.size())
        return reply.substr(pos + 4);
    return reply.substr(0, std::min(reply.find("\r\n"), pos));
}

void Server::checkField(const char* what, const std::string& value)
{
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw Poco::ApplicationException(std::string(what) + " must not contain line breaks or NUL characters.");
}

void Server::checkMountPoint(const std::string& mount_point)
{
    checkField("Mount point", mount_point);
    if (mount_point.find_first_of(" \t") != std::string::npos)
        throw Poco::ApplicationException("Mount point must not contain blanks.");
}

void Server::sendRequest(SSProxy& socket, const std::string& request)
{
    if (request.size() > max_request_size)
        throw Poco::ApplicationException(Poco::format(
            "Request of %z bytes is longer than a server takes (%z); shorten the directory fields or the title.",
            request.size(), max_request_size));
    std::size_t sent = 0;
    while (sent < request.size()) {
        int n = socket.sendBytes(request.data() + sent, static_cast<int>(request.size() - sent));
        if (n <= 0)
            throw Poco::ApplicationException("Connection closed while sending the request.");
        sent += static_cast<std::size_t>(n);
    }
}

std::string Server::receiveHead(SSProxy& socket)
{
    std::string reply;
    char buffer[1024];
    while (reply.find("\r\n\r\n") == std::string::npos && reply.size() < max_reply_head) {
        int n;
        try {
            n = socket.receiveBytes(buffer, static_cast<int>(std::min(sizeof buffer, max_reply_head - reply.size())));
        } catch (Poco::TimeoutException&) {
            break;
        }
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    return reply;
}

void Server::receiveBody(SSProxy& socket, std::string& reply, std::size_t limit)
{
    std::size_t head_end = reply.find("\r\n\r\n");
    if (head_end == std::string::npos)
        return;
    std::size_t body_start = head_end + 4;
    long length = contentLength(reply.substr(0, head_end + 4));
    std::size_t wanted = length >= 0 ? std::min(static_cast<std::size_t>(length), limit) : limit;
    char buffer[4096];
    while (reply.size() - body_start < wanted) {
        int n;
        try {
            n = socket.receiveBytes(buffer, static_cast<int>(std::min(sizeof buffer, wanted - (reply.size() - body_start))));
        } catch (Poco::TimeoutException&) {
            break;
        }
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    // What came with the head beyond the body is not the reply's.
    if (reply.size() - body_start > wanted)
        reply.resize(body_start + wanted);
}

int Server::sendFifo(SSProxy& socket, Poco::FIFOBuffer& fifo, std::vector<char>& buffer)
{
    buffer.resize(fifo.used());
    std::size_t length = fifo.read(buffer.data(), buffer.size());
    std::size_t sent = 0;
    while (sent < length) {
        int n = socket.sendBytes(buffer.data() + sent, static_cast<int>(length - sent));
        if (n <= 0)
            throw Poco::ApplicationException("Connection closed while sending audio.");
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<int>(sent);
}

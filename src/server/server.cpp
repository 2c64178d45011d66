#include "server.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Exception.h>
#include <Poco/Format.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/String.h>
#include <Poco/UTF8Encoding.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>

#include "deadline.h"
#include "server_icecast2.h"
#include "server_shoutcast1.h"
#include "server_shoutcast2.h"
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

Poco::ApplicationException tooLong(std::size_t limit)
{
    return Poco::ApplicationException(Poco::format("The server's reply is longer than %z bytes.", limit));
}

enum class Ending { Complete, Closed, TimeUp, TooLong };

// Appends what arrives to `text` until `complete` says it is whole, the
// peer closes, the time runs out or it holds more than `limit` bytes.
Ending readOnto(SSProxy& socket, std::string& text, std::size_t limit, const Deadline& deadline,
                const std::function<bool(const std::string&)>& complete)
{
    char buffer[4096];
    while (!complete(text)) {
        if (text.size() > limit)
            return Ending::TooLong;
        int n = socket.receiveBefore(buffer, static_cast<int>(std::min(sizeof buffer, limit + 1 - text.size())),
                                     deadline);
        if (n == 0)
            return Ending::Closed;
        if (n < 0)
            return Ending::TimeUp;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return Ending::Complete;
}

bool headIsWhole(const std::string& text)
{
    return text.find("\r\n\r\n") != std::string::npos;
}

}  // namespace

ServerStalled::ServerStalled(int sent)
    : Poco::ApplicationException("The server stopped taking the stream."), sent_(sent)
{
}

Poco::Exception* ServerStalled::clone() const
{
    return new ServerStalled(*this);
}

void ServerStalled::rethrow() const
{
    throw *this;
}

std::unique_ptr<Server> Server::create(const ServerSettings& settings)
{
    switch (settings.type) {
    case SERVER_ICECAST2: return std::unique_ptr<Server>(new ServerIcecast2(&settings));
    case SERVER_SHOUTCAST1: return std::unique_ptr<Server>(new ServerSHOUTcast1(&settings));
    case SERVER_SHOUTCAST2: return std::unique_ptr<Server>(new ServerSHOUTcast2(&settings));
    default: return nullptr;
    }
}

Server::Server(const ServerSettings* settings) : settings(settings)
{
    SSProxy::initializeNetwork();
}

Server::~Server() = default;

Deadline Server::exchangeDeadline() const
{
    return exchangeDeadline(Deadline::exchangeLimit());
}

Deadline Server::exchangeDeadline(Poco::Timespan limit) const
{
    return Deadline(limit, &cancelled_);
}

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
    return base64Credentials(user.empty() ? std::string("source") : user, password);
}

std::string Server::base64Credentials(const std::string& user, const std::string& password)
{
    checkField("User name", user);
    checkField("Password", password);
    // The server splits the pair at its first colon.
    if (user.find(':') != std::string::npos)
        throw Poco::ApplicationException("User name must not contain ':'.");
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    // One line: a line break would end the request's header block.
    encoder.rdbuf()->setLineLength(0);
    encoder << user << ':' << password;
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

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The words of a page: markup (and what its head, scripts and style sheets
// hold) gone, the common entities read, blanks run together.
std::string plainWords(const std::string& page)
{
    static const struct {
        const char* entity;
        char character;
    } entities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''},
                    {"&#39;", '\''}, {"&nbsp;", ' '}};
    const std::string lower = Poco::toLower(page);
    std::string words;
    bool blank = true;  // none at the start
    auto put = [&](char c) {
        if (isBlank(c)) {
            if (!blank)
                words += ' ';
            blank = true;
        } else {
            words += c;
            blank = false;
        }
    };
    for (std::size_t i = 0; i < page.size();) {
        if (page[i] == '<') {
            std::size_t end = page.find('>', i);
            for (const char* hidden : {"head", "script", "style"}) {
                const std::size_t length = std::strlen(hidden);
                const char after = i + 1 + length < lower.size() ? lower[i + 1 + length] : '>';
                if (lower.compare(i + 1, length, hidden) == 0 && (after == '>' || after == '/' || isBlank(after)))
                    end = lower.find(std::string("</") + hidden, i);
            }
            if (end != std::string::npos)
                end = page.find('>', end);
            if (end == std::string::npos)
                break;  // cut off inside markup: no more words
            put(' ');
            i = end + 1;
            continue;
        }
        const auto* entity = std::end(entities);
        if (page[i] == '&')
            entity = std::find_if(std::begin(entities), std::end(entities), [&](const auto& e) {
                return page.compare(i, std::strlen(e.entity), e.entity) == 0;
            });
        if (entity != std::end(entities)) {
            put(entity->character);
            i += std::strlen(entity->entity);
        } else {
            put(page[i++]);
        }
    }
    if (!words.empty() && words.back() == ' ')
        words.pop_back();
    return words;
}

}  // namespace

std::string Server::refusalText(const std::string& reply)
{
    if (reply.compare(0, 5, "HTTP/") != 0) {
        std::size_t end = reply.find_last_not_of("\r\n");
        return readableText(end == std::string::npos ? std::string() : reply.substr(0, end + 1));
    }
    std::string status_line = reply.substr(0, reply.find_first_of("\r\n"));
    std::size_t code = status_line.find(' ');
    std::string status = code == std::string::npos ? status_line : Poco::trim(status_line.substr(code + 1));
    std::size_t head_end = reply.find("\r\n\r\n");
    // A page far longer than a message shows is not read to its end.
    std::string words =
        head_end == std::string::npos ? std::string() : plainWords(reply.substr(head_end + 4, 16 * max_error_text));
    if (status.empty())
        status = status_line;
    // A page that repeats the status code ("400 - Source does not exist")
    // says it once.
    const std::string code_number = status.substr(0, status.find(' '));
    if (!code_number.empty() && words.compare(0, code_number.size(), code_number) == 0 &&
        (words.size() == code_number.size() || std::strchr(" -:", words[code_number.size()]))) {
        std::size_t rest = words.find_first_not_of(" -:", code_number.size());
        words = rest == std::string::npos ? std::string() : words.substr(rest);
    }
    return readableText(words.empty() ? status : status + ": " + words);
}

bool Server::saysSuccessful(const std::string& text)
{
    std::string lower = Poco::toLower(text);
    for (std::size_t at = lower.find("successful"); at != std::string::npos; at = lower.find("successful", at + 1))
        if (at < 2 || lower.compare(at - 2, 2, "un") != 0)
            return true;
    return false;
}

std::string Server::wellFormedUtf8(const std::string& text, bool keep_layout)
{
    static const char replacement[] = "\xEF\xBF\xBD";
    Poco::UTF8Encoding utf8;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t size = text.size();
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < size;) {
        unsigned char lead = bytes[i];
        if (lead < 0x80) {
            bool layout = lead == '\t' || lead == '\r' || lead == '\n';
            out += lead < 0x20 || lead == 0x7F ? (keep_layout && layout ? static_cast<char>(lead) : ' ')
                                               : static_cast<char>(lead);
            ++i;
            continue;
        }
        int length = lead >= 0xC2 && lead <= 0xDF ? 2
                     : lead >= 0xE0 && lead <= 0xEF ? 3
                     : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                    : 0;
        if (length == 0 || i + length > size || !Poco::UTF8Encoding::isLegal(bytes + i, length)) {
            out += replacement;
            ++i;
            continue;
        }
        int code = utf8.convert(bytes + i);
        if (code == 0xFFFE || code == 0xFFFF)
            out += replacement;
        else
            out.append(text, i, static_cast<std::size_t>(length));
        i += static_cast<std::size_t>(length);
    }
    return out;
}

std::string Server::readableText(const std::string& text)
{
    // Cut first, so that a megabyte of reply is not cleaned whole; each
    // character has at most 4 bytes.
    std::string clean = wellFormedUtf8(text.substr(0, 4 * max_error_text + 4), true);
    std::size_t characters = 0;
    for (std::size_t i = 0; i < clean.size(); ++i) {
        if ((static_cast<unsigned char>(clean[i]) & 0xC0) == 0x80)
            continue;
        if (characters++ == max_error_text) {
            clean.resize(i);
            return clean + "...";
        }
    }
    return text.size() > 4 * max_error_text + 4 ? clean + "..." : clean;
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

void Server::checkRequestSize(const std::string& request)
{
    if (request.size() > max_request_size)
        throw Poco::ApplicationException(Poco::format(
            "Request of %z bytes is longer than a server takes (%z); shorten the directory fields or the title.",
            request.size(), max_request_size));
}

void Server::sendRequest(SSProxy& socket, const std::string& request)
{
    checkRequestSize(request);
    std::size_t sent = 0;
    while (sent < request.size()) {
        int n = socket.sendBytes(request.data() + sent, static_cast<int>(request.size() - sent));
        if (n <= 0)
            throw Poco::ApplicationException("Connection closed while sending the request.");
        sent += static_cast<std::size_t>(n);
    }
}

Poco::ApplicationException Server::cutOff(const std::string& partial)
{
    return Poco::ApplicationException("The server's reply was cut off: " + readableText(partial));
}

Poco::ApplicationException Server::timedOut(const std::string& partial)
{
    if (partial.empty())
        return Poco::ApplicationException("Timed out waiting for the server's reply.");
    return Poco::ApplicationException("Timed out: the server's reply did not come whole: " + readableText(partial));
}

void Server::receiveHead(SSProxy& socket, std::string& reply, const Deadline& deadline, bool silence_answers)
{
    Ending ending = readOnto(socket, reply, max_reply_head, deadline, headIsWhole);
    if (ending == Ending::TooLong)
        throw tooLong(max_reply_head);
    if (ending == Ending::TimeUp && !(silence_answers && reply.empty()))
        throw timedOut(reply);
    if (ending != Ending::Closed || reply.empty())
        return;
    // A text that is no HTTP reply ends where the server closed it.
    if (reply.compare(0, 5, "HTTP/") == 0)
        throw cutOff(reply);
}

void Server::receiveBody(SSProxy& socket, std::string& reply, std::size_t limit, const Deadline& deadline)
{
    std::size_t body_start = reply.find("\r\n\r\n") + 4;
    long length = contentLength(reply.substr(0, body_start));
    if (length >= 0 && static_cast<std::size_t>(length) > limit)
        throw tooLong(limit);
    std::size_t end = length >= 0 ? body_start + static_cast<std::size_t>(length) : std::string::npos;
    // A body of known length grows its text once.
    if (length >= 0)
        reply.reserve(end);
    Ending ending = readOnto(socket, reply, body_start + limit, deadline,
                             [end](const std::string& text) { return text.size() >= end; });
    if (ending == Ending::TooLong)
        throw tooLong(limit);
    if (ending == Ending::TimeUp)
        throw timedOut(reply);
    // Without a length the body ends where the server closes.
    if (ending == Ending::Closed && length >= 0)
        throw cutOff(reply);
    // What came with the body beyond it is not the reply's.
    if (reply.size() > end)
        reply.resize(end);
}

std::string Server::receiveLine(SSProxy& socket, const Deadline& deadline)
{
    std::string line;
    Ending ending = readOnto(socket, line, max_reply_head, deadline,
                             [](const std::string& text) { return text.find('\n') != std::string::npos; });
    if (ending == Ending::TooLong)
        throw tooLong(max_reply_head);
    if (ending == Ending::TimeUp)
        throw timedOut(line);
    return line;
}

std::string Server::sideRequest(const std::string& request, std::size_t limit) const
{
    SSProxy side;
    struct Closer {
        SSProxy& socket;
        ~Closer() { socket.closeQuietly(); }
    } closer{side};
    const Deadline deadline = exchangeDeadline();
    std::string reply;
    try {
        if (deadline.cancelled())
            throw Poco::ApplicationException("cancelled");
        connectSocket(side, settings->port);
        sendRequest(side, request);
        receiveHead(side, reply, deadline);
        if (headIsWhole(reply))
            receiveBody(side, reply, limit, deadline);
    } catch (Poco::Exception&) {
        if (deadline.cancelled())
            throw Poco::ApplicationException("The request was ended: the stream stopped.");
        throw;
    }
    if (deadline.cancelled())
        throw Poco::ApplicationException("The request was ended: the stream stopped.");
    return reply;
}

Deadline Server::sendDeadline() const
{
    return Deadline(SSProxy::sendLimit(), &send_cutoff_);
}

int Server::sendFifo(SSProxy& socket, Poco::FIFOBuffer& fifo, std::vector<char>& buffer) const
{
    buffer.resize(fifo.used());
    std::size_t length = fifo.read(buffer.data(), buffer.size());
    std::size_t sent = socket.sendBefore(buffer.data(), length, sendDeadline());
    if (sent < length) {
        // More on this socket would continue a cut batch.
        socket.closeQuietly();
        throw ServerStalled(static_cast<int>(sent));
    }
    return static_cast<int>(sent);
}

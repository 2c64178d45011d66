#include "server_shoutcast1.h"

#include <Poco/Exception.h>
#include <Poco/Format.h>

#include "deadline.h"
#include "plugin/utils.h"

ServerSHOUTcast1::ServerSHOUTcast1(const ServerSettings* settings)
    : Server(settings), charset("UTF-8", settings->yp.charset + "//ingnore//translit")
{
}

ServerSHOUTcast1::~ServerSHOUTcast1()
{
    socket.closeQuietly();
}

void ServerSHOUTcast1::connect()
{
    // The source port is the one after the server's (which serves
    // listeners and admin.cgi).
    connectSocket(socket, settings->port < 1 ? settings->port : settings->port + 1);
}

void ServerSHOUTcast1::disconnect()
{
    socket.closeQuietly();
}

void ServerSHOUTcast1::login(const EncoderSettings& encoder)
{
    std::string content_type = contentType(encoder.format);
    const YpSettings& yp = settings->yp;
    std::string name = charset.convert(yp.name);
    std::string genre = charset.convert(yp.genre);
    checkField("Password", settings->password);
    checkField("Stream name", name);
    checkField("Genre", genre);
    checkField("Stream URL", yp.url);
    std::string headers = Poco::format("icy-name: %s\r\nicy-genre: %s\r\nicy-url: %s\r\n", name, genre, yp.url) +
                          Poco::format("icy-irc: N/A\r\nicy-icq: 0\r\nicy-aim: N/A\r\nicy-pub: %d\r\nicy-br: %d\r\n"
                                       "content-type: %s\r\n\r\n",
                                       yp.pub ? 1 : 0, encoder.bitrate, content_type);
    checkRequestSize(headers);

    const Deadline deadline = exchangeDeadline();
    sendRequest(socket, settings->password + "\r\n");
    std::string answer = receiveLine(socket, deadline);
    if (answer.compare(0, 3, "OK2") != 0) {
        std::string words = refusalText(answer);
        throw Poco::ApplicationException(words.empty() ? std::string("No Response from Server") : words);
    }
    if (answer.find('\n') == std::string::npos)
        throw cutOff(answer);
    sendRequest(socket, headers);
}

int ServerSHOUTcast1::sendData(Poco::FIFOBuffer& fifo)
{
    return sendFifo(socket, fifo, send_buffer);
}

std::string ServerSHOUTcast1::adminRequest(const std::string& query, std::size_t limit)
{
    return sideRequest(Poco::format("GET /admin.cgi?pass=%s&%s HTTP/1.0\r\nUser-Agent: %s (Mozilla compatible)\r\n\r\n",
                                    urlEncode(settings->password), query, userAgent()),
                       limit);
}

void ServerSHOUTcast1::updateMetadata(const std::string& title)
{
    // A reply that does not come in time is a failure (thrown by the
    // request).
    std::string reply = adminRequest("mode=updinfo&song=" + urlEncode(charset.convert(title)), max_reply_body);
    // The server closes without a word when it took the title; some
    // servers answer with a page that says so.
    if (reply.empty() || (statusIs(reply, "200 OK") && saysSuccessful(replyBody(reply))))
        return;
    if (statusIs(reply, "200 OK"))
        throw Poco::ApplicationException("invalid password or something");
    throw Poco::ApplicationException(refusalText(reply));
}

std::string ServerSHOUTcast1::listClients(const std::string&, const std::string&)
{
    std::string reply = adminRequest("mode=viewxml", max_listener_reply);
    if (!statusIs(reply, "200 OK"))
        throw Poco::ApplicationException(reply.empty() ? std::string("No Response from Server") : refusalText(reply));
    std::size_t xml = reply.find("<?xml");
    if (xml == std::string::npos)
        throw Poco::ApplicationException("invalid password or something");
    reply.erase(0, xml);
    return reply;
}

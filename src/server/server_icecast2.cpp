#include "server_icecast2.h"

#include <Poco/Exception.h>
#include <Poco/Format.h>

#include "plugin/utils.h"

ServerIcecast2::ServerIcecast2(const ServerSettings* settings)
    : Server(settings),
      credentials(basicCredentials(settings->username, settings->password)),
      charset("UTF-8", settings->yp.charset + "//ingnore//translit")
{
}

ServerIcecast2::~ServerIcecast2()
{
    socket.closeQuietly();
}

void ServerIcecast2::connect()
{
    connectSocket(socket, settings->port);
}

void ServerIcecast2::disconnect()
{
    socket.closeQuietly();
}

std::string ServerIcecast2::sourceRequest(const std::string& request_line, const EncoderSettings& encoder,
                                          const std::string& content_type)
{
    const YpSettings& yp = settings->yp;
    std::string name = charset.convert(yp.name);
    std::string genre = charset.convert(yp.genre);
    std::string description = charset.convert(yp.desc);
    checkField("Stream name", name);
    checkField("Genre", genre);
    checkField("Description", description);
    checkField("Stream URL", yp.url);
    return Poco::format("%s\r\nContent-Type: %s\r\nUser-Agent: %s\r\nAuthorization: Basic %s\r\n", request_line,
                        content_type, userAgent(), credentials) +
           Poco::format("ice-name: %s\r\nice-genre: %s\r\nice-description: %s\r\nice-url: %s\r\n", name, genre,
                        description, yp.url) +
           Poco::format("ice-bitrate: %d\r\nice-public: %d\r\n"
                        "ice-audio-info: ice-samplerate=%d;ice-bitrate=%d;ice-channels=%d\r\n",
                        encoder.bitrate, yp.pub ? 1 : 0, encoder.sampling_rate, encoder.bitrate, encoder.channel);
}

void ServerIcecast2::login(const EncoderSettings& encoder)
{
    std::string content_type = contentType(encoder.format);
    checkMountPoint(settings->mount_point);
    std::string put = sourceRequest("PUT " + settings->mount_point + " HTTP/1.1", encoder, content_type) +
                      "Expect: 100-continue\r\n\r\n";
    sendRequest(socket, put);
    std::string reply = receiveHead(socket);
    // A server that ignores Expect answers 200 at once; either way the
    // audio follows on this connection.
    if (statusIs(reply, "100 Continue") || statusIs(reply, "200 OK"))
        return;
    if (!reply.empty())
        receiveBody(socket, reply, max_reply_body);
    if (!reply.empty() && reply.find("Kagamin2") == std::string::npos)
        throw Poco::ApplicationException(replyBody(reply));

    // No answer (or a server that takes only SOURCE): the same header lines
    // as SOURCE on a new connection.
    disconnect();
    connect();
    std::string source =
        sourceRequest("SOURCE " + settings->mount_point + " ICE/1.0", encoder, content_type) + "\r\n";
    sendRequest(socket, source);
    reply = receiveHead(socket);
    if (statusIs(reply, "200 OK"))
        return;
    if (reply.empty())
        throw Poco::ApplicationException("No Response from Server");
    receiveBody(socket, reply, max_reply_body);
    throw Poco::ApplicationException(replyBody(reply));
}

int ServerIcecast2::sendData(Poco::FIFOBuffer& fifo)
{
    return sendFifo(socket, fifo, send_buffer);
}

std::string ServerIcecast2::adminRequest(const std::string& path_and_query, std::size_t limit)
{
    SSProxy side;
    struct Closer {
        SSProxy& socket;
        ~Closer() { socket.closeQuietly(); }
    } closer{side};
    connectSocket(side, settings->port);
    sendRequest(side, Poco::format("GET %s HTTP/1.0\r\nAuthorization: Basic %s\r\nUser-Agent: %s\r\n\r\n",
                                   path_and_query, credentials, userAgent()));
    std::string reply = receiveHead(side);
    if (reply.empty())
        throw Poco::ApplicationException("No Response from Server");
    // One byte past the limit tells a reply that is too long.
    receiveBody(side, reply, limit + 1);
    std::size_t head_end = reply.find("\r\n\r\n");
    if (head_end != std::string::npos && reply.size() - head_end - 4 > limit)
        throw Poco::ApplicationException(Poco::format("The server's reply is longer than %z bytes.", limit));
    return reply;
}

void ServerIcecast2::updateMetadata(const std::string& title)
{
    checkMountPoint(settings->mount_point);
    std::string query = Poco::format("/admin/metadata?mode=updinfo&mount=%s&song=%s",
                                     urlEncode(settings->mount_point), urlEncode(charset.convert(title)));
    // The server reads titles as Latin-1 unless told the charset.
    if (!settings->yp.charset.empty())
        query += "&charset=" + urlEncode(settings->yp.charset);
    std::string reply = adminRequest(query, max_reply_body);
    if (!statusIs(reply, "200 OK"))
        throw Poco::ApplicationException(reply);
    std::size_t start = reply.find("<message>");
    if (start == std::string::npos)
        return;
    start += 9;
    std::size_t end = reply.find("</message>", start);
    std::string message = reply.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (message.find("successful") == std::string::npos)
        throw Poco::ApplicationException(message);
}

std::string ServerIcecast2::listClients(const std::string&, const std::string&)
{
    checkMountPoint(settings->mount_point);
    std::string reply =
        adminRequest("/admin/listclients?mount=" + urlEncode(settings->mount_point), max_listener_reply);
    if (!statusIs(reply, "200 OK"))
        throw Poco::ApplicationException(reply);
    std::size_t xml = reply.find("<?xml");
    if (xml == std::string::npos)
        throw Poco::ApplicationException("The server's listener list is not XML.");
    return reply.substr(xml);
}

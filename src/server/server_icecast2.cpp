#include "server_icecast2.h"

#include <Poco/Exception.h>
#include <Poco/Format.h>

#include "deadline.h"
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
    const Deadline deadline = exchangeDeadline();
    sendRequest(socket, put);
    std::string reply;
    // A server that never answers a PUT may take SOURCE.
    receiveHead(socket, reply, deadline, true);
    bool accepted = false;
    if (statusIs(reply, "100 Continue")) {
        // A final status that came with the 100 decides; otherwise the
        // audio follows on this connection.
        std::string final_status = reply.substr(reply.find("\r\n\r\n") + 4);
        accepted = final_status.empty();
        if (!accepted) {
            reply = final_status;
            receiveHead(socket, reply, deadline);
        }
    }
    // A server that ignores Expect answers 200 at once.
    accepted = accepted || statusIs(reply, "200 OK");
    // Kagamin2 takes only SOURCE, whatever it answered to the PUT.
    bool kagamin = reply.find("Kagamin2") != std::string::npos;
    if (!accepted && !kagamin && reply.find("\r\n\r\n") != std::string::npos) {
        receiveBody(socket, reply, max_reply_body, deadline);
        kagamin = reply.find("Kagamin2") != std::string::npos;
    }
    if (accepted && !kagamin)
        return;
    if (!reply.empty() && !kagamin)
        throw Poco::ApplicationException(refusalText(reply));

    // No answer, or Kagamin2: the same header lines as SOURCE on a new
    // connection.
    disconnect();
    connect();
    std::string source =
        sourceRequest("SOURCE " + settings->mount_point + " ICE/1.0", encoder, content_type) + "\r\n";
    const Deadline source_deadline = exchangeDeadline();
    sendRequest(socket, source);
    reply.clear();
    receiveHead(socket, reply, source_deadline);
    if (statusIs(reply, "200 OK"))
        return;
    if (reply.empty())
        throw Poco::ApplicationException("No Response from Server");
    if (reply.find("\r\n\r\n") != std::string::npos)
        receiveBody(socket, reply, max_reply_body, source_deadline);
    throw Poco::ApplicationException(refusalText(reply));
}

int ServerIcecast2::sendData(Poco::FIFOBuffer& fifo)
{
    return sendFifo(socket, fifo, send_buffer);
}

std::string ServerIcecast2::adminRequest(const std::string& path_and_query, std::size_t limit)
{
    std::string reply = sideRequest(Poco::format("GET %s HTTP/1.0\r\nAuthorization: Basic %s\r\nUser-Agent: %s\r\n\r\n",
                                                 path_and_query, credentials, userAgent()),
                                    limit);
    if (reply.empty())
        throw Poco::ApplicationException("No Response from Server");
    if (!statusIs(reply, "200 OK"))
        throw Poco::ApplicationException(refusalText(reply));
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
    std::size_t start = reply.find("<message>");
    if (start == std::string::npos)
        return;
    start += 9;
    std::size_t end = reply.find("</message>", start);
    std::string message = reply.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!saysSuccessful(message))
        throw Poco::ApplicationException(readableText(message));
}

std::string ServerIcecast2::listClients(const std::string&, const std::string&)
{
    checkMountPoint(settings->mount_point);
    std::string reply =
        adminRequest("/admin/listclients?mount=" + urlEncode(settings->mount_point), max_listener_reply);
    std::size_t xml = reply.find("<?xml");
    if (xml == std::string::npos)
        throw Poco::ApplicationException("The server's listener list is not XML.");
    // In place: a large list is not copied.
    reply.erase(0, xml);
    return reply;
}

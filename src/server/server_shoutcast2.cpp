#include "server_shoutcast2.h"

#include <Poco/Exception.h>
#include <Poco/Format.h>
#include <Poco/String.h>

#include <algorithm>
#include <cstdio>

#include "bit_packer.h"
#include "console.h"
#include "deadline.h"
#include "plugin/utils.h"
#include "xtea.h"

ServerSHOUTcast2::ServerSHOUTcast2(const ServerSettings* settings) : Server(settings) {}

ServerSHOUTcast2::~ServerSHOUTcast2()
{
    socket.closeQuietly();
}

void ServerSHOUTcast2::connect()
{
    std::lock_guard<std::mutex> guard(lock);
    logged_in = false;
    connectSocket(socket, settings->port);
}

void ServerSHOUTcast2::disconnect()
{
    std::lock_guard<std::mutex> guard(lock);
    logged_in = false;
    try {
        if (socket.poll(Poco::Timespan(100000), Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_WRITE))
            sendPacket(1, 0x005, nullptr, 0, Deadline(Poco::Timespan(100000)));
    } catch (...) {
        // Never connected, or gone already: there is nobody to tell.
    }
    socket.closeQuietly();
}

void ServerSHOUTcast2::login(const EncoderSettings& encoder)
{
    std::lock_guard<std::mutex> guard(lock);
    logged_in = false;
    content_type = contentType(encoder.format);
    switch (encoder.format) {
    case FORMAT_MP3: data_class = 7, data_type = 0x000; break;
    case FORMAT_LC_AAC: data_class = 8, data_type = 0x001; break;
    case FORMAT_HE_AAC:
    case FORMAT_HE_AAC_V2: data_class = 8, data_type = 0x003; break;
    default:
        data_class = 8, data_type = 0x004;
        content_type = "audio/ogg";
        break;
    }
    // Every text of the login is checked before the first is sent.
    const YpSettings& yp = settings->yp;
    checkField("User name", settings->username);
    checkField("Password", settings->password);
    checkField("Stream name", yp.name);
    checkField("Genre", yp.genre);
    checkField("Stream URL", yp.url);
    auto hex_length = [](const std::string& text) { return (text.size() + 7) / 8 * 16; };
    std::size_t longest = std::max({yp.name.size(), yp.genre.size(), yp.url.size(),
                                    std::to_string(settings->stream_id).size() + 6 +
                                        hex_length(settings->username) + hex_length(settings->password)});
    if (longest > static_cast<std::size_t>(max_payload))
        throw Poco::ApplicationException(Poco::format(
            "The directory fields and credentials must fit the server's messages (%d bytes).", max_payload));

    may_follow.clear();
    const Deadline deadline = exchangeDeadline();
    authenticate(requestCipher(deadline), deadline);
    sendSetup(encoder, deadline);
    sendStandby(deadline);
    logged_in = true;
}

std::string ServerSHOUTcast2::requestCipher(const Deadline& deadline)
{
    sendPacket(1, 0x009, "2.1", deadline);
    // "ACK:" and the key.
    std::string reply = receiveReply({0x009}, deadline);
    std::string key = reply.size() > 4 ? reply.substr(4) : std::string();
    if (key.empty())
        throw Poco::ApplicationException("The server sent no cipher key: " + readableText(reply));
    return key;
}

void ServerSHOUTcast2::authenticate(const std::string& key, const Deadline& deadline)
{
    sendPacket(1, 0x001,
               Poco::format("2.1:%d:%s:%s", static_cast<int>(settings->stream_id),
                            xteaEncipherHex(settings->username, key), xteaEncipherHex(settings->password, key)),
               deadline);
    receiveReply({0x001}, deadline);
}

void ServerSHOUTcast2::sendSetup(const EncoderSettings& encoder, const Deadline& deadline)
{
    sendPacket(1, 0x040, content_type, deadline);
    receiveReply({0x040}, deadline);
    sendPacket(1, 0x002, Poco::format("%d:%d", static_cast<int>(encoder.bitrate), static_cast<int>(encoder.bitrate)),
               deadline);
    receiveReply({0x002}, deadline);
    sendPacket(1, 0x003, "240:0", deadline);
    receiveReply({0x003}, deadline);
    sendPacket(1, 0x008, Poco::format("%d:0", max_payload), deadline);
    receiveReply({0x008}, deadline);
    sendPacket(1, 0x100, settings->yp.name, deadline);
    sendPacket(1, 0x101, settings->yp.genre, deadline);
    sendPacket(1, 0x102, settings->yp.url, deadline);
    sendPacket(1, 0x103, settings->yp.pub ? "1" : "0", deadline);
    // One reply for the four; a server that answers each sends the others
    // before its answer to the standby.
    int answered = 0;
    receiveReply({0x100, 0x101, 0x102, 0x103}, deadline, &answered);
    for (int type = 0x100; type <= 0x103; ++type)
        if (type != answered)
            may_follow.push_back(type);
}

void ServerSHOUTcast2::sendStandby(const Deadline& deadline)
{
    sendPacket(1, 0x006, "0", deadline);
    may_follow.push_back(0x006);
    sendPacket(1, 0x004, "0", deadline);
    // Only its acknowledgement makes the stream: another source on the
    // stream id is refused here ("NAK:Stream In Use").
    receiveReply({0x004}, deadline);
}

int ServerSHOUTcast2::sendPacket(int message_class, int type, const std::string& payload, const Deadline& deadline)
{
    return sendPacket(message_class, type, payload.data(), payload.size(), deadline);
}

int ServerSHOUTcast2::sendPacket(int message_class, int type, const char* payload, std::size_t length,
                                 const Deadline& deadline)
{
    // The length field must tell the truth: nothing is ever cut.
    if (length > static_cast<std::size_t>(max_payload))
        throw Poco::ApplicationException(Poco::format(
            "A message of %z bytes is longer than the server takes (%d); shorten the directory fields.", length,
            max_payload));
    packet.clear();
    BitPacker::pack({{0x5A, 8},
                     {0, 4},
                     {0, 4},
                     {static_cast<std::uint32_t>(message_class) & 0xF, 4},
                     {static_cast<std::uint32_t>(type) & 0xFFF, 12},
                     {static_cast<std::uint32_t>(length), 16}},
                    packet);
    packet.insert(packet.end(), payload, payload + length);
    packet.push_back(0);

    // Whatever follows a failed send must not continue half a packet.
    std::size_t sent = 0;
    try {
        sent = socket.sendBefore(packet.data(), packet.size(), deadline);
    } catch (...) {
        logged_in = false;
        socket.closeQuietly();
        throw;
    }
    if (sent < packet.size()) {
        logged_in = false;
        socket.closeQuietly();
        throw ServerStalled(static_cast<int>(sent));
    }
    return static_cast<int>(sent);
}

std::string ServerSHOUTcast2::receivePacket(int& message_class, int& type, const Deadline& deadline)
{
    unsigned char head[6];
    bool timed_out = false;
    std::size_t got = socket.receiveFully(head, sizeof head, deadline, &timed_out);
    if (got == 0 && !timed_out)
        throw Poco::ApplicationException("No Response from Server");
    if (got > 0 && head[0] != 0x5A)
        throw Poco::ApplicationException("Unhandled Response from Server");
    if (got < sizeof head)
        throw timed_out ? timedOut("") : Poco::ApplicationException("The server's reply was cut off.");
    message_class = head[2] >> 4;
    type = (head[2] & 0x0F) << 8 | head[3];
    std::size_t length = static_cast<std::size_t>(head[4]) << 8 | head[5];
    // The payload and the end byte.
    std::string payload(length + 1, '\0');
    if (socket.receiveFully(&payload[0], payload.size(), deadline, &timed_out) < payload.size())
        throw timed_out ? timedOut("") : Poco::ApplicationException("The server's reply was cut off.");
    if (payload[length] != '\0')
        throw Poco::ApplicationException("Unhandled Response from Server");
    return payload.substr(0, payload.find('\0'));
}

std::string ServerSHOUTcast2::receiveReply(std::initializer_list<int> asked, const Deadline& deadline, int* answered)
{
    for (;;) {
        int message_class = 0;
        int type = 0;
        std::string text = receivePacket(message_class, type, deadline);
        // Only a text that begins with it acknowledges: "NAK:...ACK" or
        // "ERROR ACK" refuse.
        if (text.compare(0, 3, "ACK") != 0)
            throw Poco::ApplicationException(text.empty() ? std::string("Unhandled Response from Server")
                                                          : readableText(text));
        bool asked_for = message_class == 1 && std::find(asked.begin(), asked.end(), type) != asked.end();
        auto earlier = std::find(may_follow.begin(), may_follow.end(), type);
        if (asked_for) {
            if (answered)
                *answered = type;
            return text;
        }
        if (message_class != 1 || earlier == may_follow.end()) {
            char what[80];
            std::snprintf(what, sizeof what, "a reply to message %d/0x%03X where 1/0x%03X was asked", message_class,
                          static_cast<unsigned>(type), static_cast<unsigned>(*asked.begin()));
            throw Poco::ApplicationException(std::string("Unhandled Response from Server: ") + what + " (" +
                                             readableText(text) + ")");
        }
        // The late reply to an earlier message of this login.
        may_follow.erase(earlier);
    }
}

int ServerSHOUTcast2::sendData(Poco::FIFOBuffer& fifo)
{
    console_printf("SendPacket: %d", static_cast<int>(fifo.used()));
    const Deadline deadline = sendDeadline();
    int total = 0;
    while (fifo.used() > 0) {
        std::size_t n = std::min(fifo.used(), static_cast<std::size_t>(max_payload));
        send_buffer.resize(n);
        n = fifo.read(send_buffer.data(), n);
        std::lock_guard<std::mutex> guard(lock);
        if (!logged_in)
            throw Poco::ApplicationException("Not connected to the server.");
        try {
            total += sendPacket(data_class, data_type, send_buffer.data(), n, deadline);
        } catch (const ServerStalled& stalled) {
            throw ServerStalled(total + stalled.sent());
        }
    }
    return total;
}

std::string ServerSHOUTcast2::metadataXml(const std::string& title)
{
    std::string text = wellFormedUtf8(title, false);
    Poco::replaceInPlace(text, std::string("&"), std::string("&amp;"));
    Poco::replaceInPlace(text, std::string("'"), std::string("&apos;"));
    Poco::replaceInPlace(text, std::string("\""), std::string("&quot;"));
    Poco::replaceInPlace(text, std::string(">"), std::string("&gt;"));
    Poco::replaceInPlace(text, std::string("<"), std::string("&lt;"));
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<metadata><TIT2>" + text + "</TIT2>\n</metadata>";
}

void ServerSHOUTcast2::updateMetadata(const std::string& title)
{
    // Metadata id 14, one packet of one.
    std::string payload("\x00\x0E\x00\x01\x00\x01", 6);
    payload += metadataXml(title);
    // A longer one would make the server drop the whole source.
    if (payload.size() > static_cast<std::size_t>(max_payload))
        throw Poco::ApplicationException(
            Poco::format("The title is too long to send (%z bytes of metadata, at most %d).", payload.size(),
                         max_payload));
    std::lock_guard<std::mutex> guard(lock);
    if (!logged_in)
        throw Poco::ApplicationException("The title was not sent: the stream is not connected to the server.");
    sendPacket(3, 0x902, payload, exchangeDeadline(SSProxy::sendLimit()));
}

std::string ServerSHOUTcast2::listClients(const std::string& admin_user, const std::string& admin_password)
{
    std::string credentials = base64Credentials(admin_user, admin_password);
    std::string reply =
        sideRequest(Poco::format("GET /admin.cgi?sid=%d&mode=viewxml&page=3 HTTP/1.0\r\nAuthorization: Basic "
                                 "%s\r\nUser-Agent: %s\r\n\r\n",
                                 static_cast<int>(settings->stream_id), credentials, userAgent()),
                    max_listener_reply);
    if (reply.empty())
        throw Poco::ApplicationException("No Response from Server");
    if (!statusIs(reply, "200 OK"))
        throw Poco::ApplicationException(readableText(reply));
    std::size_t xml = reply.find("<?xml");
    if (xml == std::string::npos)
        throw Poco::ApplicationException("The server's listener list is not XML.");
    return reply.substr(xml);
}

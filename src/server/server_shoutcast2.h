#pragma once
// SHOUTcast v2 source connection: every message on the audio connection is
// a framed packet. The login is a dialogue of small text messages, each
// acknowledged by the server, with user and password enciphered under a key
// the server hands out; audio follows in data packets, titles in-band as
// XML. The listener list comes from admin.cgi over a connection of its own,
// with the admin user and password.
//
// The stream's worker (audio) and the window's worker (titles) write on one
// socket: one lock covers connect, login, disconnect and every packet, so
// packets never interleave and a title never reaches a socket that is
// closed or not logged in.
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "server.h"
#include "ss_proxy.h"

class ServerSHOUTcast2 : public Server {
public:
    // Largest payload of one packet.
    static constexpr int max_payload = 16377;

    explicit ServerSHOUTcast2(const ServerSettings* settings);
    ~ServerSHOUTcast2() override;

    void connect() override;
    // Sends the terminating packet when the socket is ready, then closes it.
    void disconnect() override;
    void login(const EncoderSettings& encoder) override;
    // Sends the FIFO's bytes in data packets of at most max_payload bytes,
    // all within the send limit; returns the bytes written, framing
    // included.
    int sendData(Poco::FIFOBuffer& fifo) override;
    // Sends the title as an XML packet on the audio connection; refuses it
    // while the connection is not logged in, and a title too long for one
    // packet, without harm to the stream.
    void updateMetadata(const std::string& title) override;
    std::string listClients(const std::string& admin_user, const std::string& admin_password) override;

    // The XML document that carries a title.
    static std::string metadataXml(const std::string& title);

private:
    // The login's steps; the lock is held.
    std::string requestCipher(const Deadline& deadline);
    void authenticate(const std::string& key, const Deadline& deadline);
    void sendSetup(const EncoderSettings& encoder, const Deadline& deadline);
    void sendStandby(const Deadline& deadline);
    // Sends one whole packet before the deadline; a failed send closes the
    // socket, and one that runs out of time throws ServerStalled. The lock
    // is held. Returns the bytes written.
    int sendPacket(int message_class, int type, const char* payload, std::size_t length, const Deadline& deadline);
    int sendPacket(int message_class, int type, const std::string& payload, const Deadline& deadline);
    // Reads the reply to one of the `asked` messages (class 1) and returns
    // its text; `answered` (when given) gets the message it answers.
    // Replies to messages that may still be answered (may_follow) are taken
    // on the way. Throws a reply that does not begin with "ACK" as the
    // server's words, and a reply to a message not asked.
    std::string receiveReply(std::initializer_list<int> asked, const Deadline& deadline, int* answered = nullptr);
    // Reads one whole reply packet: its class, type and text.
    std::string receivePacket(int& message_class, int& type, const Deadline& deadline);

    std::mutex lock;
    bool logged_in = false;
    // Messages of this login whose replies a server may send, or not:
    // the directory fields (one reply is awaited for the four) and the
    // metadata flush before the standby.
    std::vector<int> may_follow;
    std::vector<char> send_buffer;
    std::vector<std::uint8_t> packet;
    SSProxy socket;
    std::string content_type;
    int data_class = 0;
    int data_type = 0;
};

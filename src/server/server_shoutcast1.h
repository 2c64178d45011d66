#pragma once
// SHOUTcast v1 source connection: the password as a line to the port plus
// one, "OK2", a block of icy-* header lines, then the audio; titles and the
// listener list go to the server's admin.cgi on the port itself, each over
// a connection of its own, with the password in the query.
#include "charset_converter.h"
#include "server.h"
#include "ss_proxy.h"

class ServerSHOUTcast1 : public Server {
public:
    // Throws std::runtime_error when the record's charset is not supported.
    explicit ServerSHOUTcast1(const ServerSettings* settings);
    ~ServerSHOUTcast1() override;

    void connect() override;
    void disconnect() override;
    void login(const EncoderSettings& encoder) override;
    int sendData(Poco::FIFOBuffer& fifo) override;
    void updateMetadata(const std::string& title) override;
    // The two arguments are not used: the source password serves.
    std::string listClients(const std::string& admin_user, const std::string& admin_password) override;

private:
    // Sends an admin.cgi request with the password and `query` on a
    // connection of its own; returns the reply, its body at most `limit`
    // bytes.
    std::string adminRequest(const std::string& query, std::size_t limit);

    std::vector<char> send_buffer;
    SSProxy socket;
    CharsetConverter charset;
};

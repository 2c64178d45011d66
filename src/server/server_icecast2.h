#pragma once
// Icecast2 source connection: HTTP PUT with "Expect: 100-continue", falling
// back to a SOURCE request on a new connection when the server gives no
// answer or names itself "Kagamin2"; titles and the listener list go
// through the server's admin requests, each over a connection of its own.
#include "charset_converter.h"
#include "server.h"
#include "ss_proxy.h"

class ServerIcecast2 : public Server {
public:
    // Throws std::runtime_error when the record's charset is not supported
    // and Poco::ApplicationException for credentials that cannot be sent.
    explicit ServerIcecast2(const ServerSettings* settings);
    ~ServerIcecast2() override;

    void connect() override;
    void disconnect() override;
    void login(const EncoderSettings& encoder) override;
    int sendData(Poco::FIFOBuffer& fifo) override;
    void updateMetadata(const std::string& title) override;
    // The two arguments are not used: the source credentials serve.
    std::string listClients(const std::string& admin_user, const std::string& admin_password) override;

private:
    // The source request after `request_line`, with every header line.
    std::string sourceRequest(const std::string& request_line, const EncoderSettings& encoder,
                              const std::string& content_type);
    // Sends an admin GET request on a connection of its own and returns the
    // reply, its body at most `limit` bytes; anything but "200 OK" is thrown.
    std::string adminRequest(const std::string& path_and_query, std::size_t limit);

    std::vector<char> send_buffer;
    SSProxy socket;
    std::string credentials;
    CharsetConverter charset;
};

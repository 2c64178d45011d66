#include "http_client.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>

#include <chrono>
#include <sstream>

#include "server/ss_proxy.h"

HttpListener::HttpListener(int port, const std::string& mount, const std::string& user_agent)
{
    SSProxy::initializeNetwork();
    socket_.connect(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)), Poco::Timespan(5, 0));
    std::string request = "GET " + mount + " HTTP/1.0\r\n";
    if (!user_agent.empty())
        request += "User-Agent: " + user_agent + "\r\n";
    request += "\r\n";
    socket_.sendBytes(request.data(), static_cast<int>(request.size()));
    socket_.setReceiveTimeout(Poco::Timespan(0, 100000));
    thread_ = std::thread([this] { run(); });
}

HttpListener::~HttpListener()
{
    stop_ = true;
    thread_.join();
    socket_.close();
}

void HttpListener::run()
{
    char buffer[16384];
    while (!stop_) {
        int n;
        try {
            n = socket_.receiveBytes(buffer, sizeof buffer);
        } catch (Poco::TimeoutException&) {
            continue;
        } catch (Poco::Exception&) {
            return;
        }
        if (n <= 0)
            return;
        std::lock_guard<std::mutex> guard(lock_);
        // Keep the first 4 MiB; a test needs no more.
        if (reply_.size() < (4u << 20))
            reply_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool HttpListener::waitForAudio(std::size_t length)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (audio().size() >= length)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string HttpListener::head() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return reply_.substr(0, reply_.find("\r\n\r\n"));
}

std::string HttpListener::audio() const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t end = reply_.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply_.substr(end + 4);
}

std::string httpGet(int port, const std::string& path_and_query, const std::string& user, const std::string& password)
{
    SSProxy::initializeNetwork();
    Poco::Net::HTTPClientSession session("127.0.0.1", static_cast<Poco::UInt16>(port));
    session.setTimeout(Poco::Timespan(10, 0));
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path_and_query, Poco::Net::HTTPMessage::HTTP_1_0);
    Poco::Net::HTTPBasicCredentials(user, password).authenticate(request);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& body = session.receiveResponse(response);
    std::ostringstream out;
    Poco::StreamCopier::copyStream(body, out);
    if (response.getStatus() != Poco::Net::HTTPResponse::HTTP_OK)
        throw Poco::ApplicationException("HTTP " + std::to_string(response.getStatus()) + ": " + out.str());
    return out.str();
}

namespace {

std::map<std::string, std::string> askProbe(int probe_port, const std::string& method, const std::string& path,
                                            const std::string& body)
{
    SSProxy::initializeNetwork();
    Poco::Net::HTTPClientSession session("127.0.0.1", static_cast<Poco::UInt16>(probe_port));
    session.setTimeout(Poco::Timespan(120, 0));
    Poco::Net::HTTPRequest request(method, path, Poco::Net::HTTPMessage::HTTP_1_1);
    request.setContentLength(static_cast<std::streamsize>(body.size()));
    session.sendRequest(request) << body;
    Poco::Net::HTTPResponse response;
    std::istream& reply = session.receiveResponse(response);
    std::map<std::string, std::string> fields;
    std::string line;
    while (std::getline(reply, line)) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (response.getStatus() != Poco::Net::HTTPResponse::HTTP_OK)
        throw Poco::ApplicationException("decoding peer: " + fields["error"]);
    return fields;
}

} // namespace

std::map<std::string, std::string> probeStream(int probe_port, const std::string& encoded)
{
    return askProbe(probe_port, Poco::Net::HTTPRequest::HTTP_POST, "/probe", encoded);
}

std::map<std::string, std::string> listenAndProbe(int probe_port, int icecast_port, const std::string& mount,
                                                  double seconds)
{
    std::string query;
    Poco::URI::encode(mount, "&=#+/?", query);
    return askProbe(probe_port, Poco::Net::HTTPRequest::HTTP_GET,
                    "/listen?port=" + std::to_string(icecast_port) + "&mount=" + query +
                        "&seconds=" + std::to_string(seconds),
                    std::string());
}

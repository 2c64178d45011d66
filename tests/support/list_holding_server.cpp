#include "list_holding_server.h"

#include <Poco/URI.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// The value of `name` in the query of a request line, decoded.
std::string queryValue(const std::string& head, const std::string& name) {
    const std::size_t line_end = head.find("\r\n");
    const std::string line = head.substr(0, line_end);
    std::size_t at = line.find("?" + name + "=");
    if (at == std::string::npos)
        at = line.find("&" + name + "=");
    if (at == std::string::npos)
        return std::string();
    at += name.size() + 2;
    const std::size_t end = line.find_first_of("& ", at);
    std::string value;
    Poco::URI::decode(line.substr(at, end == std::string::npos ? std::string::npos : end - at), value, true);
    return value;
}

// Holds a reply while `held` is set and the client stays.
void waitWhile(FakeConnection& c, const std::atomic<bool>& held) {
    while (held && !c.stopping() && !c.closed())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

ListHoldingServer::ListHoldingServer()
    : service_(new LoopbackService([this](FakeConnection& c) { serve(c); })) {}

ListHoldingServer::~ListHoldingServer() { service_.reset(); }

std::vector<std::string> ListHoldingServer::titles(const std::string& mount) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    for (const auto& title : titles_)
        if (title.first == mount)
            out.push_back(title.second);
    return out;
}

std::vector<std::string> ListHoldingServer::sourceBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return source_bytes_;
}

void ListHoldingServer::serve(FakeConnection& c) {
    // (A loaded machine may take long over the request's head.)
    std::string head = c.readHead();
    while (head.find("\r\n\r\n") == std::string::npos && !c.closed() && !c.stopping())
        head += c.readHead();
    if (head.compare(0, 4, "PUT ") == 0) {
        source(c, head.size());
        return;
    }
    ++admin_requests_;
    if (head.compare(0, 20, "GET /admin/metadata?") == 0) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            titles_.emplace_back(queryValue(head, "mount"), queryValue(head, "song"));
        }
        waitWhile(c, hold_titles_);
        c.send("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>\n<iceresponse><message>"
               "Metadata update successful</message><return>1</return></iceresponse>\r\n");
    } else if (head.compare(0, 23, "GET /admin/listclients?") == 0) {
        ++list_requests_;
        c.send("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n");
        waitWhile(c, hold_);
        c.send("<?xml version=\"1.0\"?>\n<icestats><source mount=\"" + queryValue(head, "mount") +
               "\"><Listeners>0</Listeners></source></icestats>\n");
    } else {
        c.send("HTTP/1.0 404 Not Found\r\n\r\n");
    }
}

void ListHoldingServer::source(FakeConnection& c, std::size_t head_size) {
    // (The service closes the connection when this returns.)
    if (refuse_)
        return;
    const int drops = drops_;
    ++sources_;
    c.send("HTTP/1.1 100 Continue\r\n\r\n");
    while (drops_ == drops && !c.stopping() && !c.closed())
        c.readAvailable();
    std::lock_guard<std::mutex> guard(lock_);
    source_bytes_.push_back(c.received().substr(std::min(head_size, c.received().size())));
}

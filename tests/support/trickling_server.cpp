#include "trickling_server.h"

#include <thread>
#include <utility>

TricklingServer::TricklingServer(std::function<void()> trickling)
    : on_trickling_(std::move(trickling)), service_([this](FakeConnection& c) { serve(c); })
{
}

std::chrono::steady_clock::time_point TricklingServer::sourceClosed() const
{
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(source_closed_.load()));
}

void TricklingServer::serve(FakeConnection& c)
{
    const std::string head = c.readHead();
    if (head.compare(0, 4, "PUT ") == 0) {
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.waitForClose(Poco::Timespan(600, 0));
        if (c.closed())
            source_closed_ = std::chrono::steady_clock::now().time_since_epoch().count();
        return;
    }
    if (head.compare(0, 22, "GET /admin/listclients") != 0) {
        c.send("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>\n<iceresponse>"
               "<message>Metadata update successful</message><return>1</return></iceresponse>");
        return;
    }
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>"
                              "<icestats><source mount=\"/trickle\"><Listeners>0</Listeners></source></icestats>";
    for (char ch : reply) {
        c.send(std::string(1, ch));
        if (!trickling_.exchange(true) && on_trickling_)
            on_trickling_();
        for (int i = 0; i < 10 && !c.stopping(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

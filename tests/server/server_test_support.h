#pragma once
// Records and helpers shared by the server connection tests.
#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "listener_documents.h"
#include "plugin/settings.h"
#include "server/deadline.h"
#include "server/ss_proxy.h"
#include "ui/listener_xml.h"

namespace servertest {

// An Icecast2 record for a server on 127.0.0.1, without proxy, UTF-8.
inline ServerSettings icecast(int port, const std::string& mount, const std::string& password)
{
    ServerSettings s;
    s.type = SERVER_ICECAST2;
    s.host = "127.0.0.1";
    s.port = port;
    s.use_proxy = 0;
    s.proxy_host = "127.0.0.1";
    s.proxy_port = 9050;
    s.password = password;
    s.mount_point = mount;
    s.stream_id = 1;
    s.yp.name = "Stream Name";
    s.yp.desc = "Stream Description";
    s.yp.genre = "Genre";
    s.yp.url = "http://";
    s.yp.charset = "UTF-8";
    return s;
}

// A SHOUTcast record (type 1 or 2) for a server on 127.0.0.1: user "dj",
// stream id 1, public, with directory fields.
inline ServerSettings shoutcast(int type, int port, const std::string& password)
{
    ServerSettings s = icecast(port, "", password);
    s.type = type;
    s.username = "dj";
    s.yp.pub = true;
    s.yp.name = "Velmora Test";
    s.yp.genre = "Jazz";
    s.yp.url = "http://example.org/";
    return s;
}

// The roads to a scripted server: directly, directly with its replies split
// into single bytes, and through microsocks.
enum class Road { Direct, Bytewise, Microsocks };

inline std::string roadName(const ::testing::TestParamInfo<Road>& info)
{
    return info.param == Road::Bytewise ? "bytewise" : info.param == Road::Microsocks ? "microsocks" : "direct";
}

// Shortens the time every exchange may take while it lives.
class ExchangeLimit {
public:
    explicit ExchangeLimit(Poco::Timespan limit) : saved_(Deadline::exchangeLimit())
    {
        Deadline::setExchangeLimit(limit);
    }
    ~ExchangeLimit() { Deadline::setExchangeLimit(saved_); }

private:
    Poco::Timespan saved_;
};

// Shortens the time a batch of audio may take to leave while it lives.
class SendLimit {
public:
    explicit SendLimit(Poco::Timespan limit) : saved_(SSProxy::sendLimit()) { SSProxy::setSendLimit(limit); }
    ~SendLimit() { SSProxy::setSendLimit(saved_); }

private:
    Poco::Timespan saved_;
};

inline EncoderSettings encoder(int format, int sampling_rate, int channels, int bitrate)
{
    EncoderSettings e;
    e.format = format;
    e.sampling_rate = sampling_rate;
    e.channel = channels;
    e.bitrate = bitrate;
    return e;
}

// The listeners of a listener document as the Clients view reads them, one
// "ip | user agent | connected" line each; and the same of listener entries.
inline std::vector<std::string> clientRows(const std::string& xml)
{
    Poco::AutoPtr<Poco::Util::XMLConfiguration> document;
    std::vector<ClientInfo> records;
    parseListenerXml(xml, document, records);
    std::vector<std::string> rows;
    for (const ClientInfo& r : records)
        rows.push_back(r.ip + " | " + r.user_agent + " | " + r.connected);
    return rows;
}

inline std::vector<std::string> clientRows(const std::vector<ListenerEntry>& listeners)
{
    std::vector<std::string> rows;
    for (const ListenerEntry& l : listeners)
        rows.push_back(l.host + " | " + l.user_agent + " | " + l.connect_time);
    return rows;
}

// The message of the Poco exception that `f` throws.
template <class F>
std::string messageOf(F f)
{
    try {
        f();
    } catch (Poco::Exception& e) {
        return e.message();
    }
    return "(no exception)";
}

}  // namespace servertest

#pragma once
// Records and helpers shared by the server connection tests.
#include <Poco/Exception.h>

#include <string>

#include "plugin/settings.h"

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

inline EncoderSettings encoder(int format, int sampling_rate, int channels, int bitrate)
{
    EncoderSettings e;
    e.format = format;
    e.sampling_rate = sampling_rate;
    e.channel = channels;
    e.bitrate = bitrate;
    return e;
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

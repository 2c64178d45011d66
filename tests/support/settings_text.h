#pragma once
// Stored records as one line of text each, so that a failing comparison
// shows every field.
#include <sstream>
#include <string>

#include "plugin/settings.h"

namespace settings_text {

inline std::string describe(const EncoderSettings& s) {
    std::ostringstream out;
    out << "file=" << s.encoder_file << " params=" << s.encoder_params << " format=" << s.format
        << " program=" << s.program_file << " program_params=" << s.program_params << " wave=" << s.wave_format
        << " header=" << s.wave_header << " rate=" << s.sampling_rate << " channels=" << s.channel
        << " name=" << s.encoder_name << " bitrate=" << s.bitrate << " description=" << s.description;
    return out.str();
}

inline std::string describe(const ServerSettings& s) {
    std::ostringstream out;
    out << "type=" << s.type << " host=" << s.host << " port=" << s.port << " use_proxy=" << s.use_proxy
        << " proxy_host=" << s.proxy_host << " proxy_port=" << s.proxy_port << " user=" << s.username
        << " password=" << s.password << " mount=" << s.mount_point << " id=" << s.stream_id << " pub=" << s.yp.pub
        << " name=" << s.yp.name << " desc=" << s.yp.desc << " genre=" << s.yp.genre << " url=" << s.yp.url
        << " charset=" << s.yp.charset;
    return out.str();
}

inline std::string describe(const CommonSettings& s) {
    std::ostringstream out;
    out << "title=" << s.title_format << " vol=" << s.vol << " mute=" << s.mute
        << " auto_update=" << s.auto_update_metadata << " connect=" << s.connect_on_startup
        << " reconnect=" << s.auto_reconnect << " meter=" << s.vumeter_switch << " top=" << s.window_top
        << " left=" << s.window_left;
    return out.str();
}

}  // namespace settings_text

#pragma once
// Settings records: plain values copied whole wherever they pass. Strings
// hold UTF-8. The default constructors give empty strings and zero numbers
// and flags; the settings store fills in the real defaults.
#include <cstdint>
#include <string>

struct YpSettings {
    bool pub = false;
    std::string name;
    std::string desc;
    std::string genre;
    std::string url;
    std::string charset;
};

struct ServerSettings {
    // 0 Icecast2, 1 SHOUTcast v1, 2 SHOUTcast v2.
    std::int32_t type = 0;
    std::string host;
    std::int32_t port = 0;
    // 0 or 1: connect through the SOCKS5 proxy.
    std::int32_t use_proxy = 0;
    std::string proxy_host;
    std::int32_t proxy_port = 0;
    std::string username;
    std::string password;
    std::string mount_point;
    std::int32_t stream_id = 0;
    YpSettings yp;
};

struct EncoderSettings {
    std::string encoder_file;
    std::string encoder_params;
    // 0 MP3, 1 LC-AAC, 2 HE-AAC, 3 HE-AAC v2, 4 Ogg Vorbis, 5 Ogg FLAC, 6 Ogg Opus.
    std::int32_t format = 0;
    std::string program_file;
    std::string program_params;
    // 0 16-bit integer, 1 24-bit integer, 2 32-bit float.
    std::int32_t wave_format = 0;
    bool wave_header = false;
    std::int32_t sampling_rate = 0;
    std::int32_t channel = 0;
    std::string encoder_name;
    std::int32_t bitrate = 0;
    std::string description;
};

struct CommonSettings {
    std::string title_format;
    std::int32_t vol = 0;
    bool mute = false;
    bool auto_update_metadata = false;
    bool connect_on_startup = false;
    bool auto_reconnect = false;
    bool vumeter_switch = false;
    std::int32_t window_top = 0;
    std::int32_t window_left = 0;
};

struct StreamStatus {
    bool clients_requested = false;
    bool running = false;
    bool reconnecting = false;
    std::int32_t reconnect_count = 0;
    std::int32_t bytes_this_second = 0;
    std::uint64_t samples_read = 0;
    std::uint64_t seconds = 0;
    std::uint64_t bytes_sent = 0;
    std::string admin_user;
    std::string admin_password;
    std::string error_text;
};

// Server types and encoded formats by their stored numbers.
enum ServerType : std::int32_t { SERVER_ICECAST2 = 0, SERVER_SHOUTCAST1 = 1, SERVER_SHOUTCAST2 = 2 };
enum EncoderFormat : std::int32_t {
    FORMAT_MP3 = 0, FORMAT_LC_AAC = 1, FORMAT_HE_AAC = 2, FORMAT_HE_AAC_V2 = 3,
    FORMAT_OGG_VORBIS = 4, FORMAT_OGG_FLAC = 5, FORMAT_OGG_OPUS = 6
};
enum WaveFormat : std::int32_t { WAVE_INT16 = 0, WAVE_INT24 = 1, WAVE_FLOAT32 = 2 };

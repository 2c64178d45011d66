// Settings records: zeroed defaults and whole, independent copies.
#include <gtest/gtest.h>

#include "plugin/settings.h"

TEST(SettingsRecords, DefaultsAreZeroAndEmpty) {
    const ServerSettings server;
    EXPECT_EQ(server.type, 0);
    EXPECT_EQ(server.port, 0);
    EXPECT_EQ(server.use_proxy, 0);
    EXPECT_EQ(server.proxy_port, 0);
    EXPECT_EQ(server.stream_id, 0);
    EXPECT_TRUE(server.host.empty() && server.password.empty() && server.mount_point.empty());
    EXPECT_FALSE(server.yp.pub);
    EXPECT_TRUE(server.yp.name.empty() && server.yp.charset.empty());

    const EncoderSettings encoder;
    EXPECT_EQ(encoder.format, 0);
    EXPECT_EQ(encoder.wave_format, 0);
    EXPECT_FALSE(encoder.wave_header);
    EXPECT_EQ(encoder.sampling_rate, 0);
    EXPECT_EQ(encoder.channel, 0);
    EXPECT_EQ(encoder.bitrate, 0);
    EXPECT_TRUE(encoder.encoder_file.empty() && encoder.description.empty());

    const CommonSettings common;
    EXPECT_EQ(common.vol, 0);
    EXPECT_FALSE(common.mute || common.auto_update_metadata || common.connect_on_startup ||
                 common.auto_reconnect || common.vumeter_switch);
    EXPECT_EQ(common.window_top, 0);
    EXPECT_EQ(common.window_left, 0);

    const StreamStatus status;
    EXPECT_FALSE(status.clients_requested || status.running || status.reconnecting);
    EXPECT_EQ(status.reconnect_count, 0);
    EXPECT_EQ(status.bytes_this_second, 0);
    EXPECT_EQ(status.samples_read, 0u);
    EXPECT_EQ(status.seconds, 0u);
    EXPECT_EQ(status.bytes_sent, 0u);
    EXPECT_TRUE(status.error_text.empty() && status.admin_user.empty());
}

TEST(SettingsRecords, CopiesAreWholeAndIndependent) {
    ServerSettings server;
    server.host = "radio.example";
    server.port = 8000;
    server.yp.name = "Night \xE2\x99\xAA";
    server.yp.pub = true;
    ServerSettings copy = server;
    EXPECT_EQ(copy.host, "radio.example");
    EXPECT_EQ(copy.port, 8000);
    EXPECT_EQ(copy.yp.name, server.yp.name);
    EXPECT_TRUE(copy.yp.pub);
    copy.yp.name = "Day";
    EXPECT_EQ(server.yp.name, "Night \xE2\x99\xAA");

    // A status copied while a stream runs keeps the counters of that moment.
    StreamStatus status;
    status.running = true;
    status.bytes_sent = 1000;
    const StreamStatus snapshot = status;
    status.bytes_sent += 16000;
    status.seconds = 1;
    EXPECT_TRUE(snapshot.running);
    EXPECT_EQ(snapshot.bytes_sent, 1000u);
    EXPECT_EQ(snapshot.seconds, 0u);

    // Assignment to itself keeps the record.
    EncoderSettings encoder;
    encoder.encoder_params = "-r --flush --quiet -";
    encoder.sampling_rate = 44100;
    EncoderSettings& same = encoder;
    encoder = same;
    EXPECT_EQ(encoder.encoder_params, "-r --flush --quiet -");
    EXPECT_EQ(encoder.sampling_rate, 44100);
}

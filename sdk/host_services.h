#pragma once
// Services the player offers to components. Each interface lists its own
// operations in table order; they follow the three of service_base.
#include <cstdint>

#include "service.h"
#include "zof/string_base.h"

class audio_chunk;

// ---------------------------------------------------------------- console
class console : public service_base {
public:
    static constexpr GUID class_guid = {0x90DF5270, 0x65BB, 0x4DBA, {0xBA, 0xF5, 0x86, 0xBE, 0x9E, 0x59, 0xDC, 0x20}};
    typedef service_base parent_class;
    // 4: one message; `length` all bits set reads up to the zero byte.
    virtual void print(const char* text, zof::t_size length = zof::infinite_size) = 0;
protected:
    ~console() = default;
};

// ---------------------------------------------------------------- tracks
// What the player knows of a track's tags and stream information.
class track_info {
public:
    // The first value of a field (case-insensitive name), or null.
    virtual const char* meta_get(const char* name) const = 0;
protected:
    ~track_info() = default;
};

// A reference to a track of the player (a file, or a location such as an
// "http://" address).
class track_handle : public service_base {
public:
    static constexpr GUID class_guid = {0x91DAC7F5, 0x955D, 0x4C7F, {0x9D, 0x10, 0x23, 0x7A, 0x26, 0xAA, 0xE4, 0x88}};
    typedef service_base parent_class;
    // 4: the location, UTF-8.
    virtual const char* location_path() const = 0;
    // 5: the sub-song index within the location.
    virtual std::uint32_t subsong_index() const = 0;
    // 6: its tags, valid while the handle lives.
    virtual const track_info& info() const = 0;
protected:
    ~track_handle() = default;
};

// ---------------------------------------------------------------- title formatting
// Identifies the title-format output that must not be filtered.
inline constexpr GUID guid_titleformat_output_unfiltered = {0xCD839C8E, 0x5C66, 0x4AE1, {0x8D, 0xAD, 0x71, 0x1F, 0x86, 0x00, 0x0A, 0xE3}};

// Where a title-format hook writes what it produces.
class titleformat_text_out {
public:
    virtual void write(const GUID& output, const char* data, zof::t_size length = zof::infinite_size) = 0;
protected:
    ~titleformat_text_out() = default;
};

// Filters text on its way into a formatted title.
class titleformat_text_filter {
public:
    virtual void write(const GUID& output, zof::string_receiver& out, const char* data, zof::t_size length) = 0;
protected:
    ~titleformat_text_filter() = default;
};

// The parameters of a title-format function call.
class titleformat_hook_function_params {
public:
    virtual zof::t_size param_count() = 0;
    virtual void get_param(zof::t_size index, const char*& text, zof::t_size& length) = 0;
protected:
    ~titleformat_hook_function_params() = default;
};

// Supplies fields and functions to a title-format run before the player's
// own. Each answers true when it knows the name; `found` tells whether the
// field had a value (for optional sections).
class titleformat_hook {
public:
    virtual bool process_field(titleformat_text_out* out, const char* name, zof::t_size name_length, bool& found) = 0;
    virtual bool process_function(titleformat_text_out* out, const char* name, zof::t_size name_length,
                                  titleformat_hook_function_params* params, bool& found) = 0;
protected:
    ~titleformat_hook() = default;
};

// A compiled title-format script.
class titleformat_object : public service_base {
public:
    static constexpr GUID class_guid = {0x791A9EE4, 0xFD17, 0x4C3C, {0x84, 0xA1, 0xBA, 0x62, 0x26, 0x9B, 0x50, 0x44}};
    typedef service_base parent_class;
    // 4: formats with the fields of `hook` alone (no track).
    virtual void run(titleformat_hook* hook, zof::string_base& out, titleformat_text_filter* filter) = 0;
protected:
    ~titleformat_object() = default;
};

class titleformat_compiler : public service_base {
public:
    static constexpr GUID class_guid = {0x3F7674AB, 0x044C, 0x4796, {0x88, 0x01, 0x6C, 0x44, 0x3C, 0x24, 0x4D, 0x88}};
    typedef service_base parent_class;
    // 4: compiles `script`; false on a syntax error (then `out` is left alone).
    virtual bool compile(service_ptr_t<titleformat_object>& out, const char* script) = 0;
protected:
    ~titleformat_compiler() = default;
};

class playback_control : public service_base {
public:
    static constexpr GUID class_guid = {0xBF803668, 0x2977, 0x4C71, {0xB9, 0xAB, 0x5C, 0x77, 0xC3, 0x38, 0xC9, 0x70}};
    typedef service_base parent_class;
    // Flags of format_title: 1 show the playing time, 2 show the dynamic
    // (stream) information; the component passes both.
    enum : std::uint32_t { format_flag_time = 1, format_flag_dynamic_info = 2 };

    // 4: true while a track plays. Components call it after format_title
    // answered false, without using its answer.
    virtual bool is_playing() = 0;
    // 5: formats the playing track; false when nothing plays (then `out`
    // is left alone).
    virtual bool format_title(titleformat_hook* hook, zof::string_base& out, const service_ptr_t<titleformat_object>& script,
                              titleformat_text_filter* filter, std::uint32_t flags) = 0;
protected:
    ~playback_control() = default;
};

// ---------------------------------------------------------------- play callbacks
// Play notifications. The flag of notification n (from 0) is bit n of the
// registration mask. The ten notifications come first in the table; an
// implementation may add its destructor after them.
class play_callback {
public:
    enum : std::uint32_t {
        flag_starting = 1u << 0,
        flag_new_track = 1u << 1,
        flag_stop = 1u << 2,
        flag_seek = 1u << 3,
        flag_pause = 1u << 4,
        flag_edited = 1u << 5,
        flag_dynamic_info = 1u << 6,
        flag_dynamic_info_track = 1u << 7,
        flag_time = 1u << 8,
        flag_volume_change = 1u << 9,
    };
    enum stop_reason : std::uint32_t { stop_user = 0, stop_eof = 1, stop_starting_another = 2, stop_shutting_down = 3 };

    // 1: playback is about to start (command code, start paused).
    virtual void on_playback_starting(std::uint32_t command, bool paused) = 0;
    // 2: a new track starts; the callee owns the passed reference.
    virtual void on_playback_new_track(service_ptr_t<track_handle> track) = 0;
    // 3: playback stopped.
    virtual void on_playback_stop(stop_reason reason) = 0;
    // 4: seek to a position in seconds.
    virtual void on_playback_seek(double seconds) = 0;
    // 5: paused (true) or resumed (false).
    virtual void on_playback_pause(bool paused) = 0;
    // 6: the playing track's tags were edited.
    virtual void on_playback_edited(service_ptr_t<track_handle> track) = 0;
    // 7: stream information of the playing source changed (bit rate...).
    virtual void on_playback_dynamic_info(const track_info& info) = 0;
    // 8: the track information of a stream changed (a new title on a radio).
    virtual void on_playback_dynamic_info_track(const track_info& info) = 0;
    // 9: once a second while playing.
    virtual void on_playback_time(double seconds) = 0;
    // 10: the player's volume changed (dB).
    virtual void on_volume_change(float db) = 0;
protected:
    ~play_callback() = default;
};

class play_callback_manager : public service_base {
public:
    static constexpr GUID class_guid = {0x78BCBFA1, 0xDFB9, 0x487F, {0xAB, 0x16, 0xCD, 0x82, 0xBF, 0x90, 0xCC, 0xF7}};
    typedef service_base parent_class;
    // 4: `flags` selects the notifications; with `forward_status` the
    // present state (new track, pause) is delivered at once.
    virtual void register_callback(play_callback* callback, std::uint32_t flags, bool forward_status) = 0;
    // 5: no notification reaches the callback after this returns.
    virtual void unregister_callback(play_callback* callback) = 0;
protected:
    ~play_callback_manager() = default;
};

// ---------------------------------------------------------------- capture
// Receives every chunk of played audio on the player's capture thread.
class playback_stream_capture_callback {
public:
    virtual void chunk_captured(const audio_chunk& chunk) = 0;
protected:
    ~playback_stream_capture_callback() = default;
};

class playback_stream_capture : public service_base {
public:
    static constexpr GUID class_guid = {0x9423439E, 0x8CD5, 0x45D7, {0xAA, 0x6D, 0x4B, 0x98, 0x0C, 0x22, 0x93, 0x3E}};
    typedef service_base parent_class;
    // 4
    virtual void add_callback(playback_stream_capture_callback* callback) = 0;
    // 5: no chunk reaches the callback after this returns.
    virtual void remove_callback(playback_stream_capture_callback* callback) = 0;
protected:
    ~playback_stream_capture() = default;
};

// ---------------------------------------------------------------- visualisation
class vis_stream : public service_base {
public:
    static constexpr GUID class_guid = {0xD30D8B99, 0x7845, 0x44CA, {0x8C, 0xC0, 0xD9, 0xBB, 0x57, 0xD5, 0x6D, 0xBC}};
    typedef service_base parent_class;
    // 4: the current absolute playback time in seconds; false when none.
    virtual bool get_time(double& seconds) = 0;
    // 5: the played audio of `length` seconds at absolute time `start`
    // into `chunk`; false when that audio is not available.
    virtual bool get_chunk(audio_chunk& chunk, double start, double length) = 0;
protected:
    ~vis_stream() = default;
};

class vis_stream_manager : public service_base {
public:
    static constexpr GUID class_guid = {0x98B00B13, 0x8C0E, 0x49FF, {0xB1, 0x7C, 0x5E, 0x53, 0x7D, 0x3A, 0xE4, 0xB7}};
    typedef service_base parent_class;
    // Flag 1: the stream follows the playing position in real time (the
    // mode components ask for).
    enum : std::uint32_t { flag_follow_playback = 1 };
    // 4
    virtual void create_stream(service_ptr_t<vis_stream>& out, std::uint32_t flags) = 0;
protected:
    ~vis_stream_manager() = default;
};

#pragma once
// A service of the stand-in player (a real player offers none): it can
// play faster than real time, as fast as the receivers of its capture
// callbacks take the audio. While it does, a capture callback may hold the
// capture thread back until its receivers have room; in real time nothing
// may hold it back, and a player without this service always plays in
// real time.
#include "service.h"

class fast_playback : public service_base {
public:
    static constexpr GUID class_guid = {0x12050E01, 0x387D, 0x4231, {0xB6, 0x8B, 0x50, 0x42, 0x08, 0x54, 0x29, 0xB1}};
    typedef service_base parent_class;
    // 4: true when the list that plays (or played last) plays faster than
    // real time.
    virtual bool is_fast() = 0;
protected:
    ~fast_playback() = default;
};

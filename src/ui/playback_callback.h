#pragma once
// Brings the player's track changes to the main window: a new track (one
// whose location is not an "http://" address) and a change of the playing
// track's information record the artist and title in the running streams
// and, with "Auto-update" on, have the window's worker send the title.
// Registered with the player while the object lives.
#include <memory>

#include "host_services.h"

class CMainDlg;

class playback_callback : public play_callback {
public:
    // Creates the callback for `window`, registers it (new track, stop,
    // pause and track information, the present state forwarded at once)
    // and hands it over in `out`, deleting what `out` held.
    static void create(std::unique_ptr<playback_callback>& out, CMainDlg* window);
    // Unregisters from the player.
    virtual ~playback_callback();
    playback_callback(const playback_callback&) = delete;
    playback_callback& operator=(const playback_callback&) = delete;

    void on_playback_starting(std::uint32_t, bool) override {}
    void on_playback_new_track(service_ptr_t<track_handle> track) override;
    void on_playback_stop(stop_reason) override {}
    void on_playback_seek(double) override {}
    void on_playback_pause(bool) override {}
    void on_playback_edited(service_ptr_t<track_handle> track) override { track.release(); }
    void on_playback_dynamic_info(const track_info&) override {}
    void on_playback_dynamic_info_track(const track_info& info) override;
    void on_playback_time(double) override {}
    void on_volume_change(float) override {}

private:
    explicit playback_callback(CMainDlg* window) : window_(window) {}
    void trackChanged();

    CMainDlg* const window_;
    bool registered_ = false;
};

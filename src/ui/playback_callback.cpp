// The playback callback.
#include "ui/playback_callback.h"

#include "console.h"
#include "engine/failure_text.h"
#include "service_lookup.h"
#include "ui/main_dlg.h"

namespace {
// New track, stop, pause and track information.
constexpr std::uint32_t kNotifications = play_callback::flag_new_track | play_callback::flag_stop |
                                         play_callback::flag_pause | play_callback::flag_dynamic_info_track;
static_assert(kNotifications == 0x96, "the notifications the window follows");
} // namespace

void playback_callback::create(std::unique_ptr<playback_callback>& out, CMainDlg* window) {
    std::unique_ptr<playback_callback> callback(new playback_callback(window));
    service_ptr_t<play_callback_manager> manager;
    create_host_service(manager);
    manager->register_callback(callback.get(), kNotifications, true);
    callback->registered_ = true;
    out = std::move(callback);
}

playback_callback::~playback_callback() {
    if (!registered_) return;
    try {
        service_ptr_t<play_callback_manager> manager;
        create_host_service(manager);
        manager->unregister_callback(this);
    } catch (...) {
        console_printf("velmora: the playback callback could not be unregistered: %s", currentFailureText().c_str());
    }
}

void playback_callback::on_playback_new_track(service_ptr_t<track_handle> track) {
    try {
        const char* path = track.is_valid() ? track->location_path() : nullptr;
        const std::string location = path ? path : "";
        track.release();
        // A network stream tells its titles through its track information.
        if (location.compare(0, 7, "http://") == 0) return;
        trackChanged();
    } catch (...) {
        console_printf("velmora: title update failed: %s", currentFailureText().c_str());
    }
}

void playback_callback::on_playback_dynamic_info_track(const track_info&) {
    try {
        trackChanged();
    } catch (...) {
        console_printf("velmora: title update failed: %s", currentFailureText().c_str());
    }
}

void playback_callback::trackChanged() {
    window_->updateTitle(true);
    if (window_->autoUpdateMetadata()) window_->requestMetadataUpdate(true);
}

#include "engine/psc_callback.h"

#include <algorithm>
#include <string>

#include "console.h"
#include "engine/failure_text.h"
#include "service_lookup.h"

namespace {

// Console lines of the capture thread; a console that fails is ignored.
template <class... Args>
void report(const char* format, Args... args) {
    try {
        console_printf(format, args...);
    } catch (...) {
    }
}

} // namespace

psc_callback::psc_callback() {
    service_ptr_t<playback_stream_capture> capture;
    create_host_service(capture);
    capture->add_callback(this);
}

psc_callback::~psc_callback() {
    try {
        service_ptr_t<playback_stream_capture> capture;
        create_host_service(capture);
        capture->remove_callback(this);
    } catch (...) {
        // The player is going away; there is no one left to tell.
    }
}

void psc_callback::create(std::unique_ptr<psc_callback>& out) { out.reset(new psc_callback()); }

void psc_callback::chunk_captured(const audio_chunk& chunk) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& entry : listeners_) {
        try {
            entry.listener->onChunk(chunk);
        } catch (...) {
            if (entry.failures++ == 0)
                report("velmora: a stream failed to take captured audio: %s", currentFailureText().c_str());
            continue;
        }
        if (entry.failures != 0) {
            report("velmora: a stream takes captured audio again after %llu failed chunks",
                   static_cast<unsigned long long>(entry.failures));
            entry.failures = 0;
        }
    }
}

void psc_callback::addListener(psc_listener* listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.push_back(Entry{listener, 0});
}

void psc_callback::removeListener(psc_listener* listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(listeners_.begin(), listeners_.end(),
                           [listener](const Entry& entry) { return entry.listener == listener; });
    if (it != listeners_.end())
        listeners_.erase(it);
}

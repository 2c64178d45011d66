#pragma once
// The capture callback: the player hands it every chunk of played audio on
// its capture thread, and it hands each chunk on to its listeners (the
// running streams) in the order they were added.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host_services.h"

class audio_chunk;

// A receiver of captured audio.
class psc_listener {
public:
    virtual void onChunk(const audio_chunk& chunk) = 0;

protected:
    ~psc_listener() = default;
};

class psc_callback : public playback_stream_capture_callback {
public:
    // Registers with the player's capture service ("Service not found"
    // when the player has none).
    psc_callback();
    // Unregisters from the player before the list goes.
    virtual ~psc_callback();
    psc_callback(const psc_callback&) = delete;
    psc_callback& operator=(const psc_callback&) = delete;

    static void create(std::unique_ptr<psc_callback>& out);

    // On the capture thread: every listener gets the chunk, in list order.
    // A listener that throws is reported on the console (once until it
    // takes a chunk again) and the others still get the chunk; nothing
    // passes to the player.
    void chunk_captured(const audio_chunk& chunk) override;

    // Appends `listener` (the same one may stand twice).
    void addListener(psc_listener* listener);
    // Removes its first occurrence; waits for a delivery in progress, so
    // the listener gets no chunk after this returns. A listener must not
    // add or remove listeners from its onChunk.
    void removeListener(psc_listener* listener);

private:
    struct Entry {
        psc_listener* listener;
        // Chunks it failed to take since its last success.
        std::uint64_t failures;
    };

    std::mutex mutex_;
    std::vector<Entry> listeners_;
};

#pragma once
// Plain HTTP clients for checking a server from the listener's side.
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// A listener on an icecast mount: a raw GET (with the given User-Agent, or
// none when empty) whose reply is read on a thread of its own until the
// object is destroyed.
class HttpListener {
public:
    HttpListener(int port, const std::string& mount, const std::string& user_agent);
    ~HttpListener();
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    // Waits (at most 10 s) until `length` bytes of audio have arrived.
    bool waitForAudio(std::size_t length);
    // The reply's head (status line and headers) and the audio after it.
    std::string head() const;
    std::string audio() const;

private:
    void run();

    Poco::Net::StreamSocket socket_;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::string reply_;
    std::thread thread_;
};

// GET of an admin or status page with Basic credentials; returns the body.
// Throws Poco::Exception on failure.
std::string httpGet(int port, const std::string& path_and_query, const std::string& user, const std::string& password);

// What the decoding peer (scripts/probe-peer.py, on `probe_port`) finds in
// an encoded stream: ffprobe's codec_name, sample_rate, channels and
// format_name, and decoded_seconds and decode_errors from decoding it all.
// Throws Poco::Exception when the peer cannot be asked.
std::map<std::string, std::string> probeStream(int probe_port, const std::string& encoded);
// The same for what a listener on the icecast2 `mount` receives in `seconds`.
std::map<std::string, std::string> listenAndProbe(int probe_port, int icecast_port, const std::string& mount,
                                                  double seconds);

#pragma once
// An Icecast2 server in miniature for the requests beside the audio: it
// takes every source (PUT, 100 Continue) and reads it until it closes or
// is dropped, records the titles of /admin/metadata, and answers
// /admin/listclients with an empty listener list whose body it holds back
// while hold() is set, as a server with a slow listener list does (and
// the reply to a title while holdTitles() is set). It can
// drop its sources and refuse new ones, as a server that restarts or goes.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_server.h"

class ListHoldingServer {
public:
    ListHoldingServer();
    ~ListHoldingServer();
    ListHoldingServer(const ListHoldingServer&) = delete;
    ListHoldingServer& operator=(const ListHoldingServer&) = delete;

    int port() const { return service_->port(); }

    // Titles taken for `mount`, in order.
    std::vector<std::string> titles(const std::string& mount) const;
    // Listener requests that arrived.
    int listRequests() const { return list_requests_; }
    // Admin requests of any kind that arrived.
    int adminRequests() const { return admin_requests_; }
    // Sources that logged in.
    int sources() const { return sources_; }
    // What each source sent after its request's head, in the order the
    // sources ended.
    std::vector<std::string> sourceBytes() const;

    // While set, a listener list's body waits after the reply's head.
    void hold(bool on) { hold_ = on; }
    // While set, the reply to a title (recorded at once) waits.
    void holdTitles(bool on) { hold_titles_ = on; }
    // Closes every source connection now.
    void dropSources() { ++drops_; }
    // While set, a source is closed without a reply.
    void refuseSources(bool on) { refuse_ = on; }

private:
    void serve(FakeConnection& c);
    void source(FakeConnection& c, std::size_t head_size);

    mutable std::mutex lock_;
    std::vector<std::pair<std::string, std::string>> titles_;
    std::vector<std::string> source_bytes_;
    std::atomic<int> list_requests_{0};
    std::atomic<int> admin_requests_{0};
    std::atomic<int> sources_{0};
    std::atomic<int> drops_{0};
    std::atomic<bool> hold_{false};
    std::atomic<bool> hold_titles_{false};
    std::atomic<bool> refuse_{false};
    std::unique_ptr<LoopbackService> service_;
};

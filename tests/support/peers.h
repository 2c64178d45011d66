#pragma once
// Peers the tests talk to, all on 127.0.0.1: icecast2 (which also takes
// SHOUTcast v1 sources for kIcecastShoutcastMount on its port + 1),
// microsocks (open and demanding a password), danted and the decoding peer
// (ffprobe and ffmpeg for the tests under Wine, see http_client.h). Natively a peer is
// started on a free port the first time a test asks for it and stopped by
// PID when the test program ends; the Windows build, which runs under Wine
// and cannot start Linux programs, takes the ports that
// scripts/test-peers.sh passes in VELMORA_PEER_* variables. The same script
// writes the peers' configs, so the constants below match it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace peers {

// Source password, admin user and admin password of the icecast2 peer.
extern const char* const kIcecastSourcePassword;
extern const char* const kIcecastAdminUser;
extern const char* const kIcecastAdminPassword;
// The icecast2 peer's mount for SHOUTcast v1 sources.
extern const char* const kIcecastShoutcastMount;
// User and password the authenticating microsocks demands.
extern const char* const kSocksUser;
extern const char* const kSocksPassword;

// Mount "/credN" of the icecast2 peer takes the source password that makes
// "source:<password>" exactly N bytes long (N = 53, 54, 60).
std::string credentialPassword(int total_length);

enum class Kind { Icecast, Microsocks, MicrosocksAuth, Danted, Probe };

// The port of a running peer, or 0 when none can be had; `why` then says
// why.
int port(Kind kind, std::string* why);

// True under CI=true, where a missing peer is a failure.
bool required();

// A free TCP port on 127.0.0.1 (nothing listens on it, nor on the next
// one, right now).
int freePort();

#if !defined(_WIN32)
// A peer of the test's own, which the test may stop (native builds only).
class OwnPeer {
public:
    explicit OwnPeer(Kind kind);
    ~OwnPeer();
    OwnPeer(const OwnPeer&) = delete;
    OwnPeer& operator=(const OwnPeer&) = delete;

    // 0 when it did not start; why() then says why.
    int port() const;
    const std::string& why() const { return why_; }
    // Ends the peer (by PID) and waits for it.
    void stop();

private:
    struct Process;
    std::unique_ptr<Process> process_;
    std::string why_;
};
#endif

}  // namespace peers

// Sets `var` to the peer's port, or fails (CI) / skips the test.
#define VELMORA_PEER_PORT(var, kind)                                         \
    int var = 0;                                                             \
    do {                                                                     \
        std::string why_;                                                    \
        var = peers::port(kind, &why_);                                      \
        if (var == 0) {                                                      \
            if (peers::required())                                           \
                FAIL() << why_;                                              \
            GTEST_SKIP() << why_;                                            \
        }                                                                    \
    } while (0)

#include "peers.h"

#include <Poco/Environment.h>
#include <Poco/File.h>
#include <Poco/NumberParser.h>
#include <Poco/Path.h>
#include <Poco/Process.h>
#include <Poco/TemporaryFile.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <chrono>
#include <csignal>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "http_client.h"
#include "server/ss_proxy.h"

namespace peers {

const char* const kIcecastSourcePassword = "hackme-source";
const char* const kIcecastAdminUser = "admin";
const char* const kIcecastAdminPassword = "hackme-admin";
const char* const kIcecastShoutcastMount = "/shoutcast";
const char* const kSocksUser = "velmora";
const char* const kSocksPassword = "socks-secret";

std::string credentialPassword(int total_length)
{
    std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string result;
    while (result.size() < static_cast<std::size_t>(total_length - 7))
        result += pattern;
    return result.substr(0, static_cast<std::size_t>(total_length - 7));
}

bool required()
{
    return Poco::Environment::get("CI", "") == "true";
}

int freePort()
{
    SSProxy::initializeNetwork();
    // Below the kernel's ephemeral range (32768 and up), so that no outgoing
    // connection of a test can take the port between this check and the
    // peer's own bind; random, so that tests running side by side rarely pick
    // the same one.
    static std::mutex lock;
    static std::minstd_rand random(static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ Poco::Process::id()));
    std::lock_guard<std::mutex> guard(lock);
    // The next port must be free too: icecast takes SHOUTcast sources there.
    for (int attempt = 0; attempt < 500; ++attempt) {
        int port = 20000 + static_cast<int>(random() % 12767);
        try {
            Poco::Net::ServerSocket socket, next;
            socket.bind(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)), false);
            next.bind(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port + 1)), false);
            return port;
        } catch (Poco::Exception&) {
        }
    }
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    return socket.address().port();
}

namespace {

const char* envName(Kind kind)
{
    switch (kind) {
    case Kind::Icecast: return "VELMORA_PEER_ICECAST_PORT";
    case Kind::Microsocks: return "VELMORA_PEER_MICROSOCKS_PORT";
    case Kind::MicrosocksAuth: return "VELMORA_PEER_MICROSOCKS_AUTH_PORT";
    case Kind::Danted: return "VELMORA_PEER_DANTED_PORT";
    case Kind::Probe: return "VELMORA_PEER_PROBE_PORT";
    }
    return "";
}

#ifndef _WIN32
bool accepts(int port)
{
    try {
        Poco::Net::StreamSocket probe;
        probe.connect(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)), Poco::Timespan(1, 0));
        probe.close();
        return true;
    } catch (Poco::Exception&) {
        return false;
    }
}

bool answersHttp(int port)
{
    try {
        return httpGet(port, "/admin/stats", kIcecastAdminUser, kIcecastAdminPassword).find("<icestats>") !=
               std::string::npos;
    } catch (std::exception&) {
        return false;
    }
}

std::string scriptPath()
{
    std::string root = Poco::Environment::get("VELMORA_SOURCE_DIR", "");
    if (root.empty())
        root = Poco::Path(__FILE__).parent().parent().parent().toString();
    return Poco::Path(root).append("scripts/test-peers.sh").toString();
}

// One peer process, started through the script and stopped by PID.
class PeerProcess {
public:
    PeerProcess(Kind kind, std::string* why) : kind_(kind)
    {
        const char* program = kind == Kind::Icecast ? "icecast2"
                              : kind == Kind::Danted ? "danted"
                              : kind == Kind::Probe  ? "ffprobe"
                                                     : "microsocks";
        const char* dirs[] = {"/usr/bin/", "/usr/sbin/", "/usr/local/bin/", "/usr/local/sbin/"};
        bool found = false;
        for (const char* d : dirs)
            found = found || Poco::File(std::string(d) + program).exists();
        if (!found) {
            *why = std::string(program) + " is not installed (bash scripts/setup.sh installs it)";
            return;
        }
        // A peer that ends before it is ready is started again on another
        // port: another program may take the port between our check and
        // the peer's bind, and icecast2 has been seen to die on a busy
        // machine while answering its very first request.
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (start(program, why))
                return;
        }
    }
    ~PeerProcess() { stop(); }
    int port() const { return port_; }

private:
    bool start(const char* program, std::string* why)
    {
        port_ = freePort();
        std::string p = std::to_string(port_);
        Poco::Process::Args args{scriptPath()};
        switch (kind_) {
        case Kind::Icecast:
        case Kind::Danted: {
            dir_ = Poco::TemporaryFile::tempName();
            Poco::File(dir_).createDirectories();
            args.push_back(kind_ == Kind::Icecast ? "icecast" : "danted");
            args.push_back(dir_);
            args.push_back(p);
            break;
        }
        case Kind::Microsocks: args.insert(args.end(), {"microsocks", p}); break;
        case Kind::MicrosocksAuth: args.insert(args.end(), {"microsocks", p, kSocksUser, kSocksPassword}); break;
        case Kind::Probe: args.insert(args.end(), {"probe", p}); break;
        }
        handle_.reset(new Poco::ProcessHandle(Poco::Process::launch("bash", args)));
        exit_code_ = -1;
        for (int i = 0; i < 200 && running(); ++i) {
            // Our peer, and not someone else who took the port meanwhile:
            // it must still run once the port answers, and icecast must
            // answer a request.
            if (accepts(port_) && (kind_ != Kind::Icecast || answersHttp(port_)) && running())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        *why = std::string(program) + " did not start on port " + p +
               (exit_code_ < 0 ? std::string() : " (it ended with status " + std::to_string(exit_code_) + ")");
        stop();
        port_ = 0;
        return false;
    }

    // Whether the peer still runs. Poco's isRunning() takes a child that
    // has ended but was not waited for as running; this waits for it.
    bool running()
    {
        if (handle_ && exit_code_ < 0)
            exit_code_ = handle_->tryWait();
        return handle_ && exit_code_ < 0;
    }

    void stop()
    {
        if (handle_) {
            if (running()) {
                // SIGTERM, which the script passes on to its peer. (Poco's
                // requestTermination sends SIGINT, which a shell started in
                // the background of a script ignores and cannot trap: the
                // script would be killed after the wait below and its peer
                // left running, holding the connections made to it.)
                ::kill(static_cast<pid_t>(handle_->id()), SIGTERM);
                for (int i = 0; i < 100 && running(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (running()) {
                    Poco::Process::kill(*handle_);
                    handle_->wait();
                }
            }
            handle_.reset();
        }
        if (!dir_.empty()) {
            try {
                Poco::File(dir_).remove(true);
            } catch (Poco::Exception&) {
            }
            dir_.clear();
        }
    }

    Kind kind_;
    int port_ = 0;
    std::string dir_;
    std::unique_ptr<Poco::ProcessHandle> handle_;
    int exit_code_ = -1;  // once the peer has ended
};
#endif

}  // namespace

#ifndef _WIN32
struct OwnPeer::Process {
    explicit Process(Kind kind, std::string* why) : peer(kind, why) {}
    PeerProcess peer;
};

OwnPeer::OwnPeer(Kind kind) : process_(new Process(kind, &why_)) {}

OwnPeer::~OwnPeer() = default;

int OwnPeer::port() const
{
    return process_ ? process_->peer.port() : 0;
}

void OwnPeer::stop()
{
    process_.reset();
}
#endif

int port(Kind kind, std::string* why)
{
    std::string given = Poco::Environment::get(envName(kind), "");
    int value = 0;
    if (!given.empty() && Poco::NumberParser::tryParse(given, value) && value > 0)
        return value;
#ifdef _WIN32
    *why = std::string(envName(kind)) + " is not set: run the test through scripts/test-peers.sh run";
    return 0;
#else
    static std::mutex lock;
    static std::map<Kind, std::unique_ptr<PeerProcess>> started;
    std::lock_guard<std::mutex> guard(lock);
    auto& peer = started[kind];
    if (!peer)
        peer.reset(new PeerProcess(kind, why));
    else if (peer->port() == 0)
        *why = "the peer did not start earlier in this run";
    return peer->port();
#endif
}

}  // namespace peers

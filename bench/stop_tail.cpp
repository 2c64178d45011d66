// What a stop delivers of a late tail: an encoder that writes its last
// bytes 300 ms after its input ended and then stays (the tests' latetail
// program) streams to a server on loopback that reads all it gets; the
// stream is stopped, and the server counts what arrived. The programs get
// the stop's second of grace less a part kept for the final send, so the
// stop ends at about 0.8 s when the send goes at once and within the
// second when the socket takes it slowly. Each size is stopped
// VELMORA_BENCH_ROUNDS times (default 5); the rows give how many stops
// delivered the whole tail, the median of the bytes that arrived and the
// longest stop. The sizes go up to what the stream's output holds (12
// bytes a sample of each channel: 1 MB at 44.1 kHz stereo).
//
// Target: every tail arrives whole, and every stop ends within about a
// second (1.3 s).
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Path.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "engine/stream.h"
#include "kestrune.h"
#include "player.h"
#include "server/ss_proxy.h"

namespace {

const std::string kEnd = "END OF TAIL";

class Events : public StreamEventListener {
public:
    void onStreamEvent(Stream* stream, int event) override {
        if (event == EVENT_ERROR)
            std::printf("stream error: %s\n", stream->status().error_text.c_str());
    }
};

// Takes one source request and reads all that comes until the stream
// closes: the bytes after the request head, and whether they ended with
// the tail's end mark.
class ReadingServer {
public:
    ReadingServer() : socket_(Poco::Net::SocketAddress("127.0.0.1", 0)) {
        thread_ = std::thread([this] { serve(); });
    }
    ~ReadingServer() {
        if (thread_.joinable())
            thread_.join();
    }
    int port() const { return socket_.address().port(); }
    // Waits for the stream to close; the bytes it sent after its head.
    std::size_t finish(bool& whole) {
        thread_.join();
        whole = whole_;
        return bytes_;
    }

private:
    void serve() {
        try {
            Poco::Net::StreamSocket connection = socket_.acceptConnection();
            connection.setReceiveTimeout(Poco::Timespan(30, 0));
            std::vector<char> buffer(1 << 20);
            std::string head;
            std::string last;
            bool in_body = false;
            for (;;) {
                const int n = connection.receiveBytes(buffer.data(), static_cast<int>(buffer.size()));
                if (n <= 0)
                    break;
                std::string piece(buffer.data(), static_cast<std::size_t>(n));
                if (!in_body) {
                    head += piece;
                    const std::size_t end = head.find("\r\n\r\n");
                    if (end == std::string::npos)
                        continue;
                    in_body = true;
                    piece = head.substr(end + 4);
                    connection.sendBytes("HTTP/1.1 100 Continue\r\n\r\n", 25);
                }
                bytes_ += piece.size();
                last += piece;
                if (last.size() > kEnd.size())
                    last.erase(0, last.size() - kEnd.size());
            }
            whole_ = last == kEnd;
        } catch (const Poco::Exception& e) {
            std::printf("server: %s\n", e.displayText().c_str());
        }
    }

    Poco::Net::ServerSocket socket_;
    std::thread thread_;
    std::size_t bytes_ = 0;
    bool whole_ = false;
};

struct Stop {
    std::size_t bytes;
    bool whole;
    double seconds;
};

Stop stopWithTail(const std::string& program, std::size_t tail) {
    ReadingServer server;
    EncoderSettings encoder;
    encoder.encoder_file = program;
    encoder.encoder_params = "300 " + std::to_string(tail) + " 60000";
    encoder.format = FORMAT_MP3;
    encoder.sampling_rate = bench::kRate;
    encoder.channel = bench::kChannels;
    ServerSettings settings;
    settings.type = SERVER_ICECAST2;
    settings.host = "127.0.0.1";
    settings.port = server.port();
    settings.password = "hackme";
    settings.mount_point = "/tail";
    settings.yp.charset = "UTF-8";
    Events events;
    Stop result{};
    {
        Stream stream(&events, encoder, settings);
        stream.start(nullptr);
        if (!stream.status().running) {
            std::printf("the stream did not start: %s\n", stream.status().error_text.c_str());
            std::exit(1);
        }
        const auto before = std::chrono::steady_clock::now();
        stream.stop();
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    }
    result.bytes = server.finish(result.whole);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    (void)argc;
    SSProxy::initializeNetwork();
    kestrune_host::player host;
    kestrune_get_interface(&host.api(), nullptr)->mark_services_ready(true);
    Poco::Path program(Poco::Path(argv[0]).makeAbsolute().parent());
#if defined(_WIN32)
    program.setFileName("latetail.exe");
#else
    program.setFileName("latetail");
#endif
    const char* rounds_text = std::getenv("VELMORA_BENCH_ROUNDS");
    const int rounds = rounds_text ? std::max(1, std::atoi(rounds_text)) : 5;
    std::printf("stop with a late tail: %d stops a size, the tail 300 ms after the input ended\n", rounds);
    std::printf("%10s %8s %14s %10s\n", "tail", "whole", "median bytes", "max stop");
    bool met = true;
    for (const std::size_t kb : {64u, 256u, 512u, 1024u}) {
        const std::size_t tail = kb * 1024;
        std::vector<std::size_t> bytes;
        int whole = 0;
        double longest = 0;
        for (int i = 0; i < rounds; ++i) {
            const Stop stop = stopWithTail(program.toString(), tail);
            bytes.push_back(stop.bytes);
            whole += stop.whole && stop.bytes == tail ? 1 : 0;
            longest = std::max(longest, stop.seconds);
        }
        std::sort(bytes.begin(), bytes.end());
        std::printf("%7zu KB %5d/%-2d %14zu %8.2f s\n", kb, whole, rounds, bytes[bytes.size() / 2], longest);
        if (whole != rounds || longest > 1.3)
            met = false;
    }
    std::printf("target (every tail whole, every stop within 1.3 s): %s\n", met ? "met" : "missed");
    kestrune_get_interface(&host.api(), nullptr)->mark_services_ready(false);
    return met ? 0 : 1;
}

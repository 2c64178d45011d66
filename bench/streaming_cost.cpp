// What streaming costs: the same 30 s of 44.1 kHz stereo audio, MP3 CBR 128,
// into one private icecast2, by each way of streaming it, against lame
// encoding the same PCM from a file (the floor, which sends nothing): CPU
// seconds of the program and every child it waited for, the program's own
// share and lame's, wake-ups per second (the voluntary and involuntary
// context switches of every thread, from /proc), and peak resident memory.
// A listener on each mount counts what arrived, so a run that streamed
// nothing shows.
//
// The rows that make the engine's cost readable come from the same run:
// the stand-in player playing the same file with no component (its own
// cost), and a trivial feeder that gives lame the same pieces as the
// engine does (a quarter second each) in real time and sends what comes
// out (lame's cost at that piece size). The engine's own CPU per stream is
// the player with the stream minus the player without; ezstream's own CPU
// (without its lame) is the mark it is held to.
//
// Velmora in real time is the kestrune program with the component, playing
// the audio as a WAV file, its settings file holding one MP3 stream through
// lame (and once two such streams). Velmora as fast as it goes is this
// program again (--pipeline): the stand-in player plays the audio as a WAV
// file into the capture callback and one Stream with lame, the player held
// back whenever the stream is a second behind, so that nothing is dropped.
// Every real-time row is measured VELMORA_BENCH_ROUNDS times (default 3),
// the rows in turn, and its median shown.
//
// Needs the icecast2 peer: scripts/bench.sh runs it through
// scripts/test-peers.sh, which passes the port in VELMORA_PEER_ICECAST_PORT.
#include "bench_support.h"

#include <cstdio>

#if defined(_WIN32)
int main() {
    std::puts("streaming_cost: measured on the Linux build only");
    return 0;
}
#else
#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Base64Encoder.h>
#include <Poco/Exception.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/psc_callback.h"
#include "engine/stream.h"
#include "kestrune.h"
#include "player.h"
#include "server/ss_proxy.h"

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;

const char* const kSourcePassword = "hackme-source"; // scripts/test-peers.sh
const char* const kLameParams = "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --quiet";
constexpr double kSeconds = 30;
// The piece the engine hands its encoder (Stream's), for the feeder.
constexpr int kPieceMilliseconds = 250;

// One thread as last seen.
struct ThreadSample {
    std::string name;
    double cpu = 0;      // seconds on the processor
    long switches = 0;   // voluntary and involuntary context switches
};

struct Run {
    double cpu = -1;       // user + system, the program and the children it waited for
    double children = 0;   // of which its children, as last seen running (sampled)
    double wall = 0;
    long own_peak_kb = 0;  // the program's own high-water resident set
    long tree_peak_kb = 0; // the largest sum over the program and its children at one sample
    std::size_t heard = 0; // bytes a listener on the mount received
    bool ok = false;
    // Threads of the program and of each child, by process and thread id.
    std::map<pid_t, std::map<pid_t, ThreadSample>> threads;
    pid_t pid = 0;

    double own() const { return cpu - children; }
    // Context switches of every thread of the program (child == false) or
    // of its children, per `seconds`.
    double wakeups(bool child, double seconds) const {
        long sum = 0;
        for (const auto& process : threads)
            if ((process.first != pid) == child)
                for (const auto& thread : process.second)
                    sum += thread.second.switches;
        return sum / seconds;
    }
    // The program's threads of that name: their CPU and switches summed,
    // and how many there were.
    ThreadSample named(const std::string& name, int* count = nullptr) const {
        ThreadSample out;
        int n = 0;
        auto it = threads.find(pid);
        if (it != threads.end())
            for (const auto& thread : it->second)
                if (thread.second.name == name) {
                    out.cpu += thread.second.cpu;
                    out.switches += thread.second.switches;
                    ++n;
                }
        if (count != nullptr)
            *count = n;
        return out;
    }
};

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

long statusField(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    const std::size_t length = std::char_traits<char>::length(field);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length);
    return 0;
}

void tree(pid_t pid, std::vector<pid_t>& out) {
    out.push_back(pid);
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr)
        return;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream children(tasks + "/" + entry->d_name + "/children");
        for (pid_t child; children >> child;)
            tree(child, out);
    }
    closedir(dir);
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Every thread of process `pid`: name, time on the processor, context
// switches. Threads that have ended keep their last sample.
void sampleThreads(pid_t pid, std::map<pid_t, ThreadSample>& out) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr)
        return;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string task = tasks + "/" + entry->d_name;
        ThreadSample sample;
        sample.name = firstLine(task + "/comm");
        std::ifstream schedstat(task + "/schedstat");
        double nanos = 0;
        if (!(schedstat >> nanos))
            continue;
        sample.cpu = nanos / 1e9;
        std::ifstream status(task + "/status");
        long voluntary = -1, involuntary = -1;
        for (std::string line; std::getline(status, line);) {
            if (line.compare(0, 24, "voluntary_ctxt_switches:") == 0)
                voluntary = std::atol(line.c_str() + 24);
            else if (line.compare(0, 27, "nonvoluntary_ctxt_switches:") == 0)
                involuntary = std::atol(line.c_str() + 27);
        }
        if (voluntary < 0 || involuntary < 0)
            continue;
        sample.switches = voluntary + involuntary;
        out[std::atoi(entry->d_name)] = sample;
    }
    closedir(dir);
}

// A listener on the mount, from before the source comes until it leaves.
class Listener {
public:
    Listener(int port, const std::string& mount) : thread_([=] { run(port, mount); }) {}
    ~Listener() { finish(); }
    std::size_t finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return heard_;
    }

private:
    void run(int port, const std::string& mount) {
        while (!stop_) {
            try {
                Poco::Net::StreamSocket socket;
                socket.connect(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)),
                               Poco::Timespan(1, 0));
                const std::string request = "GET " + mount + " HTTP/1.0\r\n\r\n";
                socket.sendBytes(request.data(), static_cast<int>(request.size()));
                socket.setReceiveTimeout(Poco::Timespan(0, 200000));
                std::string head;
                bool streaming = false;
                char buffer[16384];
                for (;;) {
                    int n = 0;
                    try {
                        n = socket.receiveBytes(buffer, sizeof buffer);
                    } catch (Poco::TimeoutException&) {
                        if (stop_)
                            return;
                        continue;
                    }
                    if (n <= 0)
                        break;
                    if (streaming) {
                        heard_ += static_cast<std::size_t>(n);
                        continue;
                    }
                    head.append(buffer, static_cast<std::size_t>(n));
                    const std::size_t end = head.find("\r\n\r\n");
                    if (end == std::string::npos)
                        continue;
                    if (head.find(" 200 ") == std::string::npos)
                        break;
                    streaming = true;
                    heard_ += head.size() - end - 4;
                }
                if (streaming)
                    return; // the source has left
            } catch (Poco::Exception&) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> heard_{0};
    std::thread thread_;
};

// Runs the program to its end (at most `limit` seconds), its output into
// `log`, sampling the resident memory of it and its children.
Run measure(const std::vector<std::string>& command, const std::string& log, int icecast_port,
            const std::string& mount, double limit = 120) {
    Run run;
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::unique_ptr<Listener> listener;
    if (!mount.empty())
        listener.reset(new Listener(icecast_port, mount));
    const auto start = clock_type::now();
    pid_t pid;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::printf("  %s: cannot start (%s)\n", argv[0], std::strerror(spawned));
        return run;
    }
    run.pid = pid;
    std::map<pid_t, double> child_seconds;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        std::vector<pid_t> pids;
        tree(pid, pids);
        long sum = 0;
        for (pid_t p : pids) {
            sum += statusField(p, "VmRSS:");
            sampleThreads(p, run.threads[p]);
            // Time on the processor of each child, all its threads.
            if (p != pid) {
                double seconds = 0;
                for (const auto& thread : run.threads[p])
                    seconds += thread.second.cpu;
                child_seconds[p] = seconds;
            }
        }
        run.tree_peak_kb = std::max(run.tree_peak_kb, sum);
        run.own_peak_kb = std::max(run.own_peak_kb, statusField(pid, "VmHWM:"));
        if (std::chrono::duration<double>(clock_type::now() - start).count() > limit) {
            std::printf("  %s: still running after %.0f s, ended\n", argv[0], limit);
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.wall = std::chrono::duration<double>(clock_type::now() - start).count();
    for (const auto& child : child_seconds)
        run.children += child.second;
    run.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    // (ru_maxrss is no help: it counts the spawning process's memory too,
    // which the child shares until it runs its program.)
    if (listener) {
        // The listener hears the end of the stream a moment later.
        for (int i = 0; i < 40 && run.heard == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        run.heard = listener->finish();
    }
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!run.ok)
        std::printf("  %s ended with status %d; its output is in %s\n", argv[0], status, log.c_str());
    return run;
}

void writeFile(const std::string& path, const std::string& bytes, mode_t mode = 0600) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    chmod(path.c_str(), mode);
}

std::string ezstreamConfig(int port, const std::string& pcm_file) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ezstream>\n"
           "  <servers><server><hostname>127.0.0.1</hostname><port>" + std::to_string(port) +
           "</port><password>" + kSourcePassword + "</password><tls>None</tls></server></servers>\n"
           "  <streams><stream><mountpoint>/ezstream</mountpoint><format>MP3</format>"
           "<encoder>lame</encoder></stream></streams>\n"
           "  <intakes><intake><type>file</type><filename>" + pcm_file +
           "</filename><stream_once>Yes</stream_once></intake></intakes>\n"
           "  <decoders><decoder><name>raw</name><program>cat @T@</program><file_ext>.raw</file_ext>"
           "</decoder></decoders>\n"
           "  <encoders><encoder><name>lame</name><format>MP3</format><program>lame " + kLameParams +
           " - -</program></encoder></encoders>\n</ezstream>\n";
}

// --pipeline PORT MOUNT WAV: the stand-in player plays WAV as fast as one
// MP3 stream through lame to icecast2 on PORT takes it.
class Counter : public psc_listener {
public:
    void onChunk(const audio_chunk& chunk) override { samples += chunk.frame_total() * chunk.channel_total(); }
    std::atomic<std::uint64_t> samples{0};
};

class Events : public StreamEventListener {
public:
    void onStreamEvent(Stream* stream, int event) override {
        if (event == EVENT_ERROR) {
            std::printf("stream error: %s\n", stream->status().error_text.c_str());
            failed = true;
        }
    }
    std::atomic<bool> failed{false};
};

int runPipeline(int port, const std::string& mount, const std::string& wav) {
    SSProxy::initializeNetwork();
    kestrune_host::player host;
    kestrune_get_interface(&host.api(), nullptr)->mark_services_ready(true);
    EncoderSettings encoder;
    encoder.encoder_file = "lame";
    encoder.encoder_params = std::string(kLameParams) + " - -";
    encoder.format = FORMAT_MP3;
    encoder.sampling_rate = bench::kRate;
    encoder.channel = bench::kChannels;
    encoder.bitrate = 128;
    ServerSettings server;
    server.type = SERVER_ICECAST2;
    server.host = "127.0.0.1";
    server.port = port;
    server.password = kSourcePassword;
    server.mount_point = mount;
    Events events;
    Counter delivered;
    std::unique_ptr<psc_callback> capture;
    psc_callback::create(capture);
    capture->addListener(&delivered);
    int status = 1;
    {
        Stream stream(&events, encoder, server);
        stream.start(capture.get());
        const std::uint64_t second = bench::kRate * bench::kChannels;
        host.set_fast_pace([&] {
            while (stream.status().samples_read + second < delivered.samples && !events.failed)
                Poco::Thread::sleep(2);
        });
        host.set_end_handler([&] { host.quit(0); });
        host.play({kestrune_host::file_track(wav)}, kestrune_host::play_speed::fast);
        host.run();
        host.stop();
        host.pump();
        // The rest of the audio through the encoder before the stream stops:
        // the worker's next round takes it.
        const std::uint64_t played = delivered.samples;
        for (int i = 0; i < 5000 && stream.status().samples_read < played && !events.failed; ++i)
            Poco::Thread::sleep(1);
        status = events.failed || stream.status().samples_read < played ? 1 : 0;
        stream.stop();
    }
    capture->removeListener(&delivered);
    capture.reset();
    host.set_end_handler(nullptr);
    kestrune_get_interface(&host.api(), nullptr)->mark_services_ready(false);
    return status;
}

std::string selfPath() {
    char path[4096];
    const ssize_t size = readlink("/proc/self/exe", path, sizeof(path));
    return std::string(path, size > 0 ? static_cast<std::size_t>(size) : 0);
}

// A settings file with one MP3 stream through lame per mount.
std::string settingsFile(int port, const std::vector<std::string>& mounts) {
    std::string xml = "<velmora version=\"1.4.1\"><common><auto_reconnect>0</auto_reconnect></common>";
    for (const std::string& mount : mounts)
        xml += "<stream><server><type>0</type><host>127.0.0.1</host><port>" + std::to_string(port) +
               "</port><password>" + kSourcePassword + "</password><mount_point>" + mount +
               "</mount_point><yp><name>" + mount + "</name></yp></server><encoder><encoder_file>lame</encoder_file>"
               "<encoder_params>" + kLameParams + " - -</encoder_params><format>0</format><wave_format>0</wave_format>"
               "<wave_header>0</wave_header><sampling_rate>44100</sampling_rate><channel>2</channel>"
               "<bitrate>128</bitrate></encoder></stream>";
    return xml + "</velmora>";
}

// kestrune playing the WAV file in real time with a settings file of one
// stream per mount (no component at all when there is no mount); the
// listener is on the first.
Run kestrune(const std::string& dir, const std::string& name, int port, const std::vector<std::string>& mounts,
             const std::string& wav_file) {
    const std::string profile = dir + name;
    mkdir(profile.c_str(), 0700);
    if (mounts.empty())
        return measure({bench::binDir() + "kestrune", "--no-component", "--profile", profile, "--wav", wav_file},
                       dir + name + ".log", port, "");
    writeFile(profile + "/velmora.xml", settingsFile(port, mounts));
    return measure({bench::binDir() + "kestrune", "--profile", profile, "--wav", wav_file}, dir + name + ".log", port,
                   mounts.front());
}

// --feeder PORT MOUNT PCM PIECE_MS: lame fed PIECE_MS of the PCM at a time
// in real time, one write per piece into a pipe that holds it, its output
// read once per piece (and at the end) and sent to icecast2 on PORT.
int runFeeder(int port, const std::string& mount, const std::string& pcm_file, int piece_ms) {
    std::ifstream in(pcm_file, std::ios::binary);
    const std::string pcm((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t piece = static_cast<std::size_t>(bench::kRate) * piece_ms / 1000 * bench::kChannels * 2;
    int to_lame[2], from_lame[2];
    if (pipe2(to_lame, O_CLOEXEC) != 0 || pipe2(from_lame, O_CLOEXEC) != 0)
        return 1;
    fcntl(to_lame[1], F_SETPIPE_SZ, static_cast<int>(piece * 3 / 2 + 4096));
    fcntl(from_lame[0], F_SETPIPE_SZ, static_cast<int>(piece * 3 / 2 + 4096));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_lame[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_lame[1], 1);
    std::vector<std::string> args = {"lame"};
    for (const std::string& w : words(kLameParams))
        args.push_back(w);
    args.push_back("-");
    args.push_back("-");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t lame;
    const int spawned = posix_spawnp(&lame, "lame", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(to_lame[0]);
    close(from_lame[1]);
    if (spawned != 0)
        return 1;
    fcntl(from_lame[0], F_SETFL, O_NONBLOCK);

    Poco::Net::StreamSocket socket;
    socket.connect(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)));
    std::ostringstream credentials;
    {
        Poco::Base64Encoder encoder(credentials);
        encoder.rdbuf()->setLineLength(0);
        encoder << "source:" << kSourcePassword;
    }
    const std::string request = "PUT " + mount + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic " +
                                credentials.str() + "\r\nContent-Type: audio/mpeg\r\n\r\n";
    socket.sendBytes(request.data(), static_cast<int>(request.size()));
    std::string reply;
    char buffer[65536];
    while (reply.find("\r\n\r\n") == std::string::npos) {
        const int n = socket.receiveBytes(buffer, sizeof buffer);
        if (n <= 0)
            return 1;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    if (reply.find(" 200 ") == std::string::npos)
        return 1;
    auto forward = [&] {
        for (;;) {
            const ssize_t n = read(from_lame[0], buffer, sizeof buffer);
            if (n <= 0)
                return n == 0;
            for (ssize_t sent = 0; sent < n;)
                sent += socket.sendBytes(buffer + sent, static_cast<int>(n - sent));
        }
    };
    auto due = clock_type::now();
    for (std::size_t at = 0; at < pcm.size(); at += piece) {
        const std::size_t size = std::min(piece, pcm.size() - at);
        for (std::size_t written = 0; written < size;) {
            const ssize_t n = write(to_lame[1], pcm.data() + at + written, size - written);
            if (n <= 0)
                return 1;
            written += static_cast<std::size_t>(n);
        }
        forward();
        due += std::chrono::milliseconds(piece_ms);
        std::this_thread::sleep_until(due);
    }
    close(to_lame[1]);
    fcntl(from_lame[0], F_SETFL, 0);
    while (!forward()) {
    }
    int status = 0;
    waitpid(lame, &status, 0);
    socket.shutdown();
    socket.close();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

void report(const char* name, const Run& run, double floor, double seconds) {
    if (run.cpu < 0)
        return;
    char heard[32] = "-";
    if (run.heard > 0 || !run.ok)
        std::snprintf(heard, sizeof heard, "%zu KB", run.heard / 1000);
    char children[32] = "-";
    if (run.children > 0)
        std::snprintf(children, sizeof children, "%.3f", run.children);
    char child_wakeups[32] = "-";
    if (run.threads.size() > 1)
        std::snprintf(child_wakeups, sizeof child_wakeups, "%.1f", run.wakeups(true, seconds));
    std::printf("%-44s %7.3f %7.3f %8.3f %8s %7.1f %7.1f %7.1f %8.1f %8s   %s%s\n", name, run.cpu, run.cpu / floor,
                run.own(), children, run.wall, run.tree_peak_kb / 1024.0, run.own_peak_kb / 1024.0,
                run.wakeups(false, seconds), child_wakeups, heard, run.ok ? "" : "  (FAILED)");
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The run whose own CPU is the median of the runs (all fields of one run,
// so they fit together); a failed run counts as failed.
Run medianRun(const std::vector<Run>& runs) {
    std::vector<Run> sorted = runs;
    std::sort(sorted.begin(), sorted.end(), [](const Run& a, const Run& b) { return a.own() < b.own(); });
    Run out = sorted[sorted.size() / 2];
    for (const Run& r : runs)
        out.ok = out.ok && r.ok;
    return out;
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--pipeline")
        return runPipeline(std::atoi(argv[2]), argv[3], argv[4]);
    if (argc == 6 && std::string(argv[1]) == "--feeder")
        return runFeeder(std::atoi(argv[2]), argv[3], argv[4], std::atoi(argv[5]));
    const char* port_text = std::getenv("VELMORA_PEER_ICECAST_PORT");
    const int port = port_text ? std::atoi(port_text) : 0;
    if (port <= 0) {
        std::puts("streaming_cost: no icecast2 peer; run it through scripts/bench.sh");
        return 1;
    }
    const char* rounds_text = std::getenv("VELMORA_BENCH_ROUNDS");
    const int rounds = std::max(1, rounds_text ? std::atoi(rounds_text) : 3);
    char dir_template[] = "/tmp/velmora-bench-XXXXXX";
    const std::string dir = mkdtemp(dir_template) ? std::string(dir_template) + "/" : std::string("/tmp/");
    const std::string pcm_file = dir + "audio.raw";
    const std::string pcm = bench::makePcm(kSeconds);
    writeFile(pcm_file, pcm, 0644);
    const std::string wav_file = dir + "audio.wav";
    writeFile(wav_file, bench::makeWav(pcm), 0644);
    const std::string icecast = "icecast://source:" + std::string(kSourcePassword) + "@127.0.0.1:" + std::to_string(port);
    writeFile(dir + "ezstream.xml", ezstreamConfig(port, pcm_file));

    std::vector<std::string> lame = {"lame"};
    for (const std::string& w : words(kLameParams))
        lame.push_back(w);
    lame.push_back(pcm_file);
    lame.push_back("/dev/null");

    // Rounds of every row in turn, so that a busy machine disturbs them
    // alike: the floor and the fast pipeline are the best of all rounds,
    // the real-time rows their medians.
    Run floor;
    Run fast;
    bool runs_ok = true;
    std::vector<Run> none, one, two, feeder, ezstream;
    for (int round = 0; round < rounds; ++round) {
        const std::string r = std::to_string(round);
        const Run f = measure(lame, dir + "lame.log", port, "");
        if (f.ok && (floor.cpu < 0 || f.cpu < floor.cpu))
            floor = f;
        const Run v = measure({selfPath(), "--pipeline", std::to_string(port), "/velmora-fast" + r, wav_file},
                              dir + "velmora-fast" + r + ".log", port, "/velmora-fast" + r);
        runs_ok = runs_ok && f.ok && v.ok && v.heard > 0;
        if (fast.cpu < 0 || !fast.ok || (v.ok && v.cpu < fast.cpu))
            fast = v;
        none.push_back(kestrune(dir, "player" + r, port, {}, wav_file));
        one.push_back(kestrune(dir, "velmora-rt" + r, port, {"/velmora-rt" + r}, wav_file));
        two.push_back(kestrune(dir, "velmora-two" + r, port, {"/velmora-two-a" + r, "/velmora-two-b" + r}, wav_file));
        feeder.push_back(measure({selfPath(), "--feeder", std::to_string(port), "/feeder" + r, pcm_file,
                                  std::to_string(kPieceMilliseconds)},
                                 dir + "feeder" + r + ".log", port, "/feeder" + r));
        ezstream.push_back(measure({"ezstream", "-c", dir + "ezstream.xml"}, dir + "ezstream" + r + ".log", port,
                                   "/ezstream"));
        for (const auto* list : {&none, &one, &two, &feeder, &ezstream}) {
            const Run& last = list->back();
            runs_ok = runs_ok && last.ok && (list == &none || last.heard > 0);
        }
    }
    // Once: lame fed a second at a time, for how its cost falls with the
    // piece size.
    const Run feeder_second = measure({selfPath(), "--feeder", std::to_string(port), "/feeder-second", pcm_file, "1000"},
                                      dir + "feeder-second.log", port, "/feeder-second");
    runs_ok = runs_ok && feeder_second.ok && feeder_second.heard > 0;
    const Run ffmpeg = measure({"ffmpeg", "-nostdin", "-v", "error", "-re", "-f", "s16le", "-ar", "44100", "-ac", "2",
                                "-i", pcm_file, "-c:a", "libmp3lame", "-b:a", "128k", "-joint_stereo", "1", "-f",
                                "mp3", "-content_type", "audio/mpeg", icecast + "/ffmpeg"},
                               dir + "ffmpeg.log", port, "/ffmpeg");
    if (!floor.ok || floor.cpu <= 0) {
        std::puts("streaming_cost: lame did not run");
        return 1;
    }
    const Run player = medianRun(none);
    const Run single = medianRun(one);
    const Run pair = medianRun(two);
    const Run fed = medianRun(feeder);
    const Run ez = medianRun(ezstream);

    std::printf("MP3 CBR 128, %.0f s of 44.1 kHz stereo into icecast2 on 127.0.0.1:%d; real-time rows: medians "
                "of %d rounds\n",
                kSeconds, port, rounds);
    std::printf("%-44s %7s %7s %8s %8s %7s %7s %7s %8s %8s   %s\n", "", "CPU s", "x floor", "own s", "lame s",
                "wall s", "peak MB", "own MB", "wakes/s", "lame w/s", "a listener heard");
    report("lame from a file (the floor)", floor, floor.cpu, kSeconds);
    report("Velmora, as fast as it goes", fast, floor.cpu, kSeconds);
    report("the stand-in player, no component", player, floor.cpu, kSeconds);
    report("Velmora, kestrune in real time, 1 stream", single, floor.cpu, kSeconds);
    report("Velmora, kestrune in real time, 2 streams", pair, floor.cpu, kSeconds);
    const std::string feeder_name = "a trivial feeder, " + std::to_string(kPieceMilliseconds) + " ms pieces";
    report(feeder_name.c_str(), fed, floor.cpu, kSeconds);
    report("a trivial feeder, 1000 ms pieces (one round)", feeder_second, floor.cpu, kSeconds);
    report("ezstream (real time)", ez, floor.cpu, kSeconds);
    report("ffmpeg -re", ffmpeg, floor.cpu, kSeconds);
    std::printf("(CPU: the program and every child it waited for; own: without its children; lame: its children "
                "(sampled); peak MB: the largest sum with its children at one moment; own MB: its own high-water "
                "resident set; wakes/s: context switches of all its threads per second of audio, and of its "
                "children's)\n");

    // The threads of kestrune with one stream and with two.
    int workers = 0;
    const ThreadSample worker = single.named("velmora-stream", &workers);
    const ThreadSample capture = single.named("kestrune-audio");
    const ThreadSample player_capture = player.named("kestrune-audio");
    int pair_workers = 0;
    const ThreadSample pair_worker = pair.named("velmora-stream", &pair_workers);
    std::printf("kestrune's threads, 1 stream: capture %.3f s, %.1f wakes/s (without a component %.3f s, %.1f/s); "
                "stream worker %.3f s, %.1f wakes/s\n",
                capture.cpu, capture.switches / kSeconds, player_capture.cpu, player_capture.switches / kSeconds,
                worker.cpu, worker.switches / kSeconds);
    std::printf("kestrune's threads, 2 streams: capture %.3f s; stream workers %.3f s, %.1f wakes/s each\n",
                pair.named("kestrune-audio").cpu, pair_worker.cpu,
                pair_workers > 0 ? pair_worker.switches / kSeconds / pair_workers : 0.0);

    for (const auto* run : {&player, &single}) {
        std::printf("  %s:", run == &player ? "threads without a component" : "threads with 1 stream");
        auto it = run->threads.find(run->pid);
        if (it != run->threads.end())
            for (const auto& thread : it->second)
                std::printf(" %s %.3f s %.1f/s;", thread.second.name.c_str(), thread.second.cpu,
                            thread.second.switches / kSeconds);
        std::printf("\n");
    }

    // Medians of the differences, round by round.
    std::vector<double> firsts, seconds_, lame_ratios, feeder_ratios;
    for (int i = 0; i < rounds; ++i) {
        firsts.push_back(one[i].own() - none[i].own());
        seconds_.push_back(two[i].own() - one[i].own());
        lame_ratios.push_back(one[i].children / floor.cpu);
        feeder_ratios.push_back(feeder[i].children / floor.cpu);
    }
    const double first_cost = median(firsts);
    const double second_cost = median(seconds_);
    const double ez_own = ez.own();
    const double lame_ratio = median(lame_ratios);
    const double worker_rate = workers > 0 ? worker.switches / kSeconds / workers : 0;
    std::printf("the engine's own CPU per stream (kestrune with the stream minus without): %.3f s; the second "
                "stream: %.3f s; ezstream's own: %.3f s\n",
                first_cost, second_cost, ez_own);
    std::printf("lame under Velmora %.3f s = %.3fx lame from a file; under the feeder at the same piece size "
                "%.3fx (lame's floor at that piece size), at a second a piece %.3fx\n",
                single.children, lame_ratio, median(feeder_ratios), feeder_second.children / floor.cpu);
    std::printf("target: the engine's own CPU per stream at or below ezstream's own: %s (%.3f s against %.3f s)\n",
                verdict(first_cost <= ez_own), first_cost, ez_own);
    std::printf("target: lame under Velmora within 1.05x of lame from a file: %s (%.3fx)\n",
                verdict(lame_ratio <= 1.05), lame_ratio);
    std::printf("target: the stream worker at no more than 10 wake-ups a second: %s (%.1f)\n",
                verdict(workers > 0 && worker_rate <= 10), worker_rate);
    std::printf("target: the second stream costs no more than the first: %s (%.3f s against %.3f s)\n",
                verdict(second_cost <= first_cost), second_cost, first_cost);
    std::printf("target: Velmora's CPU within 1.05 of the floor: %s as fast as it goes, %s in real time\n",
                verdict(fast.ok && fast.cpu <= 1.05 * floor.cpu), verdict(single.ok && single.cpu <= 1.05 * floor.cpu));
    std::printf("target: the player under 20 MB resident with two streams: %s (%.1f MB)\n",
                verdict(pair.ok && pair.own_peak_kb < 20 * 1024), pair.own_peak_kb / 1024.0);
    const bool all = runs_ok && fast.ok && ffmpeg.ok && ffmpeg.heard > 0;
    std::string clean = "rm -rf '" + dir + "'";
    if (all && std::system(clean.c_str()) != 0)
        std::printf("could not remove %s\n", dir.c_str());
    return all ? 0 : 1;
}
#endif

// What streaming costs: the same 30 s of 44.1 kHz stereo audio, MP3 CBR 128,
// into one private icecast2, by each way of streaming it, against lame
// encoding the same PCM from a file (the floor, which sends nothing): CPU
// seconds of the program and every child it waited for, their ratio to the
// floor, and peak resident memory (the program's own, and of the program
// with its children at one moment). A listener on each mount counts what
// arrived, so a run that streamed nothing shows.
//
// Velmora in real time is the kestrune program with the component, playing
// the audio as a WAV file, its settings file holding one MP3 stream through
// lame (and once two such streams, for the player's memory with two).
// Velmora as fast as it goes is this program again (--pipeline): the
// stand-in player plays the audio as a WAV file into the capture callback
// and one Stream with lame, the player held back whenever the stream is a
// second behind, so that nothing is dropped.
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
#include <Poco/Exception.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

#include "audio_chunk_impl.h"
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

struct Run {
    double cpu = -1;       // user + system, the program and the children it waited for
    double children = 0;   // of which its children, as last seen running (sampled)
    double wall = 0;
    long own_peak_kb = 0;  // the program's own high-water resident set
    long tree_peak_kb = 0; // the largest sum over the program and its children at one sample
    std::size_t heard = 0; // bytes a listener on the mount received
    bool ok = false;
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
            // Time on the processor of each child, main thread (the
            // children here have one thread each).
            std::ifstream schedstat("/proc/" + std::to_string(p) + "/schedstat");
            double nanos = 0;
            if (p != pid && schedstat >> nanos)
                child_seconds[p] = nanos / 1e9;
        }
        run.tree_peak_kb = std::max(run.tree_peak_kb, sum);
        run.own_peak_kb = std::max(run.own_peak_kb, statusField(pid, "VmHWM:"));
        if (std::chrono::duration<double>(clock_type::now() - start).count() > limit) {
            std::printf("  %s: still running after %.0f s, ended\n", argv[0], limit);
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
        // The rest of the audio through the encoder before the stream stops.
        // A post refused while the worker was busy leaves the last samples
        // waiting for the next chunk: empty chunks, as a player that goes
        // on would deliver, bring them.
        const std::uint64_t played = delivered.samples;
        audio_chunk_impl empty;
        empty.assign_samples(nullptr, 0, bench::kChannels, bench::kRate, audio_chunk::channel_config_stereo);
        for (int i = 0; i < 5000 && stream.status().samples_read < played && !events.failed; ++i) {
            capture->chunk_captured(empty);
            Poco::Thread::sleep(1);
        }
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
// stream per mount; the listener is on the first.
Run kestrune(const std::string& dir, const std::string& name, int port, const std::vector<std::string>& mounts,
             const std::string& wav_file) {
    const std::string profile = dir + name;
    mkdir(profile.c_str(), 0700);
    writeFile(profile + "/velmora.xml", settingsFile(port, mounts));
    return measure({bench::binDir() + "kestrune", "--profile", profile, "--wav", wav_file}, dir + name + ".log", port,
                   mounts.front());
}

void report(const char* name, const Run& run, double floor) {
    if (run.cpu < 0)
        return;
    char heard[32] = "-";
    if (run.heard > 0 || !run.ok)
        std::snprintf(heard, sizeof heard, "%zu KB", run.heard / 1000);
    std::printf("%-42s %7.3f %8.3f %9.3f %8.1f %9.1f %9.1f   %s%s\n", name, run.cpu, run.cpu / floor,
                run.cpu - run.children, run.wall, run.own_peak_kb / 1024.0, run.tree_peak_kb / 1024.0, heard,
                run.ok ? "" : "  (FAILED)");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--pipeline")
        return runPipeline(std::atoi(argv[2]), argv[3], argv[4]);
    const char* port_text = std::getenv("VELMORA_PEER_ICECAST_PORT");
    const int port = port_text ? std::atoi(port_text) : 0;
    if (port <= 0) {
        std::puts("streaming_cost: no icecast2 peer; run it through scripts/bench.sh");
        return 1;
    }
    char dir_template[] = "/tmp/velmora-bench-XXXXXX";
    const std::string dir = mkdtemp(dir_template) ? std::string(dir_template) + "/" : std::string("/tmp/");
    const std::string pcm_file = dir + "audio.raw";
    const std::string pcm = bench::makePcm(kSeconds);
    writeFile(pcm_file, pcm, 0644);
    const std::string wav_file = dir + "audio.wav";
    writeFile(wav_file, bench::makeWav(pcm), 0644);
    const std::string icecast = "icecast://source:" + std::string(kSourcePassword) + "@127.0.0.1:" + std::to_string(port);

    // The floor, lame from the file, and Velmora as fast as it goes, each
    // the best of five runs taken in turn, so a busy machine disturbs less.
    std::vector<std::string> lame = {"lame"};
    for (const std::string& w : words(kLameParams))
        lame.push_back(w);
    lame.push_back(pcm_file);
    lame.push_back("/dev/null");
    Run floor;
    Run fast;
    bool runs_ok = true;
    for (int i = 0; i < 5; ++i) {
        const Run f = measure(lame, dir + "lame.log", port, "");
        if (f.ok && (floor.cpu < 0 || f.cpu < floor.cpu))
            floor = f;
        const std::string mount = "/velmora-fast" + std::to_string(i);
        const std::string log = dir + "velmora-fast" + std::to_string(i) + ".log";
        const Run v = measure({selfPath(), "--pipeline", std::to_string(port), mount, wav_file}, log, port, mount);
        runs_ok = runs_ok && f.ok && v.ok;
        if (fast.cpu < 0 || !fast.ok || (v.ok && v.cpu < fast.cpu))
            fast = v;
    }
    if (!floor.ok || floor.cpu <= 0) {
        std::puts("streaming_cost: lame did not run");
        return 1;
    }

    const Run realtime = kestrune(dir, "velmora-rt", port, {"/velmora-rt"}, wav_file);
    const Run two = kestrune(dir, "velmora-two", port, {"/velmora-two-a", "/velmora-two-b"}, wav_file);
    writeFile(dir + "ezstream.xml", ezstreamConfig(port, pcm_file));
    const Run ezstream = measure({"ezstream", "-c", dir + "ezstream.xml"}, dir + "ezstream.log", port, "/ezstream");
    const Run ffmpeg = measure({"ffmpeg", "-nostdin", "-v", "error", "-re", "-f", "s16le", "-ar", "44100", "-ac", "2",
                                "-i", pcm_file, "-c:a", "libmp3lame", "-b:a", "128k", "-joint_stereo", "1", "-f",
                                "mp3", "-content_type", "audio/mpeg", icecast + "/ffmpeg"},
                               dir + "ffmpeg.log", port, "/ffmpeg");

    std::printf("MP3 CBR 128, %.0f s of 44.1 kHz stereo into icecast2 on 127.0.0.1:%d\n", kSeconds, port);
    std::printf("%-42s %7s %8s %9s %8s %9s %9s   %s\n", "", "CPU s", "x floor", "own CPU s", "wall s", "peak MB",
                "+children", "a listener heard");
    report("lame from a file (the floor)", floor, floor.cpu);
    report("Velmora, as fast as it goes", fast, floor.cpu);
    report("Velmora, kestrune in real time", realtime, floor.cpu);
    report("Velmora, kestrune in real time, 2 streams", two, floor.cpu);
    report("ezstream (real time)", ezstream, floor.cpu);
    report("ffmpeg -re", ffmpeg, floor.cpu);
    std::printf("(CPU: the program and every child it waited for; own CPU: without its children (sampled); peak MB: "
                "its own high-water resident set; +children: the largest sum with its children at one moment)\n");

    std::printf("target: Velmora's CPU within 1.05 of the floor: %s as fast as it goes, %s in real time\n",
                fast.ok && fast.cpu <= 1.05 * floor.cpu ? "met" : "MISSED",
                realtime.ok && realtime.cpu <= 1.05 * floor.cpu ? "met" : "MISSED");
    std::printf("target: the player under 20 MB resident with two streams: %s (%.1f MB)\n",
                two.ok && two.own_peak_kb < 20 * 1024 ? "met" : "MISSED", two.own_peak_kb / 1024.0);
    const bool all = runs_ok && fast.ok && realtime.ok && two.ok && realtime.heard > 0 && two.heard > 0 && ezstream.ok && ffmpeg.ok && fast.heard > 0 && ezstream.heard > 0 && ffmpeg.heard > 0;
    std::string clean = "rm -rf '" + dir + "'";
    if (all && std::system(clean.c_str()) != 0)
        std::printf("could not remove %s\n", dir.c_str());
    return all ? 0 : 1;
}
#endif

// What the encoder pipe costs: CPU seconds of the whole pipeline (this
// process plus lame) pushing 60 s of 44.1 kHz stereo 16-bit PCM through
// lame as fast as it goes, against lame encoding the same PCM from a file;
// and the pump's throughput through a pass-through program, in multiples of
// real time. Targets: overhead ratio at most 1.05, pass-through at least
// 200x real time on Linux.
#include "bench_support.h"
#include "engine/encoder_process.h"

#include <Poco/FIFOBuffer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

using bench::binDir;
using bench::kChannels;
using bench::kRate;
using bench::makePcm;
constexpr double kRealTimeBytes = kRate * kChannels * 2.0;

// Pushes `pcm` through the encoder in pieces of `piece` bytes, as the
// stream's worker does, dropping the output; then closes the program.
// Returns the output size.
std::size_t pumpThrough(EncoderProcess& encoder, const std::string& pcm, std::size_t piece) {
    Poco::BasicFIFOBuffer<char> input(piece);
    Poco::BasicFIFOBuffer<char> output(4 * 1024 * 1024);
    std::size_t produced = 0;
    for (std::size_t at = 0; at < pcm.size(); at += piece) {
        input.write(pcm.data() + at, std::min(piece, pcm.size() - at));
        encoder.encode(input, output);
        produced += output.used();
        output.drain();
    }
    encoder.close();
    return produced;
}

#if !defined(_WIN32)
double cpuSeconds(int who) {
    rusage usage;
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

const char* const kLameParams = "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --quiet";

// CPU seconds of the pipeline: this process (`ours`) and the encoder it
// started (`encoder`).
struct PipelineCpu {
    double ours;
    double encoder;
};

PipelineCpu pipelineSeconds(const std::string& pcm) {
    const double self = cpuSeconds(RUSAGE_SELF);
    const double children = cpuSeconds(RUSAGE_CHILDREN);
    EncoderProcess encoder("lame", std::string(kLameParams) + " - -");
    encoder.open();
    pumpThrough(encoder, pcm, 176400);
    return {cpuSeconds(RUSAGE_SELF) - self, cpuSeconds(RUSAGE_CHILDREN) - children};
}

// CPU seconds of lame reading the same PCM from a file.
double fileSeconds(const std::string& pcm_file) {
    const double children = cpuSeconds(RUSAGE_CHILDREN);
    std::vector<std::string> args = platform::splitArguments(std::string(kLameParams));
    args.insert(args.begin(), "lame");
    args.push_back(pcm_file);
    args.push_back("/dev/null");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    // lame's note on raw files read through libsndfile goes nowhere.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int spawned = posix_spawnp(&pid, "lame", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status;
    waitpid(pid, &status, 0);
    return cpuSeconds(RUSAGE_CHILDREN) - children;
}
#endif

} // namespace

int main() {
    const double seconds = 60;
    const std::string pcm = makePcm(seconds);

#if !defined(_WIN32)
    const std::string pcm_file = "/tmp/velmora-bench-" + std::to_string(getpid()) + ".raw";
    if (FILE* f = std::fopen(pcm_file.c_str(), "wb")) {
        std::fwrite(pcm.data(), 1, pcm.size(), f);
        std::fclose(f);
    }
    // The best of five runs of each, so a busy machine disturbs less.
    PipelineCpu pipe = {1e9, 1e9};
    double file = 1e9;
    for (int run = 0; run < 5; ++run) {
        const PipelineCpu cpu = pipelineSeconds(pcm);
        if (cpu.ours + cpu.encoder < pipe.ours + pipe.encoder)
            pipe = cpu;
        file = std::min(file, fileSeconds(pcm_file));
    }
    std::remove(pcm_file.c_str());
    std::printf("lame, 60 s of 44.1 kHz stereo: pipeline %.3f CPU s (pump %.3f, lame %.3f), lame from a file %.3f CPU s, "
                "overhead ratio %.3f (target <= 1.05)\n",
                pipe.ours + pipe.encoder, pipe.ours, pipe.encoder, file, (pipe.ours + pipe.encoder) / file);
#endif

    // Pass-through: ten minutes of audio through a program that copies.
    const std::string long_pcm = pcm + pcm + pcm + pcm + pcm + pcm + pcm + pcm + pcm + pcm;
#if defined(_WIN32)
    const std::string program = "\"" + binDir() + "passthrough.exe\"";
#else
    const std::string program = "\"" + binDir() + "passthrough\"";
#endif
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        EncoderProcess through(program, "");
        try {
            through.open();
        } catch (const std::exception& e) {
            std::printf("pass-through: %s (build the tests' helper programs first)\n", e.what());
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        pumpThrough(through, long_pcm, 176400);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::max(best, (long_pcm.size() / kRealTimeBytes) / wall);
    }
    std::printf("pass-through, 600 s of 44.1 kHz stereo in 1 s pieces: %.0fx real time (target >= 200x)\n", best);
    return 0;
}

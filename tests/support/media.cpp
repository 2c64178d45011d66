#include "media.h"

#if !defined(_WIN32)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace media {

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::map<std::string, std::string> probe(const std::string& file) {
    const std::string command = "ffprobe -v error -select_streams a:0 -show_entries "
                                "stream=codec_name,sample_rate,channels:stream_tags=title,artist:"
                                "format=format_name:format_tags=title,artist -of default=nw=1 " +
                                shellQuote(file) + " 2>/dev/null";
    std::map<std::string, std::string> fields;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return fields;
    char line[4096];
    while (std::fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = text.substr(0, eq);
        // Tags arrive as TAG:title (case as the container stores it).
        for (char& c : key)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        fields[key] = text.substr(eq + 1);
    }
    pclose(pipe);
    return fields;
}

std::vector<float> decode(const std::string& file) {
    const std::string command = "ffmpeg -v error -i " + shellQuote(file) + " -f f32le - 2>/dev/null";
    std::vector<float> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    float buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, sizeof(float), 4096, pipe)) > 0)
        out.insert(out.end(), buffer, buffer + got);
    pclose(pipe);
    return out;
}

std::vector<float> channel(const std::vector<float>& interleaved, int channels, int which, int rate, double from,
                           double to) {
    std::vector<float> out;
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    const std::size_t first = static_cast<std::size_t>(std::max(0.0, from * rate));
    const std::size_t last = std::min(frames, static_cast<std::size_t>(std::max(0.0, to * rate)));
    for (std::size_t i = first; i < last; ++i)
        out.push_back(interleaved[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(which)]);
    return out;
}

double tonePower(const std::vector<float>& samples, double frequency, int rate) {
    const double k = 2.0 * std::cos(2.0 * 3.14159265358979 * frequency / rate);
    double s1 = 0, s2 = 0;
    for (float x : samples) {
        const double s0 = x + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
    return samples.empty() ? 0.0 : power / (static_cast<double>(samples.size()) * samples.size());
}

double levelDb(const std::vector<float>& samples) {
    double sum = 0;
    for (float x : samples)
        sum += static_cast<double>(x) * x;
    return samples.empty() ? -1000.0 : 10.0 * std::log10(sum / samples.size() + 1e-30);
}

} // namespace media
#endif

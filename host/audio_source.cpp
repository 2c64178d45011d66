// Generated test signals and WAV files.
#include "audio_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace kestrune_host {

namespace {

constexpr double pi = 3.14159265358979323846;

class signal_source final : public audio_source {
public:
    signal_source(waveform shape, const std::vector<double>& frequencies, float amplitude, std::uint32_t rate,
                  std::uint32_t channels, double seconds)
        : m_shape(shape), m_amplitude(amplitude), m_rate(rate), m_channels(channels) {
        if (rate == 0 || channels == 0) throw std::invalid_argument("signal needs a rate and channels");
        if (frequencies.empty()) throw std::invalid_argument("signal needs a frequency");
        for (std::uint32_t c = 0; c < channels; ++c)
            m_voices.push_back(voice{frequencies[std::min<std::size_t>(c, frequencies.size() - 1)] / rate});
        // Whole frames; a product a hair above an integer is that integer.
        const double frames = std::ceil(seconds * rate - 1e-6);
        m_left = frames < 1.0 ? 1 : static_cast<std::uint64_t>(frames);
    }
    std::uint32_t sample_rate() const override { return m_rate; }
    std::uint32_t channels() const override { return m_channels; }
    std::size_t read(float* out, std::size_t frames) override {
        if (frames > m_left) frames = static_cast<std::size_t>(m_left);
        for (std::size_t i = 0; i < frames; ++i) {
            const float noise = m_shape == waveform::noise ? next_noise() : 0.0f;
            for (auto& v : m_voices) *out++ = (m_shape == waveform::noise ? noise : v.next(m_shape)) * m_amplitude;
        }
        m_left -= frames;
        return frames;
    }

private:
    struct voice {
        double step;
        double phase = 0.0;
        float next(waveform shape) {
            float v = 0.0f;
            switch (shape) {
            case waveform::sine: v = static_cast<float>(std::sin(2.0 * pi * phase)); break;
            case waveform::square: v = phase < 0.5 ? 1.0f : -1.0f; break;
            case waveform::silence:
            case waveform::noise: break;
            }
            phase += step;
            phase -= std::floor(phase);
            return v;
        }
    };

    float next_noise() {
        m_noise = m_noise * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<std::int32_t>(m_noise)) / 2147483648.0f;
    }

    waveform m_shape;
    std::vector<voice> m_voices;
    float m_amplitude;
    std::uint32_t m_rate;
    std::uint32_t m_channels;
    std::uint64_t m_left;
    std::uint32_t m_noise = 22222u;
};

std::uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }
std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

class wav_source final : public audio_source {
public:
    explicit wav_source(const std::string& path) : m_file(path, std::ios::binary) {
        if (!m_file) throw std::runtime_error("cannot open " + path);
        unsigned char riff[12];
        if (!m_file.read(reinterpret_cast<char*>(riff), 12) || std::memcmp(riff, "RIFF", 4) != 0 ||
            std::memcmp(riff + 8, "WAVE", 4) != 0)
            throw std::runtime_error(path + " is not a WAV file");
        bool have_format = false;
        for (;;) {
            unsigned char head[8];
            if (!m_file.read(reinterpret_cast<char*>(head), 8)) throw std::runtime_error(path + ": no audio data");
            const std::uint32_t size = le32(head + 4);
            if (std::memcmp(head, "fmt ", 4) == 0) {
                if (size < 16) throw std::runtime_error(path + ": bad format chunk");
                std::vector<unsigned char> f(size);
                if (!m_file.read(reinterpret_cast<char*>(f.data()), size)) throw std::runtime_error(path + ": truncated");
                std::uint16_t tag = le16(&f[0]);
                m_channels = le16(&f[2]);
                m_rate = le32(&f[4]);
                m_bits = le16(&f[14]);
                if (tag == 0xFFFE && size >= 26) tag = le16(&f[24]); // extensible: the sub-format's tag
                m_float = tag == 3;
                if (!(tag == 1 || tag == 3) || m_channels == 0 || m_rate == 0)
                    throw std::runtime_error(path + ": unsupported WAV format");
                if (m_float ? (m_bits != 32 && m_bits != 64) : (m_bits != 8 && m_bits != 16 && m_bits != 24 && m_bits != 32))
                    throw std::runtime_error(path + ": unsupported sample size");
                if (size & 1) m_file.ignore(1);
                have_format = true;
            } else if (std::memcmp(head, "data", 4) == 0) {
                if (!have_format) throw std::runtime_error(path + ": data before format");
                m_left = size;
                break;
            } else {
                m_file.ignore(std::streamsize(size) + (size & 1));
            }
        }
        m_frame_bytes = m_channels * (m_bits / 8);
    }
    std::uint32_t sample_rate() const override { return m_rate; }
    std::uint32_t channels() const override { return m_channels; }
    std::size_t read(float* out, std::size_t frames) override {
        std::size_t want = frames * m_frame_bytes;
        if (want > m_left) want = m_left - m_left % m_frame_bytes;
        m_raw.resize(want);
        m_file.read(reinterpret_cast<char*>(m_raw.data()), std::streamsize(want));
        const std::size_t got = static_cast<std::size_t>(m_file.gcount()) / m_frame_bytes;
        m_left -= got * m_frame_bytes;
        if (got == 0) m_left = 0;
        const unsigned char* p = m_raw.data();
        const std::size_t n = got * m_channels;
        // One loop per sample format, so each is a plain loop.
        switch (m_bits) {
        case 8:
            for (std::size_t i = 0; i < n; ++i) out[i] = (float(p[i]) - 128.0f) / 128.0f;
            break;
        case 16:
            for (std::size_t i = 0; i < n; ++i) out[i] = float(std::int16_t(le16(p + 2 * i))) / 32768.0f;
            break;
        case 24:
            for (std::size_t i = 0; i < n; ++i, p += 3) {
                const std::int32_t v =
                    std::int32_t(std::uint32_t(p[0]) << 8 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 24) >> 8;
                out[i] = float(v) / 8388608.0f;
            }
            break;
        case 32:
            if (m_float) {
                std::memcpy(out, p, n * 4);
            } else {
                for (std::size_t i = 0; i < n; ++i) out[i] = float(double(std::int32_t(le32(p + 4 * i))) / 2147483648.0);
            }
            break;
        case 64:
            for (std::size_t i = 0; i < n; ++i) {
                double d;
                std::memcpy(&d, p + 8 * i, 8);
                out[i] = float(d);
            }
            break;
        }
        return got;
    }

private:
    std::ifstream m_file;
    std::uint32_t m_rate = 0;
    std::uint32_t m_channels = 0;
    std::uint32_t m_bits = 0;
    bool m_float = false;
    std::uint32_t m_frame_bytes = 0;
    std::uint64_t m_left = 0;
    std::vector<unsigned char> m_raw;
};

} // namespace

std::unique_ptr<audio_source> make_signal(waveform shape, const std::vector<double>& frequencies, float amplitude,
                                          std::uint32_t rate, std::uint32_t channels, double seconds) {
    return std::unique_ptr<audio_source>(new signal_source(shape, frequencies, amplitude, rate, channels, seconds));
}

std::unique_ptr<audio_source> open_wav(const std::string& path) { return std::unique_ptr<audio_source>(new wav_source(path)); }

} // namespace kestrune_host

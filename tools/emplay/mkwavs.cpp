// mkwavs.cpp -- writes the small synthetic WAV files that the emplay examples
// play: kick.wav, hat.wav, bass.wav and tone.wav (16-bit mono, 22050 Hz)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wavfile.h"

namespace {

const int32_t mk_rate = 22050;
const double mk_pi = 3.14159265358979323846;

// Writes values (-1..1) as a 16-bit mono WAV file; false when it cannot.
bool mk_write(const std::string& path, const std::vector<double>& values)
{
    std::vector<uint8_t> bytes(values.size() * 2);
    for (size_t i = 0; i < values.size(); i++) {
        const double clamped = values[i] > 1.0 ? 1.0 : values[i] < -1.0 ? -1.0 : values[i];
        wavfile_put(&bytes[2 * i], static_cast<uint16_t>(static_cast<int16_t>(std::lround(clamped * 30000.0))), 2);
    }
    const wavfile_format format = {1, 1, static_cast<uint32_t>(mk_rate), 16};
    return wavfile_write(path.c_str(), format, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// A sine whose pitch falls from 150 Hz to 45 Hz, dying away: a bass drum.
std::vector<double> mk_kick()
{
    std::vector<double> v;
    double phase = 0.0;
    for (int i = 0; i < mk_rate / 4; i++) {
        const double t = static_cast<double>(i) / mk_rate;
        phase += 2.0 * mk_pi * (45.0 + 105.0 * std::exp(-t * 30.0)) / mk_rate;
        v.push_back(std::sin(phase) * std::exp(-t * 12.0));
    }
    return v;
}

// Short bright noise from a fixed generator: a closed hi-hat.
std::vector<double> mk_hat()
{
    std::vector<double> v;
    uint32_t seed = 12345;
    double last = 0.0;
    for (int i = 0; i < mk_rate / 12; i++) {
        seed = seed * 1103515245u + 12345u;
        const double noise = static_cast<double>((seed >> 8) & 0xFFFF) / 32768.0 - 1.0;
        const double t = static_cast<double>(i) / mk_rate;
        v.push_back((noise - last) * 0.5 * std::exp(-t * 60.0)); // the difference keeps the highs
        last = noise;
    }
    return v;
}

// A 110 Hz tone with a few harmonics and a plucked decay.
std::vector<double> mk_bass()
{
    std::vector<double> v;
    for (int i = 0; i < mk_rate / 2; i++) {
        const double t = static_cast<double>(i) / mk_rate;
        const double x = 2.0 * mk_pi * 110.0 * t;
        v.push_back((std::sin(x) + std::sin(2 * x) / 2 + std::sin(3 * x) / 4) * 0.55 * std::exp(-t * 5.0));
    }
    return v;
}

// 441 Hz with odd harmonics, exactly 45 periods long so that it loops without a
// click: a steady buzz for the 3-D demo.
std::vector<double> mk_tone()
{
    std::vector<double> v;
    for (int i = 0; i < 50 * 45; i++) {
        const double x = 2.0 * mk_pi * i / 50.0;
        v.push_back((std::sin(x) + std::sin(3 * x) / 3 + std::sin(5 * x) / 5) * 0.6);
    }
    return v;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: emplay_mkwavs folder\n");
        return 2;
    }
    const std::string folder = argv[1];
    struct {
        const char* name;
        std::vector<double> values;
    } files[] = {
        {"kick.wav", mk_kick()},
        {"hat.wav", mk_hat()},
        {"bass.wav", mk_bass()},
        {"tone.wav", mk_tone()},
    };
    for (const auto& file : files) {
        if (!mk_write(folder + "/" + file.name, file.values)) {
            fprintf(stderr, "emplay_mkwavs: can't write %s/%s\n", folder.c_str(), file.name);
            return 1;
        }
    }
    return 0;
}

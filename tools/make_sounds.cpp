// Writes the program's sound effects into a folder: startup.wav, scan.wav, hi.wav and the
// countdown pips 1.wav .. 10.wav, as 16-bit mono PCM. Run by the build, so the program ships
// sounds of its own making.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

struct Note {
    double start;   // seconds
    double length;  // seconds
    double hertz;
    double volume;  // 0..1
};

// A bell-like note: a quick attack, an exponential fade and a soft octave overtone.
double NoteSample(const Note& note, double t) {
    const double local = t - note.start;
    if (local < 0 || local >= note.length) return 0;
    const double attack = std::min(1.0, local / 0.005);
    const double release = std::min(1.0, (note.length - local) / 0.01);
    const double fade = std::exp(-4.0 * local / note.length);
    const double wave =
        std::sin(2 * kPi * note.hertz * local) + 0.3 * std::sin(4 * kPi * note.hertz * local);
    return note.volume * attack * release * fade * wave / 1.3;
}

void Put16(std::string& out, std::uint16_t v) {
    out += char(v & 0xFF);
    out += char(v >> 8);
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, std::uint16_t(v & 0xFFFF));
    Put16(out, std::uint16_t(v >> 16));
}

std::string Wave(const std::vector<Note>& notes) {
    double seconds = 0;
    for (const Note& note : notes) seconds = std::max(seconds, note.start + note.length);
    const auto samples = std::uint32_t(seconds * kRate);
    std::string out = "RIFF";
    Put32(out, 36 + samples * 2);
    out += "WAVEfmt ";
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, 1);  // mono
    Put32(out, kRate);
    Put32(out, kRate * 2);
    Put16(out, 2);
    Put16(out, 16);
    out += "data";
    Put32(out, samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i) {
        double value = 0;
        for (const Note& note : notes) value += NoteSample(note, double(i) / kRate);
        value = std::max(-1.0, std::min(1.0, value));
        Put16(out, std::uint16_t(std::int16_t(std::lround(value * 32000))));
    }
    return out;
}

double Semitones(double base, int steps) { return base * std::pow(2.0, steps / 12.0); }

bool Write(const std::filesystem::path& folder, const std::string& name, const std::string& data) {
    const std::filesystem::path path = folder / name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(data.data(), std::streamsize(data.size()));
    if (!file) std::fprintf(stderr, "make_sounds: cannot write %s\n", path.c_str());
    return bool(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sounds FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    constexpr double kC5 = 523.25;
    bool ok = true;
    // Start-up: a rising major arpeggio.
    ok &= Write(folder, "startup.wav",
                Wave({{0.00, 0.45, kC5, 0.5},
                      {0.12, 0.45, Semitones(kC5, 4), 0.5},
                      {0.24, 0.45, Semitones(kC5, 7), 0.5},
                      {0.36, 0.70, Semitones(kC5, 12), 0.55}}));
    // Scan: two quick blips, low then high.
    ok &=
        Write(folder, "scan.wav",
              Wave({{0.00, 0.10, Semitones(kC5, 7), 0.5}, {0.12, 0.16, Semitones(kC5, 19), 0.5}}));
    // About box: a friendly falling fourth.
    ok &=
        Write(folder, "hi.wav",
              Wave({{0.00, 0.25, Semitones(kC5, 12), 0.5}, {0.22, 0.45, Semitones(kC5, 7), 0.5}}));
    // Countdown: one short pip per second, a semitone higher for every second less, so each
    // of the last ten seconds has its own pitch; "1" rings longest.
    for (int n = 1; n <= 10; ++n) {
        const double hertz = Semitones(440.0, 10 - n);
        const double length = n == 1 ? 0.40 : 0.12;
        ok &= Write(folder, std::to_string(n) + ".wav", Wave({{0.0, length, hertz, 0.45}}));
    }
    return ok ? 0 : 1;
}

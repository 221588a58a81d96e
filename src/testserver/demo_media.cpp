#include "testserver/demo_media.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillfin::testserver {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kSampleRate = 22050;

void Put16(std::string& out, unsigned value) {
    out += char(value & 0xff);
    out += char((value >> 8) & 0xff);
}
void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

std::uint8_t Channel(double value) {
    return std::uint8_t(std::clamp(value, 0.0, 255.0));
}

// Hue 0..1 at full saturation and value.
Rgb Hue(double h) {
    h = (h - std::floor(h)) * 6.0;
    const double f = h - std::floor(h);
    const double up = 255 * f, down = 255 * (1 - f);
    switch (int(h)) {
        case 0: return {255, Channel(up), 0};
        case 1: return {Channel(down), 255, 0};
        case 2: return {0, 255, Channel(up)};
        case 3: return {0, Channel(down), 255};
        case 4: return {Channel(up), 0, 255};
        default: return {255, 0, Channel(down)};
    }
}

double Note(double frequency, double t) { return std::sin(2 * kPi * frequency * t); }

// Short fades at both ends, so the sound starts and stops without a click.
double Ends(double t, double seconds) {
    return std::min({1.0, t / 0.02, (seconds - t) / 0.05});
}

}  // namespace

std::string MakeBmp(int width, int height, const std::function<Rgb(int, int)>& pixel) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    const std::uint32_t row_size = (std::uint32_t(width) * 3 + 3) & ~3u;
    const std::uint32_t image_size = row_size * std::uint32_t(height);
    std::string out;
    out.reserve(54 + image_size);
    out += "BM";
    Put32(out, 54 + image_size);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);  // BITMAPINFOHEADER
    Put32(out, std::uint32_t(width));
    Put32(out, std::uint32_t(height));
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);  // no compression
    Put32(out, image_size);
    Put32(out, 2835);  // 72 dpi
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = height - 1; y >= 0; --y) {  // bottom row first
        const std::size_t row_start = out.size();
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            out += char(c.b);
            out += char(c.g);
            out += char(c.r);
        }
        out.append(row_start + row_size - out.size(), '\0');
    }
    return out;
}

std::string MakeWav(int sample_rate, double seconds, const std::function<double(double)>& sample) {
    const std::uint32_t samples = std::uint32_t(std::max(0.0, seconds) * sample_rate);
    std::string out;
    out.reserve(44 + samples * 2);
    out += "RIFF";
    Put32(out, 36 + samples * 2);
    out += "WAVEfmt ";
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, 1);  // mono
    Put32(out, std::uint32_t(sample_rate));
    Put32(out, std::uint32_t(sample_rate) * 2);
    Put16(out, 2);
    Put16(out, 16);
    out += "data";
    Put32(out, samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double value = std::clamp(sample(double(i) / sample_rate), -1.0, 1.0);
        Put16(out, std::uint16_t(std::int16_t(std::lround(value * 32000))));
    }
    return out;
}

std::string SunsetBmp(int width, int height) {
    const double horizon = height * 0.62;
    const double sun_x = width * 0.5, sun_y = horizon - height * 0.05, sun_r = height * 0.16;
    return MakeBmp(width, height, [=](int x, int y) -> Rgb {
        const double dx = x - sun_x, dy = y - sun_y;
        if (y < horizon) {
            if (dx * dx + dy * dy < sun_r * sun_r) return {255, 226, 96};
            const double t = y / horizon;  // violet sky above, orange at the horizon
            return {Channel(70 + 185 * t), Channel(30 + 110 * t * t), Channel(120 - 90 * t)};
        }
        // The sea, with the sun's reflection broken by waves.
        const double depth = (y - horizon) / (height - horizon);
        const double wave = std::sin(x * 0.15 + y * 0.9) * 0.5 + 0.5;
        const bool glint = std::abs(dx) < sun_r * (1.0 - depth * 0.6) && wave > 0.55;
        if (glint) return {255, Channel(180 + 40 * wave), 90};
        return {Channel(20 + 40 * wave), Channel(50 + 40 * (1 - depth)), Channel(110 + 60 * wave)};
    });
}

std::string MandelbrotBmp(int width, int height) {
    constexpr int kIterations = 96;
    return MakeBmp(width, height, [=](int x, int y) -> Rgb {
        const double cr = -2.2 + 3.2 * x / width, ci = -1.2 + 2.4 * y / height;
        double zr = 0, zi = 0;
        int n = 0;
        while (n < kIterations && zr * zr + zi * zi < 4.0) {
            const double next = zr * zr - zi * zi + cr;
            zi = 2 * zr * zi + ci;
            zr = next;
            ++n;
        }
        if (n == kIterations) return {8, 8, 24};
        return Hue(0.62 + n / 32.0);
    });
}

std::string PlasmaBmp(int width, int height) {
    return MakeBmp(width, height, [=](int x, int y) {
        const double v = std::sin(x * 0.045) + std::sin(y * 0.06) + std::sin((x + y) * 0.03) +
                         std::sin(std::hypot(x - width / 2.0, y - height / 2.0) * 0.08);
        return Hue(v / 8.0 + 0.5);
    });
}

std::string RingsBmp(int width, int height) {
    return MakeBmp(width, height, [=](int x, int y) {
        const double r = std::hypot(x - width * 0.4, y - height * 0.55);
        return Hue(r / 40.0);
    });
}

std::string MosaicBmp(int width, int height) {
    return MakeBmp(width, height, [](int x, int y) -> Rgb {
        if (x % 20 == 0 || y % 20 == 0) return {40, 40, 40};  // grout
        return Hue(double((x / 20) * 7 + (y / 20) * 3) / 23.0);
    });
}

std::string GradientBmp(int width, int height) {
    return MakeBmp(width, height, [=](int x, int y) -> Rgb {
        return {Channel(255.0 * x / width), Channel(255.0 * y / height),
                Channel(255.0 * (1.0 - double(x) / width))};
    });
}

std::string PaletteBmp(int width, int height) {
    return MakeBmp(width, height, [=](int x, int y) -> Rgb {
        const Rgb hue = Hue(double(x * 12 / width) / 12.0);  // twelve swatches
        const double shade = 1.0 - double(y * 4 / height) * 0.22;
        return {Channel(hue.r * shade), Channel(hue.g * shade), Channel(hue.b * shade)};
    });
}

std::string CheckerboardBmp(int width, int height) {
    return MakeBmp(width, height, [](int x, int y) -> Rgb {
        return ((x / 16) + (y / 16)) % 2 ? Rgb{230, 40, 60} : Rgb{245, 240, 220};
    });
}

std::string ChordWav(double seconds) {
    return MakeWav(kSampleRate, seconds, [=](double t) {
        const double chord = Note(261.63, t) + Note(329.63, t) + Note(392.00, t);
        return 0.3 * chord * std::exp(-t * 0.9) * Ends(t, seconds);
    });
}

std::string ToneWav(double seconds) {
    return MakeWav(kSampleRate, seconds,
                   [=](double t) { return 0.6 * Note(440.0, t) * Ends(t, seconds); });
}

std::string ArpeggioWav(double seconds) {
    static constexpr double kNotes[] = {220.00, 261.63, 329.63, 440.00, 329.63, 261.63};
    constexpr double kStep = 0.25;
    return MakeWav(kSampleRate, seconds, [=](double t) {
        const int step = int(t / kStep);
        const double in_note = t - step * kStep;
        return 0.6 * Note(kNotes[step % 6], t) * std::exp(-in_note * 6) * Ends(t, seconds);
    });
}

namespace {

class BitWriter {
  public:
    void Put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) out_ += '\0';
            if ((value >> i) & 1) out_.back() = char(out_.back() | (0x80 >> (used_ % 8)));
            ++used_;
        }
    }
    std::string Take(std::size_t bytes) {
        out_.resize(bytes, '\0');  // the rest of the frame is ancillary data
        used_ = 0;
        return std::move(out_);
    }

  private:
    std::string out_;
    std::size_t used_ = 0;
};

}  // namespace

// MPEG-1 audio layer I, mono, 48 kHz, 64 kbit/s: a frame is 384 samples in 64 bytes. Only the
// second subband (750 to 1500 Hz) carries sound: a cosine of frequency f in its samples, which
// run at 1500 Hz, comes out of the decoder's filter bank mirrored, as a tone of 1500 - f Hz.
// That is enough for a small tune without an encoder's analysis filters.
std::string BeepsMp3(double seconds) {
    constexpr int kRate = 48000, kFrameBytes = 64, kBand = 1, kBits = 8;
    constexpr double kSubbandRate = kRate / 32.0;
    static constexpr double kTune[] = {880.00, 987.77, 1046.50, 1174.66, 1318.51, 1174.66};
    constexpr double kNote = 0.3;
    const int frames = int(seconds * kRate / 384);
    std::string out;
    double phase = 0;
    for (int frame = 0; frame < frames; ++frame) {
        const double t = frame * 384.0 / kRate;
        const int step = int(t / kNote);
        const bool sounding = t - step * kNote < kNote * 0.8;  // a short rest after each note
        BitWriter bits;
        bits.Put(0xFFF, 12);  // sync
        bits.Put(1, 1);       // MPEG-1
        bits.Put(3, 2);       // layer I
        bits.Put(1, 1);       // no CRC
        bits.Put(2, 4);       // 64 kbit/s
        bits.Put(1, 2);  // 48 kHz
        bits.Put(0, 1);  // no padding
        bits.Put(0, 1);
        bits.Put(3, 2);  // mono
        bits.Put(0, 2);
        bits.Put(0, 1);
        bits.Put(1, 1);  // original
        bits.Put(0, 2);
        for (int band = 0; band < 32; ++band)
            bits.Put(band == kBand && sounding ? kBits - 1 : 0, 4);  // bits per sample, less 1
        if (!sounding) {
            out += bits.Take(kFrameBytes);
            continue;
        }
        bits.Put(3, 6);  // scale factor 2^(1 - 3/3) = 1
        const double step_frequency = 1500.0 - kTune[step % 6];
        for (int sample = 0; sample < 12; ++sample) {
            const double x = 0.5 * std::cos(phase);
            phase += 2 * kPi * step_frequency / kSubbandRate;
            // The decoder reads s = 2^n / (2^n - 1) * (v + 2^(1 - n)) from the code v, a signed
            // fraction with its top bit inverted.
            constexpr double kLevels = 1 << kBits;
            const double v = x * (kLevels - 1) / kLevels - 2.0 / kLevels;
            const int code = std::clamp(int(std::lround(v * kLevels / 2)), -int(kLevels / 2),
                                        int(kLevels / 2) - 1);
            bits.Put(std::uint32_t(code & (int(kLevels) - 1)) ^ (1u << (kBits - 1)), kBits);
        }
        out += bits.Take(kFrameBytes);
    }
    return out;
}

}  // namespace quillfin::testserver

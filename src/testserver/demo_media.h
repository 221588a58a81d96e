#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quillfin::testserver {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

// An uncompressed 24-bit BMP file; pixel(x, y) with y = 0 at the top.
std::string MakeBmp(int width, int height, const std::function<Rgb(int x, int y)>& pixel);

// A 16-bit mono PCM WAV file; sample(t) in -1..1 for t seconds from the start.
std::string MakeWav(int sample_rate, double seconds, const std::function<double(double t)>& sample);

// The demo's pictures and sounds: generated, deterministic, a few hundred KB at most.
std::string SunsetBmp(int width, int height);
std::string MandelbrotBmp(int width, int height);
std::string PlasmaBmp(int width, int height);
std::string RingsBmp(int width, int height);
std::string MosaicBmp(int width, int height);
std::string GradientBmp(int width, int height);
std::string PaletteBmp(int width, int height);
std::string CheckerboardBmp(int width, int height);
std::string ChordWav(double seconds);      // C major, fading out
std::string ToneWav(double seconds);       // 440 Hz with soft ends
std::string ArpeggioWav(double seconds);   // A minor, note after note
std::string BeepsMp3(double seconds);      // a short tune of beeps between 880 and 1320 Hz

}  // namespace quillfin::testserver

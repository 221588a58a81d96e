#include "testserver/sample_data.h"

#include <algorithm>
#include <cstdio>

#include "testserver/demo_media.h"

namespace quillfin::testserver {
namespace {

constexpr const char* kPictures = "alt.binaries.quillfin.pictures";
constexpr const char* kSounds = "alt.binaries.quillfin.sounds";
constexpr const char* kMisc = "alt.binaries.quillfin.misc";

constexpr const char* kAda = "\"Ada Pixel\" <ada.pixel@example.test>";
constexpr const char* kBen = "\"Ben Tone\" <ben.tone@example.test>";
constexpr const char* kCleo = "Cleo Quill <cleo@example.test>";

std::string Padded(int value, int width) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*d", width, value);
    return text;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Lines end in CR LF, as on the wire.
std::string CrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

const char* kWelcome = R"(Hello, and welcome to the Quillfin demo server.

Everything here is made up on the spot by the demo server on your own machine;
nothing is fetched from anywhere. What the three groups hold:

  alt.binaries.quillfin.pictures  BMP pictures, uuencoded and yEnc, in parts.
                                  gradient.bmp lacks part 2 of 3 on purpose.
  alt.binaries.quillfin.sounds    WAV sounds and an MP3 tune; arpeggio.wav was
                                  posted without part numbers in its subjects.
                                  Double-click beeps.mp3 to hear its first part.
  alt.binaries.quillfin.misc      this note, an .nfo file and a single-part
                                  picture.

Scan the groups, then use the toolbar to show or hide complete, incomplete,
unknown and text postings. Queue what you like and download it.

..and a line that starts with a dot, to show that dots survive the trip.

Cleo
)";

const char* kNfo = R"(  Quillfin demo set
  -----------------
  pictures : sunset, mandelbrot, plasma, rings, mosaic, palette, gradient
  sounds   : chord, tone, arpeggio, beeps
  made by  : the demo server, fresh at every start
)";

}  // namespace

std::vector<std::string> SampleGroups() { return {kPictures, kSounds, kMisc}; }

std::vector<SamplePosting> SamplePostings() {
    using E = SamplePosting::Encoding;
    return {
        {kPictures, "sunset.bmp", E::kUuencode, SunsetBmp(400, 300), 4, "sunset.bmp ({p}/{t})",
         {}, kAda},
        {kPictures, "mandelbrot.bmp", E::kYenc, MandelbrotBmp(360, 240), 3,
         "\"mandelbrot.bmp\" yEnc ({p}/{t})", {}, kAda},
        {kPictures, "plasma.bmp", E::kYenc, PlasmaBmp(320, 240), 5,
         "[01/02] - \"plasma.bmp\" yEnc ({p}/{t})", {}, kAda},
        {kPictures, "rings.bmp", E::kYenc, RingsBmp(240, 180), 2,
         "[02/02] - \"rings.bmp\" yEnc ({p}/{t})", {}, kAda},
        {kPictures, "mosaic.bmp", E::kUuencode, MosaicBmp(200, 160), 3, "mosaic.bmp [{p}/{t}]",
         {}, kCleo},
        {kPictures, "palette.bmp", E::kYenc, PaletteBmp(96, 64), 1,
         "\"palette.bmp\" yEnc ({p}/{t})", {}, kCleo},
        {kPictures, "gradient.bmp", E::kYenc, GradientBmp(256, 192), 3,
         "\"gradient.bmp\" yEnc ({p}/{t})", {2}, kAda},
        {kSounds, "chord.wav", E::kYenc, ChordWav(3.0), 3, "\"chord.wav\" yEnc ({p}/{t})", {},
         kBen},
        {kSounds, "tone.wav", E::kUuencode, ToneWav(2.0), 2, "tone.wav ({p}/{t})", {}, kBen},
        {kSounds, "arpeggio.wav", E::kYenc, ArpeggioWav(3.0), 3, "\"arpeggio.wav\" yEnc", {},
         kBen},
        {kSounds, "beeps.mp3", E::kUuencode, BeepsMp3(4.0), 2, "beeps.mp3 ({p}/{t})", {}, kBen},
        {kMisc, "Welcome to the Quillfin demo server", E::kText, CrLf(kWelcome), 1, "", {},
         kCleo},
        {kMisc, "quillfin-demo.nfo", E::kUuencode, CrLf(kNfo), 1, "quillfin-demo.nfo", {}, kCleo},
        {kMisc, "checkerboard.bmp", E::kUuencode, CheckerboardBmp(128, 128), 1,
         "checkerboard.bmp", {}, kCleo},
    };
}

std::string SampleSubject(const SamplePosting& posting, int part) {
    std::string subject = posting.subjectForm.empty() ? posting.fileName : posting.subjectForm;
    const int width = int(std::to_string(posting.parts).size());
    ReplaceAll(subject, "{p}", Padded(part, width));
    ReplaceAll(subject, "{t}", Padded(posting.parts, width));
    return subject;
}

void AddSampleData(NewsSpool& spool) {
    for (const std::string& group : SampleGroups()) spool.AddGroup(group);
    int minute = 0;
    for (const SamplePosting& posting : SamplePostings()) {
        std::vector<std::string> bodies;
        switch (posting.encoding) {
            case SamplePosting::Encoding::kUuencode:
                bodies = UuencodeParts(posting.fileName, posting.content, posting.parts);
                break;
            case SamplePosting::Encoding::kYenc:
                bodies = YencParts(posting.fileName, posting.content, posting.parts);
                break;
            case SamplePosting::Encoding::kText:
                bodies = {posting.content};
                break;
        }
        for (int part = 1; part <= int(bodies.size()); ++part, ++minute) {
            const auto& missing = posting.missingParts;
            if (std::find(missing.begin(), missing.end(), part) != missing.end()) continue;
            TestArticle article;
            article.subject = SampleSubject(posting, part);
            article.from = posting.from;
            article.date = "Sat, 5 Dec 2026 " + Padded(18 + minute / 60, 2) + ":" +
                           Padded(minute % 60, 2) + ":00 +0000";
            article.body = std::move(bodies[std::size_t(part - 1)]);
            spool.AddArticle(posting.group, std::move(article));
        }
    }
}

void AddOverviewPostings(NewsSpool& spool, const std::string& group, std::int64_t articles,
                         int parts_per_posting) {
    if (parts_per_posting < 1) parts_per_posting = 1;
    const std::string total = Padded(parts_per_posting, 2);
    for (std::int64_t i = 0; i < articles; ++i) {
        const int posting = int(i / parts_per_posting) + 1;
        const int part = int(i % parts_per_posting) + 1;
        TestArticle article;
        if (posting % 2 == 0) {
            article.subject = "[" + std::to_string(posting % 50 + 1) + "/50] - \"file" +
                              std::to_string(posting) + ".r00\" yEnc (" + std::to_string(part) +
                              "/" + std::to_string(parts_per_posting) + ")";
        } else {
            article.subject = "archive" + std::to_string(posting) + ".rar (" + Padded(part, 2) +
                              "/" + total + ")";
        }
        article.bytes = 396000 + (i % 7) * 113;
        article.lines = 3040;
        spool.AddArticle(group, std::move(article));
    }
}

void AddMadeOverviewGroup(NewsSpool& spool, const std::string& group, std::int64_t articles) {
    spool.AddMadeGroup(group, articles, [group](std::int64_t n, std::string& out) {
        const std::int64_t block = (n - 1) / 40;
        const int at = int((n - 1) % 40);
        // A cheap scramble for names and posters that do not repeat in order.
        const std::uint64_t mix = std::uint64_t(n) * 0x9E3779B97F4A7C15ull;
        char line[512];
        int size;
        if (at < 20) {
            size = std::snprintf(
                line, sizeof line,
                "%lld\t%016llx%08llx.bin yEnc (1/1)\tposter%03d <p%d@example.test>\t"
                "Mon, 07 Dec 2026 %02d:%02d:%02d GMT\t<%lld.%llx@huge.example>\t\t%d\t%d\t"
                "Xref: huge.example %s:%lld\r\n",
                static_cast<long long>(n), static_cast<unsigned long long>(mix),
                static_cast<unsigned long long>(mix >> 40), int(mix % 997), int(mix % 997),
                int(block / 3600 % 24), int(block / 60 % 60), int(block % 60),
                static_cast<long long>(n), static_cast<unsigned long long>(mix >> 24),
                int(700000 + mix % 5000), 5400, group.c_str(), static_cast<long long>(n));
        } else {
            size = std::snprintf(
                line, sizeof line,
                "%lld\t[%lld/99] - \"holiday%lld.part%02lld.rar\" yEnc (%d/20)\tposter%03d "
                "<p%d@example.test>\tMon, 07 Dec 2026 %02d:%02d:%02d GMT\t<%lld.%llx@huge.example>"
                "\t\t%d\t%d\tXref: huge.example %s:%lld\r\n",
                static_cast<long long>(n), static_cast<long long>(block % 99 + 1),
                static_cast<long long>(block / 99), static_cast<long long>(block % 99 + 1),
                at - 19, int(block % 997), int(block % 997), int(block / 3600 % 24),
                int(block / 60 % 60), int(block % 60), static_cast<long long>(n),
                static_cast<unsigned long long>(mix >> 24), 716800, 5500, group.c_str(),
                static_cast<long long>(n));
        }
        if (size > 0) out.append(line, std::size_t(std::min<int>(size, sizeof line - 1)));
    });
}

}  // namespace quillfin::testserver

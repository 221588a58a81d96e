// Imports an NZB file of 100,000 segments (500 files of 200) into a fresh program, as Import
// NZB... does: the file read and parsed, the postings checked and queued, then saved.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_program.h"
#include "platform/nzb_reader.h"
#include "platform/nzb_writer.h"

namespace {

using namespace quillfin;

nzb::NzbDocument MakeDocument(int files, int segments) {
    nzb::NzbDocument document;
    for (int f = 0; f < files; ++f) {
        nzb::NzbFile file;
        char subject[160];
        std::snprintf(subject, sizeof subject,
                      "[%d/%d] - \"holiday-video-%05d.part%03d.rar\" yEnc (1/%d)", f + 1, files,
                      f, f, segments);
        file.subject = subject;
        file.poster = "\"Poster " + std::to_string(f % 40) + "\" <poster@example.net>";
        file.date = 1796515200 + f;
        file.groups = {"alt.binaries.test", "alt.binaries.other"};
        for (int s = 1; s <= segments; ++s)
            file.segments.push_back({716800 + s % 7, s,
                                     "part" + std::to_string(s) + "of" + std::to_string(segments) +
                                         "." + std::to_string(f) + "@news.example.net"});
        document.files.push_back(std::move(file));
    }
    return document;
}

double Ms(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string folder = bench::MakeFolder("quillfin-nzb-import");
    const std::string path = folder + "/big.nzb";
    {
        std::ofstream out(path, std::ios::binary);
        out << platform::WriteNzb(MakeDocument(500, 200));
    }
    std::printf("NZB file: 500 files, 100000 segments, %.1f MB\n",
                double(std::filesystem::file_size(path)) / 1e6);
    std::vector<double> totals;
    for (int run = 1; run <= 5; ++run) {
        const std::string dir = folder + "/run" + std::to_string(run);
        std::filesystem::create_directories(dir);
        bench::BenchProgram bench(dir);
        QElapsedTimer timer;
        timer.start();
        const platform::NzbReadResult read = platform::ReadNzbFile(path);
        const double parsed = Ms(timer);
        if (!read.error.empty() || !bench.program.ImportNzb(read.document, "big.nzb")) {
            std::fprintf(stderr, "import failed: %s\n", read.error.c_str());
            return 1;
        }
        const double queued = Ms(timer);
        bench.program.store.SaveHeaders(false);
        const double saved = Ms(timer);
        std::printf("run %d: read and parsed %.0f ms, checked and queued %.0f ms (%d rows), "
                    "saved %.0f ms; import %.0f ms\n",
                    run, parsed, queued - parsed, bench.program.batch.Rows().Count(),
                    saved - queued, queued);
        totals.push_back(queued);
    }
    std::sort(totals.begin(), totals.end());
    std::printf("import of 100000 segments: median %.0f ms, best %.0f ms (target under 1000 ms)\n",
                totals[totals.size() / 2], totals.front());
    std::filesystem::remove_all(folder);
    return 0;
}

// How much ZipWriter costs over the bare compression work, and whether its memory depends on the source size.
//
//   zip_bench [MEGABYTES] [LARGE_MEGABYTES]
//
// Generates a folder of photo-like files (JPEG-like starts and ends around noise that does not compress;
// MEGABYTES in all, 300 by default) in a temporary folder, then, in the same run and over the same files:
//   - archives them with ZipWriter, as the archive pass does (full path as member name);
//   - runs a bare loop of the same zlib calls: read 16 KiB, crc32, deflate at level 8, write when 16 KiB of
//     output have collected; one raw deflate stream per file, all into one output file.
// Each is timed five times, alternating which goes first; the ratio of the best times is the figure to read
// (wall time, and the process's CPU time, which other programs on the machine disturb less).
// Then it archives a 1 MiB file and a LARGE_MEGABYTES file (128 by default), each in a child process, and
// prints the peak resident size of each child: with no data held whole the two stay close. The temporary
// folder is removed at the end.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "zip/ZipWriter.h"

namespace {

using bench::Measure;
using bench::Timing;

constexpr int kRounds = 5;
constexpr const char* kUsage = "zip_bench [MEGABYTES] [LARGE_MEGABYTES]";

void RunBare(const std::vector<std::string>& files, const std::string& output) {
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || !bench::BareDeflateFiles(files, out)) {
        std::exit(1);
    }
    ::close(out);
}

void ArchiveOrDie(const std::vector<std::string>& files, const std::string& archive) {
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    for (const auto& file : files) {
        const zip::ZipStatus status = writer.AddFile(file, file);
        if (status != zip::ZipStatus::Ok) {
            std::fprintf(stderr, "ZipWriter failed on %s: %s\n", file.c_str(), zip::ZipStatusName(status));
            std::exit(1);
        }
    }
    if (writer.Close() != zip::ZipStatus::Ok) {
        std::fprintf(stderr, "ZipWriter::Close failed\n");
        std::exit(1);
    }
}

// Archives `files` in a child process and returns the child's peak resident size in KiB.
long PeakKiBOfArchiving(const std::vector<std::string>& files, const std::string& archive) {
    const pid_t child = ::fork();
    if (child == 0) {
        ArchiveOrDie(files, archive);
        ::_exit(0);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "archiving child failed\n");
        std::exit(1);
    }
    ::unlink(archive.c_str());
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t totalBytes = bench::PositiveArg(argc, argv, 1, 300, kUsage) << 20;
    const uint64_t largeBytes = bench::PositiveArg(argc, argv, 2, 128, kUsage) << 20;

    const std::string folder = bench::MakeTempFolder("tovaro-zip-bench");
    if (folder.empty()) {
        return 1;
    }
    const std::vector<std::string> photos = bench::MakePhotoFolder(folder, totalBytes);
    if (photos.empty()) {
        return 1;
    }
    std::printf("%zu photo-like files, %.0f MiB in all, in %s\n", photos.size(),
                static_cast<double>(totalBytes) / (1 << 20), folder.c_str());

    const std::string archive = folder + "/ArchivePics.zip";
    const std::string bare = folder + "/bare.out";
    const auto bareRun = [&] {
        RunBare(photos, bare);
        ::unlink(bare.c_str());
    };
    const auto zipRun = [&] {
        ArchiveOrDie(photos, archive);
        ::unlink(archive.c_str());
    };
    bareRun();  // warm up the caches for both
    std::vector<Timing> bares, zips;
    for (int round = 1; round <= kRounds; ++round) {
        Timing b, z;
        if (round % 2 == 1) {
            b = Measure(bareRun);
            z = Measure(zipRun);
        } else {
            z = Measure(zipRun);
            b = Measure(bareRun);
        }
        bares.push_back(b);
        zips.push_back(z);
        std::printf("round %d: bare loop %.3f s, ZipWriter %.3f s, wall ratio %.3f (cpu %.3f s vs %.3f s)\n",
                    round, b.wall, z.wall, z.wall / b.wall, b.cpu, z.cpu);
    }
    const Timing bestBare = bench::Best(bares), bestZip = bench::Best(zips);
    std::printf(
        "best of %d: bare loop %.3f s (%.0f MiB/s), ZipWriter %.3f s; wall ratio %.3f, cpu ratio %.3f "
        "(target <= 1.05)\n",
        kRounds, bestBare.wall, static_cast<double>(totalBytes) / (1 << 20) / bestBare.wall, bestZip.wall,
        bestZip.wall / bestBare.wall, bestZip.cpu / bestBare.cpu);

    const std::string small = folder + "/small.jpg";
    const std::string large = folder + "/large.jpg";
    if (!bench::MakePhoto(small, 1 << 20, 1001) || !bench::MakePhoto(large, largeBytes, 1002)) {
        std::fprintf(stderr, "cannot write the memory test files\n");
        return 1;
    }
    const long smallPeak = PeakKiBOfArchiving({small}, archive);
    const long largePeak = PeakKiBOfArchiving({large}, archive);
    std::printf(
        "peak resident size archiving a 1 MiB file: %ld KiB; a %.0f MiB file: %ld KiB; difference %ld KiB\n",
        smallPeak, static_cast<double>(largeBytes) / (1 << 20), largePeak, largePeak - smallPeak);

    return bench::RemoveTree(folder) ? 0 : 1;
}

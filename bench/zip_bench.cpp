// What the ZIP writer and its compressor pool cost over the bare compression work, what starting the
// writeback early saves at the flush, and whether memory depends on the size of a picture.
//
//   zip_bench [MEGABYTES] [WORKERS] [LARGE_MEGABYTES]
//
// Generates a folder of photo-like files (JPEG-like starts and ends around scan-like data that deflate
// shrinks by about 0.7 %; MEGABYTES in all, 300 by default) in a temporary folder, then, in the same run and
// over the same files:
//   1. Five rounds, the order turned each round, of
//      - the bare loop of the same zlib calls on one thread: read 16 KiB, crc32, raw deflate at level 8,
//        write when 16 KiB of output have collected; one stream per file, all into one output file;
//      - ZipWriter::AddFile for each file on one thread (full path as member name, as the archive pass);
//      - CompressorPool with one worker;
//      - CompressorPool with WORKERS workers (one per core by default).
//      Each against the bare loop: the ratio of the best wall times (and of the CPU times of all threads).
//   2. The flush: the pool on WORKERS workers writes the archive with the early writeback on and off, three
//      times each in turn, everything flushed before (sync); the fsync after Close is timed on its own.
//   3. The peak resident size of a child process archiving, through the pool, a 1 MiB picture, a
//      LARGE_MEGABYTES picture (1024 by default) and the whole folder.
// The temporary folder is removed at the end. Run it on a disk-backed folder (TMPDIR) for the flush figures.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "zip/CompressorPool.h"
#include "zip/ZipWriter.h"

namespace {

using bench::Measure;
using bench::Timing;

constexpr int kRounds = 5;
constexpr const char* kUsage = "zip_bench [MEGABYTES] [WORKERS] [LARGE_MEGABYTES]";

[[noreturn]] void Fail(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "%s %s\n", what, detail.c_str());
    std::exit(1);
}

void RunBare(const std::vector<std::string>& files, const std::string& output) {
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || !bench::BareDeflateFiles(files, out)) {
        Fail("the bare loop failed");
    }
    ::close(out);
}

void ArchiveOneByOne(const std::vector<std::string>& files, const std::string& archive) {
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    for (const auto& file : files) {
        if (const zip::ZipStatus status = writer.AddFile(file, file); status != zip::ZipStatus::Ok) {
            Fail("ZipWriter::AddFile failed:", file + ": " + zip::ZipStatusName(status));
        }
    }
    if (writer.Close() != zip::ZipStatus::Ok) {
        Fail("ZipWriter::Close failed");
    }
}

void ArchiveWithPool(const std::vector<std::string>& files, const std::string& archive, unsigned workers,
                     bool writebackEarly = true) {
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    writer.StartWritebackEarly(writebackEarly);
    zip::ZipStatus worst = zip::ZipStatus::Ok;
    zip::CompressorPool pool(
        writer,
        [&](const zip::CompressorPool::Outcome& outcome) {
            worst = outcome.status == zip::ZipStatus::Ok ? worst : outcome.status;
        },
        workers);
    for (const auto& file : files) {
        pool.Submit(file, *platform::File::OpenRegularForReading(file));
    }
    pool.Finish();
    if (worst != zip::ZipStatus::Ok || writer.Close() != zip::ZipStatus::Ok) {
        Fail("the pool failed:", zip::ZipStatusName(worst));
    }
}

double TimedFsync(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const Timing t = Measure([&] {
        if (fd < 0 || ::fsync(fd) != 0) {
            Fail("cannot flush", path);
        }
    });
    ::close(fd);
    return t.wall;
}

// Archives `files` through the pool in a child process; the child's peak resident size in KiB.
long PeakKiBOfPool(const std::vector<std::string>& files, const std::string& archive, unsigned workers) {
    const pid_t child = ::fork();
    if (child == 0) {
        ArchiveWithPool(files, archive, workers);
        ::_exit(0);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        Fail("the archiving child failed");
    }
    ::unlink(archive.c_str());
    return usage.ru_maxrss;
}

enum Way { kBare, kOneByOne, kPoolOne, kPoolN, kWays };

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each round as it ends, also into a file
    const uint64_t totalBytes = bench::PositiveArg(argc, argv, 1, 300, kUsage) << 20;
    const auto workers = static_cast<unsigned>(
        bench::PositiveArg(argc, argv, 2, std::max(1u, std::thread::hardware_concurrency()), kUsage));
    const uint64_t largeBytes = bench::PositiveArg(argc, argv, 3, 1024, kUsage) << 20;

    const std::string folder = bench::MakeTempFolder("tovaro-zip-bench");
    const std::vector<std::string> photos =
        folder.empty() ? std::vector<std::string>{} : bench::MakePhotoFolder(folder, totalBytes);
    if (photos.empty()) {
        return 1;
    }
    std::printf("%zu photo-like files, %.0f MiB in all, in %s; pool of %u workers\n", photos.size(),
                static_cast<double>(totalBytes) / (1 << 20), folder.c_str(), workers);

    const std::string archive = folder + "/ArchivePics.zip";
    const std::array<const char*, kWays> names = {"bare loop", "ZipWriter", "pool of 1", "pool of N"};
    const auto run = [&](Way way) {
        switch (way) {
            case kBare:
                RunBare(photos, archive);
                break;
            case kOneByOne:
                ArchiveOneByOne(photos, archive);
                break;
            case kPoolOne:
                ArchiveWithPool(photos, archive, 1);
                break;
            default:
                ArchiveWithPool(photos, archive, workers);
                break;
        }
        ::unlink(archive.c_str());
    };
    run(kBare);  // warm the page cache for all
    std::array<std::vector<Timing>, kWays> timings;
    for (int round = 0; round < kRounds; ++round) {
        std::printf("round %d:", round + 1);
        for (int i = 0; i < kWays; ++i) {
            const auto way = static_cast<Way>((i + round) % kWays);
            timings[way].push_back(Measure([&] { run(way); }));
            std::printf(" %s %.3f s;", names[way], timings[way].back().wall);
        }
        std::printf("\n");
    }
    const Timing bare = bench::Best(timings[kBare]);
    std::printf("best of %d: bare loop %.3f s (%.0f MiB/s)\n", kRounds, bare.wall,
                static_cast<double>(totalBytes) / (1 << 20) / bare.wall);
    for (int way = kOneByOne; way < kWays; ++way) {
        const Timing best = bench::Best(timings[way]);
        std::printf("  %-10s %.3f s: wall ratio %.3f, cpu ratio %.3f\n", names[way], best.wall,
                    best.wall / bare.wall, best.cpu / bare.cpu);
    }

    // The flush after Close, with the writeback started after each member and without.
    std::array<std::vector<double>, 2> writes, flushes;
    for (int round = 0; round < 6; ++round) {
        const bool early = round % 2 == 0;
        ::sync();
        writes[early].push_back(Measure([&] { ArchiveWithPool(photos, archive, workers, early); }).wall);
        flushes[early].push_back(TimedFsync(archive));
        ::unlink(archive.c_str());
    }
    for (const bool early : {true, false}) {
        std::sort(flushes[early].begin(), flushes[early].end());
        std::sort(writes[early].begin(), writes[early].end());
        std::printf("writeback %s: pool %.3f s, then fsync %.3f s (medians)\n",
                    early ? "started after each member" : "left to the kernel", writes[early][1],
                    flushes[early][1]);
    }
    std::printf("fsync with early writeback / without: %.3f\n", flushes[1][1] / flushes[0][1]);

    const std::string small = folder + "/small.jpg", large = folder + "/large.jpg";
    if (!bench::MakePhoto(small, 1 << 20, 1001) || !bench::MakePhoto(large, largeBytes, 1002)) {
        Fail("cannot write the memory test files");
    }
    const long smallPeak = PeakKiBOfPool({small}, archive, workers);
    const long largePeak = PeakKiBOfPool({large}, archive, workers);
    const long folderPeak = PeakKiBOfPool(photos, archive, workers);
    std::printf(
        "peak resident size through the pool: a 1 MiB picture %ld KiB; a %.0f MiB picture %ld KiB (target "
        "< 65536); the folder %ld KiB\n",
        smallPeak, static_cast<double>(largeBytes) / (1 << 20), largePeak, folderPeak);
    return bench::RemoveTree(folder) ? 0 : 1;
}

// How the archive pass compares with `zip -8` and with the bare compression work that it cannot avoid.
//
//   archive_bench [MEGABYTES] [ROUNDS]
//
// Generates a folder of photo-like files (JPEG-like starts and ends around noise that does not compress;
// MEGABYTES in all, 300 by default) in a temporary folder, then times, in the same run and over the same
// files, ROUNDS times (3 by default) in an order that changes from round to round:
//   - the archive pass under Nothing, from a camera folder of fresh hard links to the files into an empty
//     destination folder. The links are made before the clock starts; the pass only renames and removes
//     names and reads the data, so the files themselves are untouched. Its flush of the archive to the disk
//     and its check of the archive read back from the disk are part of its time.
//   - `zip -8 -q` over the same files, run as a child process. zip does not flush its output; the fsync that
//     would put it on the disk is timed apart, right after it, and shown as an extra figure.
//   - the bare loop of the same zlib calls (read 16 KiB, crc32, raw deflate at level 8, write) followed by an
//     fsync of its output, since the pass flushes its archive too.
// Everything written before is flushed (sync) before each timed run, so that no run pays for another's
// writes. The best time of each (wall time, and CPU time of this process and of zip, which other programs on
// the machine disturb less) and their ratios are the figures to read. The temporary folder is removed at
// the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "settings/SettingsFile.h"
#include "transfer/ArchivePass.h"

namespace {

using bench::Measure;
using bench::Timing;

constexpr const char* kUsage = "archive_bench [MEGABYTES] [ROUNDS]";

enum Way { kPass, kZip, kBare, kWays };
constexpr std::array<const char*, kWays> kWayNames = {"archive pass", "zip -8", "bare loop"};

// Each way in each place once every three rounds, then the same turned around.
constexpr std::array<std::array<Way, kWays>, 6> kOrders = {{
    {kPass, kZip, kBare},
    {kZip, kBare, kPass},
    {kBare, kPass, kZip},
    {kBare, kZip, kPass},
    {kZip, kPass, kBare},
    {kPass, kBare, kZip},
}};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

std::string BaseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

void CopyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    std::vector<uint8_t> buffer(1 << 20);
    bool ok = in >= 0 && out >= 0;
    for (ssize_t n = 1; ok && n > 0;) {
        n = ::read(in, buffer.data(), buffer.size());
        ok = n >= 0 && bench::WriteAllTo(out, buffer.data(), static_cast<size_t>(n));
    }
    ok = (in < 0 || ::close(in) == 0) && ok;
    ok = (out < 0 || ::close(out) == 0) && ok;
    if (!ok) {
        Fail("cannot copy " + from + " to " + to + ": " + std::strerror(errno));
    }
}

// A camera folder holding the photos under their own names: hard links where the file system has them,
// copies where not.
void FillCameraFolder(const std::string& camera, const std::vector<std::string>& photos) {
    if (::mkdir(camera.c_str(), 0755) != 0) {
        Fail("cannot make " + camera + ": " + std::strerror(errno));
    }
    static bool copying = false;
    for (const std::string& photo : photos) {
        const std::string name = camera + "/" + BaseName(photo);
        if (!copying && ::link(photo.c_str(), name.c_str()) != 0) {
            std::printf("(no hard links in %s: %s; the camera folder gets copies)\n", camera.c_str(),
                        std::strerror(errno));
            copying = true;
        }
        if (copying) {
            CopyFile(photo, name);
        }
    }
}

void FlushOrFail(int fd, const std::string& path) {
    if (::fsync(fd) != 0) {
        Fail("cannot flush " + path + ": " + std::strerror(errno));
    }
}

// One timed run of one way. `flush` is the fsync of the output: after zip (not part of its time), inside
// the bare loop's time.
struct Run {
    Timing timing;
    double flush = 0;
};

Run RunPass(const std::string& base, const std::vector<std::string>& photos) {
    const std::string camera = base + "/camera";
    const std::string computer = base + "/computer";
    FillCameraFolder(camera, photos);
    if (::mkdir(computer.c_str(), 0755) != 0) {
        Fail("cannot make " + computer + ": " + std::strerror(errno));
    }
    const SettingsFile settings(base + "/tovaro.ini");  // Nothing keeps no counter: never written
    transfer::PlainNamingInputs inputs;
    transfer::TransferReport report;
    ::sync();
    Run run;
    run.timing = Measure(
        [&] { report = transfer::ArchivePass(camera, computer, transfer::kNameNothing, inputs, settings); });
    if (report.Taken() != photos.size() || report.Done() != photos.size()) {
        for (const transfer::TransferItem& item : report.items) {
            if (!item.Done()) {
                Fail("the archive pass did not archive " + item.oldName + ": " + item.reason);
            }
        }
        Fail("the archive pass took " + std::to_string(report.Taken()) + " of " +
             std::to_string(photos.size()) + " files");
    }
    const std::string archive = computer + "/" + transfer::kArchiveName;
    if (::unlink(archive.c_str()) != 0 || ::rmdir(computer.c_str()) != 0 || ::rmdir(camera.c_str()) != 0) {
        Fail("the archive pass left something other than " + archive + " behind in " + base);
    }
    return run;
}

Run RunZip(const std::string& base, const std::string& photoFolder, const std::vector<std::string>& photos) {
    const std::string output = base + "/zip8.zip";
    std::vector<std::string> args = {"zip", "-8", "-q", output};
    for (const std::string& photo : photos) {
        args.push_back(BaseName(photo));
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    ::sync();
    Run run;
    int status = -1;
    run.timing = Measure([&] {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(photoFolder.c_str()) == 0) {
                ::execvp("zip", argv.data());
            }
            ::_exit(127);
        }
        if (child < 0 || ::waitpid(child, &status, 0) != child) {
            status = -1;
        }
    });
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Fail(WIFEXITED(status) && WEXITSTATUS(status) == 127
                 ? "cannot run zip (scripts/setup.sh installs it)"
                 : "zip -8 failed with status " + std::to_string(status));
    }
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(output.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Fail("zip -8 made no " + output);
    }
    FlushOrFail(fd, output);
    ::close(fd);
    run.flush = bench::Seconds(std::chrono::steady_clock::now() - start);
    ::unlink(output.c_str());
    return run;
}

Run RunBare(const std::string& base, const std::vector<std::string>& photos) {
    const std::string output = base + "/bare.out";
    ::sync();
    Run run;
    run.timing = Measure([&] {
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || !bench::BareDeflateFiles(photos, out)) {
            Fail("the bare loop failed on " + output);
        }
        const auto start = std::chrono::steady_clock::now();
        FlushOrFail(out, output);
        run.flush = bench::Seconds(std::chrono::steady_clock::now() - start);
        ::close(out);
    });
    ::unlink(output.c_str());
    return run;
}

double BestOf(const std::vector<Run>& runs, double (*figure)(const Run&)) {
    double best = 1e30;
    for (const Run& run : runs) {
        best = std::min(best, figure(run));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t totalBytes = bench::PositiveArg(argc, argv, 1, 300, kUsage) << 20;
    const int rounds = static_cast<int>(bench::PositiveArg(argc, argv, 2, 3, kUsage));

    const std::string base = bench::MakeTempFolder("tovaro-archive-bench");
    if (base.empty()) {
        return 1;
    }
    const std::string photoFolder = base + "/photos";
    if (::mkdir(photoFolder.c_str(), 0755) != 0) {
        Fail("cannot make " + photoFolder + ": " + std::strerror(errno));
    }
    const std::vector<std::string> photos = bench::MakePhotoFolder(photoFolder, totalBytes);
    if (photos.empty()) {
        return 1;
    }
    const double mebibytes = static_cast<double>(totalBytes) / (1 << 20);
    std::printf("%zu photo-like files, %.0f MiB in all, in %s\n", photos.size(), mebibytes, base.c_str());

    RunBare(base, photos);  // warm up: the photos are in the page cache for every way alike
    std::array<std::vector<Run>, kWays> runs;
    for (int round = 0; round < rounds; ++round) {
        const auto& order = kOrders[static_cast<size_t>(round) % kOrders.size()];
        for (const Way way : order) {
            runs[way].push_back(way == kPass  ? RunPass(base, photos)
                                : way == kZip ? RunZip(base, photoFolder, photos)
                                              : RunBare(base, photos));
        }
        const Run& p = runs[kPass].back();
        const Run& z = runs[kZip].back();
        const Run& b = runs[kBare].back();
        std::printf(
            "round %d (%s, %s, %s): archive pass %.3f s (cpu %.3f s); zip -8 %.3f s (cpu %.3f s), its fsync "
            "after it %.3f s; bare loop %.3f s (cpu %.3f s), of which fsync %.3f s\n",
            round + 1, kWayNames[order[0]], kWayNames[order[1]], kWayNames[order[2]], p.timing.wall,
            p.timing.cpu, z.timing.wall, z.timing.cpu, z.flush, b.timing.wall, b.timing.cpu, b.flush);
    }

    std::array<Timing, kWays> best;
    for (int way = 0; way < kWays; ++way) {
        best[way] = {BestOf(runs[way], [](const Run& r) { return r.timing.wall; }),
                     BestOf(runs[way], [](const Run& r) { return r.timing.cpu; })};
    }
    const double zipFlushed = BestOf(runs[kZip], [](const Run& r) { return r.timing.wall + r.flush; });
    const double bareUnflushed = BestOf(runs[kBare], [](const Run& r) { return r.timing.wall - r.flush; });

    std::printf("best of %d, wall time (cpu time):\n", rounds);
    std::printf("  archive pass (flush and check included)  %7.3f s (%7.3f s)  %4.0f MiB/s\n",
                best[kPass].wall, best[kPass].cpu, mebibytes / best[kPass].wall);
    std::printf("  zip -8 (does not flush)                  %7.3f s (%7.3f s)  %4.0f MiB/s\n",
                best[kZip].wall, best[kZip].cpu, mebibytes / best[kZip].wall);
    std::printf("  bare loop (fsync included)               %7.3f s (%7.3f s)  %4.0f MiB/s\n",
                best[kBare].wall, best[kBare].cpu, mebibytes / best[kBare].wall);
    const auto ratio = [&](Way a, Way b) {
        return std::array<double, 2>{best[a].wall / best[b].wall, best[a].cpu / best[b].cpu};
    };
    const auto passZip = ratio(kPass, kZip), passBare = ratio(kPass, kBare), zipBare = ratio(kZip, kBare);
    std::printf("ratios, wall time (cpu time):\n");
    std::printf("  archive pass / zip -8     %.3f (%.3f)  target below 1.0\n", passZip[0], passZip[1]);
    std::printf("  archive pass / bare loop  %.3f (%.3f)  target at most 1.1\n", passBare[0], passBare[1]);
    std::printf("  zip -8 / bare loop        %.3f (%.3f)  about 1.2 expected\n", zipBare[0], zipBare[1]);
    std::printf("extra, wall time only, for comparison:\n");
    std::printf("  zip -8 followed by an fsync of its output  %7.3f s; archive pass / that %.3f\n",
                zipFlushed, best[kPass].wall / zipFlushed);
    std::printf(
        "  bare loop without its fsync                %7.3f s; zip -8 / that %.3f; archive pass / that "
        "%.3f\n",
        bareUnflushed, best[kZip].wall / bareUnflushed, best[kPass].wall / bareUnflushed);

    return bench::RemoveTree(base) ? 0 : 1;
}

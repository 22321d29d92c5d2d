// The archive pass on every core against the compression work it cannot avoid and against other archivers,
// side by side in one run.
//
//   archive_bench [MEGABYTES] [ROUNDS] [PEAK_GIB]
//
// Generates a folder of photo-like files (JPEG-like starts and ends around noise that does not compress;
// MEGABYTES in all, 300 by default) in $TMPDIR (a memory file system such as /dev/shm is the place to compare
// compression work; the default is /tmp), then times, over the same files, ROUNDS times (5 by default) in
// an order that turns from round to round:
//   - the archive pass under Nothing on all cores, and on one worker, from a camera folder of fresh hard
//   links
//     to the files into an empty destination folder, its flush of the archive to the disk and its check of
//     the archive read back included;
//   - `zip -8 -q` over the same files, and `7zz a -tzip -mx=5 -mmt=2` (a zip on two threads), as child
//     processes; neither flushes its output nor reads it back;
//   - the bare loop of the same zlib calls on one thread (read 16 KiB, crc32, raw deflate at level 8, write),
//     followed by an fsync of its output.
// Prints the median of each (wall time; CPU time beside it) and their ratios. Then the peak resident memory
// of a process that runs the archive pass over one picture of PEAK_GIB GiB (1 by default; 0 skips it).
#include <fcntl.h>
#include <sys/resource.h>
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
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "settings/SettingsFile.h"
#include "transfer/ArchivePass.h"

namespace {

using bench::Measure;
using bench::Timing;

constexpr const char* kUsage = "archive_bench [MEGABYTES] [ROUNDS] [PEAK_GIB]";

enum Way { kPass, kPassOne, kZip, kSevenZip, kBare, kWays };
constexpr std::array<const char*, kWays> kWayNames = {"archive pass, all cores", "archive pass, 1 worker",
                                                      "zip -8", "7zz -tzip -mx=5 -mmt=2", "bare loop"};

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

Run RunPass(const std::string& base, const std::vector<std::string>& photos, unsigned workers) {
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
    transfer::PassOptions options;
    options.workers = workers;
    run.timing = Measure([&] {
        report = transfer::ArchivePass(camera, computer, transfer::kNameNothing, inputs, settings, options);
    });
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

// Runs an archiver over the photos (their names as arguments, in their folder); false when it is not there.
bool RunArchiver(std::vector<std::string> args, const std::string& output, const std::string& photoFolder,
                 const std::vector<std::string>& photos, Run* run) {
    for (const std::string& photo : photos) {
        args.push_back(BaseName(photo));
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    ::sync();
    int status = -1;
    run->timing = Measure([&] {
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) {
                ::dup2(null, STDOUT_FILENO);
            }
            if (::chdir(photoFolder.c_str()) == 0) {
                ::execvp(argv[0], argv.data());
            }
            ::_exit(127);
        }
        if (child < 0 || ::waitpid(child, &status, 0) != child) {
            status = -1;
        }
    });
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Fail(args[0] + " failed with status " + std::to_string(status));
    }
    ::unlink(output.c_str());
    return true;
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs the archive pass over `camera` into `computer` in this process and exits: the peak memory of a pass.
int PassOnce(const std::string& camera, const std::string& computer) {
    transfer::PlainNamingInputs inputs;
    const SettingsFile settings(computer + "/tovaro.ini");
    const transfer::TransferReport report =
        transfer::ArchivePass(camera, computer, transfer::kNameNothing, inputs, settings);
    return report.Taken() == 1 && report.Done() == 1 ? 0 : 1;
}

// The peak resident memory, in KiB, of a process that archives one picture of `gib` GiB.
long PeakArchivingOne(const std::string& base, uint64_t gib) {
    const std::string camera = base + "/big-camera", computer = base + "/big-computer";
    if (::mkdir(camera.c_str(), 0755) != 0 || ::mkdir(computer.c_str(), 0755) != 0 ||
        !bench::MakePhoto(camera + "/IMG_0001.JPG", gib << 30, 7)) {
        Fail("cannot make the large picture in " + camera);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/proc/self/exe", "archive_bench", "--pass-once", camera.c_str(), computer.c_str(), nullptr);
        ::_exit(127);
    }
    int status = -1;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        Fail("the archive pass over the large picture failed");
    }
    bench::RemoveTree(camera);
    bench::RemoveTree(computer);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--pass-once") {
        return PassOnce(argv[2], argv[3]);
    }
    const uint64_t totalBytes = bench::PositiveArg(argc, argv, 1, 300, kUsage) << 20;
    const int rounds = static_cast<int>(bench::PositiveArg(argc, argv, 2, 5, kUsage));
    const uint64_t peakGib =
        argc > 3 && std::string(argv[3]) == "0" ? 0 : bench::PositiveArg(argc, argv, 3, 1, kUsage);

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
    std::printf("%zu photo-like files, %.0f MiB in all, in %s, %u cores\n", photos.size(), mebibytes,
                base.c_str(), std::thread::hardware_concurrency());

    RunBare(base, photos);  // warm up: the photos are in the page cache for every way alike
    std::array<std::vector<double>, kWays> wall, cpu;
    std::array<bool, kWays> missing{};
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < kWays; ++i) {
            const Way way = static_cast<Way>((round + i) % kWays);  // each way in each place in turn
            Run run;
            switch (way) {
                case kPass:
                case kPassOne:
                    run = RunPass(base, photos, way == kPass ? 0 : 1);
                    break;
                case kZip:
                    missing[way] = !RunArchiver({"zip", "-8", "-q", base + "/zip8.zip"}, base + "/zip8.zip",
                                                photoFolder, photos, &run);
                    break;
                case kSevenZip:
                    missing[way] =
                        !RunArchiver({"7zz", "a", "-bd", "-tzip", "-mx=5", "-mmt=2", base + "/7z.zip"},
                                     base + "/7z.zip", photoFolder, photos, &run);
                    break;
                default:
                    run = RunBare(base, photos);
                    break;
            }
            wall[way].push_back(run.timing.wall);
            cpu[way].push_back(run.timing.cpu);
        }
    }

    std::array<double, kWays> w{}, c{};
    std::printf("median of %d rounds, wall time (cpu time):\n", rounds);
    for (int way = 0; way < kWays; ++way) {
        w[way] = Median(wall[way]);
        c[way] = Median(cpu[way]);
        if (missing[way]) {
            std::printf("  %-26s not installed (scripts/setup.sh installs it)\n", kWayNames[way]);
        } else {
            std::printf("  %-26s %7.3f s (%7.3f s)  %4.0f MiB/s\n", kWayNames[way], w[way], c[way],
                        mebibytes / w[way]);
        }
    }
    std::printf("ratios, wall time:\n");
    std::printf("  archive pass / bare loop          %.3f  target at most 0.60\n", w[kPass] / w[kBare]);
    if (!missing[kZip]) {
        std::printf("  archive pass / zip -8             %.3f  target below 0.6\n", w[kPass] / w[kZip]);
    }
    if (!missing[kSevenZip]) {
        std::printf("  archive pass / 7zz on two threads %.3f  target at most 1.0\n",
                    w[kPass] / w[kSevenZip]);
    }
    std::printf("  one worker / bare loop            %.3f  target at most 1.1\n", w[kPassOne] / w[kBare]);
    if (peakGib > 0) {
        const long peak = PeakArchivingOne(base, peakGib);
        std::printf(
            "peak resident memory archiving one picture of %llu GiB: %.1f MiB (target under 64 MiB)\n",
            static_cast<unsigned long long>(peakGib), static_cast<double>(peak) / 1024);
    }
    return bench::RemoveTree(base) ? 0 : 1;
}

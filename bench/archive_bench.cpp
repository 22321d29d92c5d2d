// The archive pass in both modes of compression against the compression work it cannot avoid, against the
// disk's own speed and against other archivers, side by side in one run.
//
//   archive_bench [MEGABYTES] [ROUNDS] [BIG_GIB]
//
// Generates photo-like files (JPEG-like starts and ends around scan-like data that deflate shrinks by about
// 0.7 %) in $TMPDIR (a memory file system such as /dev/shm shows the compression work; a disk-backed one such
// as /tmp the disk's speed), in three sets: a camera's MEGABYTES (300 by default) of photos of 2 to 8 MiB;
// 29 such photos with one of 12 MB last; and one picture of BIG_GIB GiB (1 by default; 0 skips it). Over
// each set it times, ROUNDS times (3 by default) in an order that turns from round to round:
//   - the archive pass under Nothing on all cores in each mode, standard and fast, from a camera folder of
//     fresh hard links to the files into an empty destination folder, its flush of the archive to the disk
//     and its check of the archive read back included;
//   - the bare loop of zlib's calls on one thread (read 16 KiB, crc32, raw deflate at level 8, write),
//     followed by an fsync of its output;
//   - `cat` of the files into one file beside the archive and `sync -f` of it: the disk's own speed;
//   - on the first set only, the standard pass on one worker, `zip -8 -q` and `7zz a -tzip -mx=5 -mmt=2`
//     as child processes (neither flushes its output nor reads it back).
// Prints the median of each (wall time; CPU time beside it), the archives' sizes and the ratios against
// their targets; then the peak resident memory of a process that runs the pass in each mode over one
// picture of BIG_GIB GiB. The machine should be otherwise idle: other work on it shows in every figure.
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

constexpr const char* kUsage = "archive_bench [MEGABYTES] [ROUNDS] [BIG_GIB]";

enum Way { kStandard, kFast, kBare, kCat, kStandardOne, kZip, kSevenZip, kWays };
constexpr std::array<const char*, kWays> kWayNames = {"archive pass, standard",   "archive pass, fast",
                                                      "bare zlib loop, 1 thread", "cat > one; sync -f",
                                                      "standard pass, 1 worker",  "zip -8",
                                                      "7zz -tzip -mx=5 -mmt=2"};

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

// One timed run of one way, and the size of what it wrote.
struct Run {
    Timing timing;
    double bytes = 0;
};

double SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0;
}

Run RunPass(const std::string& base, const std::vector<std::string>& photos, unsigned workers, bool fast) {
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
    options.compression = fast ? transfer::Compression::Fast : transfer::Compression::Standard;
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
    run.bytes = SizeOf(archive);
    if (::unlink(archive.c_str()) != 0 || ::rmdir(computer.c_str()) != 0 || ::rmdir(camera.c_str()) != 0) {
        Fail("the archive pass left something other than " + archive + " behind in " + base);
    }
    return run;
}

// Runs a program over the photos (their names as arguments, in their folder); false when it is not there.
bool RunProgram(std::vector<std::string> args, const std::string& output, const std::string& photoFolder,
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
    run->bytes = SizeOf(output);
    ::unlink(output.c_str());
    return true;
}

Run RunBare(const std::string& base, const std::vector<std::string>& photos) {
    const std::string output = base + "/bare.out";
    ::sync();
    Run run;
    run.timing = Measure([&] {
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || !bench::BareDeflateFiles(photos, out) || ::fsync(out) != 0) {
            Fail("the bare loop failed on " + output);
        }
        ::close(out);
    });
    run.bytes = SizeOf(output);
    ::unlink(output.c_str());
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs the archive pass over `camera` into `computer` in this process and exits: the peak memory of a pass.
int PassOnce(const std::string& mode, const std::string& camera, const std::string& computer) {
    transfer::PlainNamingInputs inputs;
    const SettingsFile settings(computer + "/tovaro.ini");
    transfer::PassOptions options;
    options.compression = mode == "fast" ? transfer::Compression::Fast : transfer::Compression::Standard;
    const transfer::TransferReport report =
        transfer::ArchivePass(camera, computer, transfer::kNameNothing, inputs, settings, options);
    return report.Taken() == 1 && report.Done() == 1 ? 0 : 1;
}

// The peak resident memory, in KiB, of a process that archives the one picture `picture` in `mode`.
long PeakArchivingOne(const std::string& base, const std::string& picture, const char* mode) {
    const std::string camera = base + "/peak-camera", computer = base + "/peak-computer";
    FillCameraFolder(camera, {picture});
    if (::mkdir(computer.c_str(), 0755) != 0) {
        Fail("cannot make " + computer);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/proc/self/exe", "archive_bench", "--pass-once", mode, camera.c_str(), computer.c_str(),
                nullptr);
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

// Times every way over one set of photos and prints the figures and the ratios against their targets.
void Compare(const char* title, const std::string& base, const std::vector<std::string>& photos, int rounds,
             bool others) {
    const std::string photoFolder = photos.front().substr(0, photos.front().rfind('/'));
    double total = 0;
    for (const std::string& photo : photos) {
        total += SizeOf(photo);
    }
    const double mebibytes = total / (1 << 20);
    std::printf("\n%s: %zu photo-like files, %.0f MiB in all\n", title, photos.size(), mebibytes);
    RunBare(base, photos);  // warm up: the photos are in the page cache for every way alike
    std::array<std::vector<double>, kWays> wall, cpu;
    std::array<double, kWays> bytes{};
    std::array<bool, kWays> missing{};
    const int ways = others ? kWays : kStandardOne;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < ways; ++i) {
            const Way way = static_cast<Way>((round + i) % ways);  // each way in each place in turn
            Run run;
            switch (way) {
                case kStandard:
                case kFast:
                case kStandardOne:
                    run = RunPass(base, photos, way == kStandardOne ? 1 : 0, way == kFast);
                    break;
                case kCat:
                    missing[way] =
                        !RunProgram({"sh", "-c", "cat \"$@\" > \"$0\" && sync -f \"$0\"", base + "/one"},
                                    base + "/one", photoFolder, photos, &run);
                    break;
                case kZip:
                    missing[way] = !RunProgram({"zip", "-8", "-q", base + "/zip8.zip"}, base + "/zip8.zip",
                                               photoFolder, photos, &run);
                    break;
                case kSevenZip:
                    missing[way] =
                        !RunProgram({"7zz", "a", "-bd", "-tzip", "-mx=5", "-mmt=2", base + "/7z.zip"},
                                    base + "/7z.zip", photoFolder, photos, &run);
                    break;
                default:
                    run = RunBare(base, photos);
                    break;
            }
            wall[way].push_back(run.timing.wall);
            cpu[way].push_back(run.timing.cpu);
            bytes[way] = run.bytes;
        }
    }
    std::array<double, kWays> w{};
    std::printf("median of %d rounds, wall time (cpu time), output size:\n", rounds);
    for (int way = 0; way < ways; ++way) {
        w[way] = Median(wall[way]);
        if (missing[way]) {
            std::printf("  %-26s not installed (scripts/setup.sh installs it)\n", kWayNames[way]);
        } else {
            std::printf("  %-26s %7.3f s (%7.3f s)  %5.0f MiB/s  %12.0f bytes\n", kWayNames[way], w[way],
                        Median(cpu[way]), mebibytes / w[way], bytes[way]);
        }
    }
    std::printf("ratios, wall time:\n");
    std::printf("  standard pass / bare loop          %6.3f  target at most 0.55\n", w[kStandard] / w[kBare]);
    std::printf("  standard pass / fast pass          %6.2f  target at least 5\n", w[kStandard] / w[kFast]);
    std::printf("  fast pass / cat > one; sync -f     %6.2f  target at most 1.5\n", w[kFast] / w[kCat]);
    std::printf("  fast archive / standard archive    %+.4f %%  target within 0.1 %%\n",
                (bytes[kFast] / bytes[kStandard] - 1) * 100);
    if (others) {
        std::printf("  1 worker / bare loop               %6.3f  target at most 1.1\n",
                    w[kStandardOne] / w[kBare]);
        if (!missing[kZip]) {
            std::printf("  standard pass / zip -8             %6.3f\n", w[kStandard] / w[kZip]);
        }
        if (!missing[kSevenZip]) {
            std::printf("  standard pass / 7zz, 2 threads     %6.3f\n", w[kStandard] / w[kSevenZip]);
        }
    }
}

std::string MakeFolder(const std::string& base, const char* name) {
    const std::string folder = base + "/" + name;
    if (::mkdir(folder.c_str(), 0755) != 0) {
        Fail("cannot make " + folder + ": " + std::strerror(errno));
    }
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--pass-once") {
        return PassOnce(argv[2], argv[3], argv[4]);
    }
    const uint64_t totalBytes = bench::PositiveArg(argc, argv, 1, 300, kUsage) << 20;
    const int rounds = static_cast<int>(bench::PositiveArg(argc, argv, 2, 3, kUsage));
    const uint64_t bigGib =
        argc > 3 && std::string(argv[3]) == "0" ? 0 : bench::PositiveArg(argc, argv, 3, 1, kUsage);

    const std::string base = bench::MakeTempFolder("tovaro-archive-bench");
    if (base.empty()) {
        return 1;
    }
    std::printf("archive pass benchmark in %s, %u cores\n", base.c_str(),
                std::thread::hardware_concurrency());
    const std::vector<std::string> photos = bench::MakePhotoFolder(MakeFolder(base, "photos"), totalBytes);
    if (photos.empty()) {
        return 1;
    }
    Compare("A camera's photos", base, photos, rounds, /*others=*/true);

    // A 30-file set whose last picture is a large one: the tail that once ran on one core.
    // Photos are 8 MiB at the most, so 29 of them never run out of bytes.
    std::vector<std::string> tail = bench::MakePhotoFolder(MakeFolder(base, "tail"), uint64_t{29} << 23, 29);
    tail.push_back(base + "/tail/IMG_9999.JPG");
    if (!bench::MakePhoto(tail.back(), 12'000'000, 99)) {
        Fail("cannot make " + tail.back());
    }
    Compare("29 photos and one of 12 MB last", base, tail, rounds, /*others=*/false);

    if (bigGib > 0) {
        const std::string big = MakeFolder(base, "big") + "/IMG_0001.JPG";
        if (!bench::MakePhoto(big, bigGib << 30, 7)) {
            Fail("cannot make " + big);
        }
        Compare("One large picture", base, {big}, std::min(rounds, 3), /*others=*/false);
        for (const char* mode : {"standard", "fast"}) {
            std::printf(
                "peak resident memory archiving one picture of %llu GiB, %s: %.1f MiB (target under 64 "
                "MiB)\n",
                static_cast<unsigned long long>(bigGib), mode,
                static_cast<double>(PeakArchivingOne(base, big, mode)) / 1024);
        }
    }
    return bench::RemoveTree(base) ? 0 : 1;
}

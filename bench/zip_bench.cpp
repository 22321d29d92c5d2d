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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zip/ZipWriter.h"

namespace {

constexpr size_t kBufferSize = 16384;
constexpr int kRounds = 5;

// A fast generator of bytes that do not compress.
struct Noise {
    uint64_t state;
    uint64_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

bool WriteAllTo(int fd, const uint8_t* data, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n <= 0) {
            return false;
        }
        data += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// A file of `size` bytes that looks like a JPEG: start of image, an APP0 header, noise, end of image.
bool MakePhoto(const std::string& path, uint64_t size, uint64_t seed) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::vector<uint8_t> block(1 << 20);
    Noise noise{seed * 0x9E3779B97F4A7C15ull + 1};
    uint64_t left = size;
    bool first = true;
    bool ok = true;
    while (ok && left > 0) {
        for (size_t i = 0; i + 8 <= block.size(); i += 8) {
            const uint64_t v = noise.Next();
            std::memcpy(&block[i], &v, 8);
        }
        if (first) {
            const uint8_t start[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
            std::memcpy(block.data(), start, sizeof start);
            first = false;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
        if (n == left && n >= 2) {
            block[n - 2] = 0xFF;
            block[n - 1] = 0xD9;
        }
        ok = WriteAllTo(fd, block.data(), n);
        left -= n;
    }
    return ::close(fd) == 0 && ok;
}

// The same zlib work as ZipWriter does for a deflated member, with nothing around it.
bool BareDeflate(int in, int out, uint8_t* input, uint8_t* output) {
    z_stream stream{};
    if (deflateInit2(&stream, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    size_t pending = 0;
    bool ok = true;
    for (bool done = false; ok && !done;) {
        const ssize_t n = ::read(in, input, kBufferSize);
        if (n < 0) {
            ok = false;
            break;
        }
        crc = crc32(crc, input, static_cast<uInt>(n));
        const int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = input;
        stream.avail_in = static_cast<uInt>(n);
        for (;;) {
            stream.next_out = output + pending;
            stream.avail_out = static_cast<uInt>(kBufferSize - pending);
            const int result = deflate(&stream, flush);
            pending = kBufferSize - stream.avail_out;
            const bool full = pending == kBufferSize;
            if (full) {
                ok = ok && WriteAllTo(out, output, pending);
                pending = 0;
            }
            if (result == Z_STREAM_END) {
                ok = ok && WriteAllTo(out, output, pending);
                done = true;
                break;
            }
            if (!full || result == Z_STREAM_ERROR) {
                break;
            }
        }
    }
    deflateEnd(&stream);
    return ok;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// User and system time of this process so far, in seconds.
double CpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

template <typename Work>
Timing Measure(Work work) {
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    return {Seconds(std::chrono::steady_clock::now() - start), CpuSeconds() - cpuStart};
}

void RunBare(const std::vector<std::string>& files, const std::string& output) {
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<uint8_t> input(kBufferSize), compressed(kBufferSize);
    for (const auto& file : files) {
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0 || !BareDeflate(in, out, input.data(), compressed.data())) {
            std::fprintf(stderr, "bare loop failed on %s\n", file.c_str());
            std::exit(1);
        }
        ::close(in);
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

uint64_t MegabytesArg(int argc, char** argv, int index, uint64_t fallback) {
    if (argc <= index) {
        return fallback;
    }
    const long long value = std::atoll(argv[index]);
    if (value <= 0) {
        std::fprintf(stderr, "usage: zip_bench [MEGABYTES] [LARGE_MEGABYTES]\n");
        std::exit(2);
    }
    return static_cast<uint64_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t totalBytes = MegabytesArg(argc, argv, 1, 300) << 20;
    const uint64_t largeBytes = MegabytesArg(argc, argv, 2, 128) << 20;

    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tovaro-zip-bench-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }

    // Photos of 2 to 8 MiB, as a camera gives them.
    std::vector<std::string> photos;
    Noise sizes{42};
    for (uint64_t made = 0; made < totalBytes;) {
        const uint64_t size = std::min<uint64_t>(totalBytes - made, (2 << 20) + sizes.Next() % (6 << 20));
        char name[32];
        std::snprintf(name, sizeof name, "/IMG_%04zu.JPG", photos.size() + 1);
        photos.push_back(folder + name);
        if (!MakePhoto(photos.back(), size, photos.size())) {
            std::fprintf(stderr, "cannot write %s\n", photos.back().c_str());
            return 1;
        }
        made += size;
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
    Timing bestBare{1e30, 1e30}, bestZip{1e30, 1e30};
    for (int round = 1; round <= kRounds; ++round) {
        Timing b, z;
        if (round % 2 == 1) {
            b = Measure(bareRun);
            z = Measure(zipRun);
        } else {
            z = Measure(zipRun);
            b = Measure(bareRun);
        }
        bestBare = {std::min(bestBare.wall, b.wall), std::min(bestBare.cpu, b.cpu)};
        bestZip = {std::min(bestZip.wall, z.wall), std::min(bestZip.cpu, z.cpu)};
        std::printf("round %d: bare loop %.3f s, ZipWriter %.3f s, wall ratio %.3f (cpu %.3f s vs %.3f s)\n",
                    round, b.wall, z.wall, z.wall / b.wall, b.cpu, z.cpu);
    }
    std::printf(
        "best of %d: bare loop %.3f s (%.0f MiB/s), ZipWriter %.3f s; wall ratio %.3f, cpu ratio %.3f "
        "(target <= 1.05)\n",
        kRounds, bestBare.wall, static_cast<double>(totalBytes) / (1 << 20) / bestBare.wall, bestZip.wall,
        bestZip.wall / bestBare.wall, bestZip.cpu / bestBare.cpu);

    const std::string small = folder + "/small.jpg";
    const std::string large = folder + "/large.jpg";
    if (!MakePhoto(small, 1 << 20, 1001) || !MakePhoto(large, largeBytes, 1002)) {
        std::fprintf(stderr, "cannot write the memory test files\n");
        return 1;
    }
    const long smallPeak = PeakKiBOfArchiving({small}, archive);
    const long largePeak = PeakKiBOfArchiving({large}, archive);
    std::printf(
        "peak resident size archiving a 1 MiB file: %ld KiB; a %.0f MiB file: %ld KiB; difference %ld KiB\n",
        smallPeak, static_cast<double>(largeBytes) / (1 << 20), largePeak, largePeak - smallPeak);

    const std::string remove = "rm -rf '" + folder + "'";
    return std::system(remove.c_str()) == 0 ? 0 : 1;
}

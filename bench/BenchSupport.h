// What the benchmarks share: photo-like test data, the bare loop of zlib calls that the ZIP work is measured
// against, and timing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The chunk size of the bare loop: it reads 16 KiB at a time and writes when 16 KiB of output have collected.
inline constexpr size_t kBufferSize = 16384;

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

// Writes all `count` bytes to `fd`; false on the first failed write.
bool WriteAllTo(int fd, const uint8_t* data, size_t count);

// A file of `size` bytes that looks like a JPEG: start of image, an APP0 header, scan-like data that deflate
// shrinks by about 0.7 %, end of image.
bool MakePhoto(const std::string& path, uint64_t size, uint64_t seed);

// Fills `folder` with photos of 2 to 8 MiB, as a camera gives them (IMG_0001.JPG, ...), `totalBytes` in
// all, or `most` photos when they come first. Returns their paths in name order; empty when a file could not
// be written (a message went to stderr).
std::vector<std::string> MakePhotoFolder(const std::string& folder, uint64_t totalBytes,
                                         size_t most = SIZE_MAX);

// The same zlib work as ZipWriter does for a deflated member, with nothing around it: read 16 KiB, crc32,
// raw deflate at level 8, write when 16 KiB of output have collected. `input` and `output` hold kBufferSize
// bytes each.
bool BareDeflate(int in, int out, uint8_t* input, uint8_t* output);

// BareDeflate over each of `files` in turn, one raw deflate stream per file, all into `out`. False (with a
// message on stderr) when a file could not be opened or compressed.
bool BareDeflateFiles(const std::vector<std::string>& files, int out);

// A new folder in $TMPDIR (or /tmp) named after `prefix`; empty on failure (a message went to stderr).
std::string MakeTempFolder(const std::string& prefix);

// Removes `folder` and everything in it.
bool RemoveTree(const std::string& folder);

// The argument at `index` as a positive number, `fallback` when there is none; prints `usage` and exits with
// status 2 when it is not a positive number.
uint64_t PositiveArg(int argc, char** argv, int index, uint64_t fallback, const char* usage);

double Seconds(std::chrono::steady_clock::duration d);

// User and system time, in seconds, of this process and of the child processes it has waited for.
double CpuSeconds();

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

// The smallest wall time and the smallest CPU time of `runs`, each taken on its own.
Timing Best(const std::vector<Timing>& runs);

}  // namespace bench

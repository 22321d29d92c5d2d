// For the ZIP tests: test data, and the one check by readers we did not write.
#pragma once

#include <unistd.h>
#include <zlib.h>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"
#include "zip/ZipWriter.h"

namespace zip {
inline void PrintTo(ZipStatus status, std::ostream* os) {
    *os << ZipStatusName(status);
}
}  // namespace zip

namespace zipcheck {

// Name in the archive, and the file that holds the member's bytes.
using Members = std::vector<std::pair<std::string, std::string>>;

inline uint32_t Crc32(const std::string& bytes) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// `size` bytes that look like a JPEG (an FF D8 FF E0 start, then noise that does not compress).
inline std::string PhotoLikeBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator());
    }
    return bytes.replace(0, std::min<size_t>(size, 4), "\xFF\xD8\xFF\xE0", std::min<size_t>(size, 4));
}

// Python's zipfile finds every member whole, and exactly `members` in order; `unzip -tq` passes too. Empty
// when so, else what went wrong.
inline std::string CheckWithReaders(const std::string& archive, const Members& members) {
    // The expected members go through a file of NUL-separated fields: there may be tens of thousands.
    static const char* kScript = R"(
import sys, zipfile
fields, z = open(sys.argv[2], 'rb').read().split(b'\0')[:-1], zipfile.ZipFile(sys.argv[1])
names = [i.orig_filename.encode('cp437') for i in z.infolist()]
assert z.testzip() is None and names == fields[0::2], names[:5]
assert all(z.read(i) == open(f, 'rb').read() for i, f in zip(z.infolist(), fields[1::2])), 'contents differ'
)";
    using testsupport::ShellQuote;
    std::string listing, output;
    for (const auto& [name, source] : members) {
        listing += name + '\0' + source + '\0';
    }
    testsupport::WriteFile(archive + ".expected", listing);
    const std::string args = ShellQuote(archive) + " " + ShellQuote(archive + ".expected") + " 2>&1";
    if (testsupport::RunCommand("python3 -c " + ShellQuote(kScript) + " " + args, &output) != 0) {
        return "python zipfile: " + output;
    }
    ::unlink((archive + ".expected").c_str());
    const int status = testsupport::RunCommand("unzip -tq " + ShellQuote(archive) + " 2>&1", &output);
    return status == 0 ? "" : "unzip -t: " + output;
}

}  // namespace zipcheck

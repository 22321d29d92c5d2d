#include "tests/zip/ZipCheck.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>
#include <random>

#include "tests/support/TempDir.h"

namespace zipcheck {

uint16_t Le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes.at(at)) | static_cast<uint8_t>(bytes.at(at + 1))
                                                                          << 8);
}

uint32_t Le32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(Le16(bytes, at)) | static_cast<uint32_t>(Le16(bytes, at + 2)) << 16;
}

std::string PhotoLikeBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator());
    }
    const char start[] = {'\xFF', '\xD8', '\xFF', '\xE0'};
    bytes.replace(0, std::min(size, sizeof start), start, std::min(size, sizeof start));
    return bytes;
}

std::string CompressibleBytes(size_t size) {
    static const std::string line = "The quick brown fox jumps over the lazy dog. 0123456789\n";
    std::string bytes;
    bytes.reserve(size + line.size());
    while (bytes.size() < size) {
        bytes += line;
    }
    bytes.resize(size);
    return bytes;
}

uint32_t Crc32(const std::string& bytes) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string ReadRange(const std::string& path, uint64_t offset, size_t count) {
    std::string bytes(count, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    const ssize_t n = ::pread(fd, bytes.data(), count, static_cast<off_t>(offset));
    ::close(fd);
    bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return bytes;
}

std::string CheckWithPython(const std::string& archive, const std::vector<ExpectedMember>& members) {
    // The expected members go through a file of NUL-separated names and paths: there may be tens of
    // thousands, and names of any bytes.
    static const char* kScript = R"(
import os, sys, zipfile
archive, listing = sys.argv[1:3]
with open(listing, 'rb') as f:
    fields = f.read().split(b'\0')[:-1]
expected, sources = fields[0::2], fields[1::2]
with zipfile.ZipFile(archive) as z:
    bad = z.testzip()
    if bad is not None:
        sys.exit('bad member: %r' % bad)
    infos = z.infolist()
    names = [i.orig_filename.encode('cp437') for i in infos]
    if names != expected:
        sys.exit('members %r, expected %r' % (names[:5], expected[:5]))
    cache = {}
    for info, source in zip(infos, sources):
        if source not in cache:
            with open(source, 'rb') as f:
                cache[source] = f.read()
        if z.read(info) != cache[source]:
            sys.exit('contents of %r differ from %r' % (info.filename[:80], source))
print('OK')
)";
    const std::string listing = archive + ".expected";
    std::string text;
    for (const auto& member : members) {
        text += member.name + '\0' + member.sourcePath + '\0';
    }
    testsupport::WriteFile(listing, text);
    std::string output;
    const int status = testsupport::RunCommand("python3 -c " + testsupport::ShellQuote(kScript) + " " +
                                                   testsupport::ShellQuote(archive) + " " +
                                                   testsupport::ShellQuote(listing) + " 2>&1",
                                               &output);
    ::unlink(listing.c_str());
    return status == 0 && output == "OK\n" ? std::string() : "python zipfile: " + output;
}

std::string CheckWithUnzip(const std::string& archive) {
    std::string output;
    const int status =
        testsupport::RunCommand("unzip -tq " + testsupport::ShellQuote(archive) + " 2>&1", &output);
    return status == 0 ? std::string() : "unzip -t: " + output;
}

std::string CheckWithReaders(const std::string& archive, const std::vector<ExpectedMember>& members) {
    return CheckWithPython(archive, members) + CheckWithUnzip(archive);
}

}  // namespace zipcheck

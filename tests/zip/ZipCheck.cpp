#include "tests/zip/ZipCheck.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <random>

#include "tests/support/TempDir.h"

namespace zipcheck {
namespace {

void Append(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
    }
}

}  // namespace

uint16_t Le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes.at(at)) | static_cast<uint8_t>(bytes.at(at + 1))
                                                                          << 8);
}

uint32_t Le32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(Le16(bytes, at)) | static_cast<uint32_t>(Le16(bytes, at + 2)) << 16;
}

void Put16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, size_t at, uint32_t value) {
    Put16(bytes, at, static_cast<uint16_t>(value & 0xFFFF));
    Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

uint32_t Crc32(const std::string& bytes) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string PhotoLikeBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator());
    }
    bytes.replace(0, std::min<size_t>(size, 4), "\xFF\xD8\xFF\xE0", std::min<size_t>(size, 4));
    return bytes;
}

std::string CompressibleBytes(size_t size) {
    static const std::string line = "The quick brown fox jumps over the lazy dog. 0123456789\n";
    std::string bytes;
    while (bytes.size() < size) {
        bytes += line;
    }
    bytes.resize(size);
    return bytes;
}

std::string Deflate(const std::string& data, bool finish) {
    z_stream s{};
    deflateInit2(&s, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, data.size()) + 64, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, finish ? Z_FINISH : Z_SYNC_FLUSH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

std::string ReadRange(const std::string& path, uint64_t offset, size_t count) {
    std::string bytes(count, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd < 0 ? -1 : ::pread(fd, bytes.data(), count, static_cast<off_t>(offset));
    if (fd >= 0) {
        ::close(fd);
    }
    bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return bytes;
}

TestArchive BuildArchive(const std::vector<TestMember>& members, const std::string& comment) {
    TestArchive archive;
    std::string& out = archive.bytes;
    std::string directory;
    for (const TestMember& m : members) {
        const std::string payload = m.payload ? *m.payload : m.method == 8 ? Deflate(m.data) : m.data;
        const uint32_t crc = Crc32(m.data);
        const uint32_t size = m.recordedSize ? *m.recordedSize : static_cast<uint32_t>(m.data.size());
        const auto compressed = static_cast<uint32_t>(payload.size());
        const bool descriptor = (m.flags & 0x0008) != 0;
        // Flags, method, time, date, CRC-32, both sizes, name length: the fields both headers share.
        const auto shared = [&](std::string& to, bool zeros) {
            Append(to, m.flags, 2), Append(to, m.method, 2), Append(to, 0x5B856000, 4);
            Append(to, zeros ? 0 : crc, 4), Append(to, zeros ? 0 : compressed, 4),
                Append(to, zeros ? 0 : size, 4);
            Append(to, static_cast<uint32_t>(m.name.size()), 2);
        };
        Append(directory, 0x02014B50, 4), Append(directory, 0x0B17, 2), Append(directory, 20, 2);
        shared(directory, false);
        Append(directory, static_cast<uint32_t>(m.centralExtra.size()), 2);
        Append(directory, 0, 6);  // comment length, disk number start, internal attributes
        Append(directory, 0x81800020, 4), Append(directory, static_cast<uint32_t>(out.size()), 4);
        directory += m.name + m.centralExtra;

        archive.local.push_back(out.size());
        Append(out, 0x04034B50, 4), Append(out, 20, 2);
        shared(out, descriptor);
        Append(out, 0, 2);
        out += m.name;
        archive.data.push_back(out.size());
        out += payload;
        if (descriptor) {
            Append(out, 0x08074B50, 4), Append(out, crc, 4), Append(out, compressed, 4), Append(out, size, 4);
        }
    }
    size_t at = out.size();
    for (const TestMember& m : members) {
        archive.central.push_back(at);
        at += 46 + m.name.size() + m.centralExtra.size();
    }
    const auto directoryOffset = static_cast<uint32_t>(out.size());
    out += directory;
    archive.end = out.size();
    Append(out, 0x06054B50, 4), Append(out, 0, 4);
    Append(out, static_cast<uint32_t>(members.size()), 2),
        Append(out, static_cast<uint32_t>(members.size()), 2);
    Append(out, static_cast<uint32_t>(directory.size()), 4), Append(out, directoryOffset, 4);
    Append(out, static_cast<uint32_t>(comment.size()), 2);
    out += comment;
    return archive;
}

std::string CheckWithPython(const std::string& archive, const std::vector<ExpectedMember>& members) {
    // The expected members go through a file of NUL-separated names and paths: there may be tens of
    // thousands, and names of any bytes.
    static const char* kScript = R"(
import sys, zipfile
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
    using testsupport::ShellQuote;
    const std::string listing = archive + ".expected";
    std::string text;
    for (const auto& member : members) {
        text += member.name + '\0' + member.sourcePath + '\0';
    }
    testsupport::WriteFile(listing, text);
    std::string output;
    const int status = testsupport::RunCommand(
        "python3 -c " + ShellQuote(kScript) + " " + ShellQuote(archive) + " " + ShellQuote(listing) + " 2>&1",
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

#include "tests/zip/TestArchive.h"

#include <zlib.h>

namespace ziptest {
namespace {

void Append16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void Append32(std::string& out, uint32_t v) {
    Append16(out, static_cast<uint16_t>(v & 0xFFFF));
    Append16(out, static_cast<uint16_t>(v >> 16));
}

std::string RawDeflate(const std::string& data, int finalFlush) {
    z_stream s{};
    deflateInit2(&s, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, data.size()) + 64, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, finalFlush);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

}  // namespace

std::string Deflate(const std::string& data) {
    return RawDeflate(data, Z_FINISH);
}

std::string DeflateWithoutEnd(const std::string& data) {
    return RawDeflate(data, Z_SYNC_FLUSH);
}

uint32_t Crc32(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string NoiseBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return out;
}

void Put16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, size_t at, uint32_t value) {
    Put16(bytes, at, static_cast<uint16_t>(value & 0xFFFF));
    Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

TestArchive BuildArchive(const std::vector<TestMember>& members, const std::string& comment) {
    TestArchive archive;
    std::string& out = archive.bytes;
    std::string directory;
    for (const TestMember& m : members) {
        const std::string payload = m.payload ? *m.payload : (m.method == 8 ? Deflate(m.data) : m.data);
        const uint32_t crc = Crc32(m.data);
        const uint32_t size = m.recordedSize ? *m.recordedSize : static_cast<uint32_t>(m.data.size());
        const auto compressed = static_cast<uint32_t>(payload.size());
        const bool descriptor = (m.flags & 0x0008) != 0;
        const auto offset = static_cast<uint32_t>(out.size());

        archive.local.push_back(out.size());
        Append32(out, 0x04034B50);                            // signature
        Append16(out, 20);                                    // version needed
        Append16(out, m.flags);                               // flags
        Append16(out, m.method);                              // method
        Append16(out, 0x6000);                                // time
        Append16(out, 0x5B85);                                // date
        Append32(out, descriptor ? 0 : crc);                  // CRC-32
        Append32(out, descriptor ? 0 : compressed);           // compressed size
        Append32(out, descriptor ? 0 : size);                 // uncompressed size
        Append16(out, static_cast<uint16_t>(m.name.size()));  // name length
        Append16(out, 0);                                     // extra length
        out += m.name;
        archive.data.push_back(out.size());
        out += payload;
        if (descriptor) {
            Append32(out, 0x08074B50);
            Append32(out, crc);
            Append32(out, compressed);
            Append32(out, size);
        }

        Append32(directory, 0x02014B50);                                    // signature
        Append16(directory, 0x0B17);                                        // version made by
        Append16(directory, 20);                                            // version needed
        Append16(directory, m.flags);                                       // flags
        Append16(directory, m.method);                                      // method
        Append16(directory, 0x6000);                                        // time
        Append16(directory, 0x5B85);                                        // date
        Append32(directory, crc);                                           // CRC-32
        Append32(directory, compressed);                                    // compressed size
        Append32(directory, size);                                          // uncompressed size
        Append16(directory, static_cast<uint16_t>(m.name.size()));          // name length
        Append16(directory, static_cast<uint16_t>(m.centralExtra.size()));  // extra length
        Append16(directory, 0);                                             // comment length
        Append16(directory, 0);                                             // disk number start
        Append16(directory, 0);                                             // internal attributes
        Append32(directory, 0x81800020);                                    // external attributes
        Append32(directory, offset);                                        // local header offset
        directory += m.name;
        directory += m.centralExtra;
    }
    const auto directoryOffset = static_cast<uint32_t>(out.size());
    size_t at = out.size();
    for (const TestMember& m : members) {
        archive.central.push_back(at);
        at += 46 + m.name.size() + m.centralExtra.size();
    }
    out += directory;
    archive.end = out.size();
    Append32(out, 0x06054B50);                               // signature
    Append16(out, 0);                                        // this disk
    Append16(out, 0);                                        // directory's disk
    Append16(out, static_cast<uint16_t>(members.size()));    // entries here
    Append16(out, static_cast<uint16_t>(members.size()));    // entries in all
    Append32(out, static_cast<uint32_t>(directory.size()));  // directory size
    Append32(out, directoryOffset);                          // directory offset
    Append16(out, static_cast<uint16_t>(comment.size()));    // comment length
    out += comment;
    return archive;
}

}  // namespace ziptest

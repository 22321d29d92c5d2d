// Helpers for the ZIP tests: fields of archive bytes, test data, hand-laid archives, and the readers we did
// not write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "zip/ZipWriter.h"

namespace zip {
// Statuses by name in test failure messages.
inline void PrintTo(ZipStatus status, std::ostream* os) {
    *os << ZipStatusName(status);
}
}  // namespace zip

namespace zipcheck {

uint16_t Le16(const std::string& bytes, size_t at);
uint32_t Le32(const std::string& bytes, size_t at);
void Put16(std::string& bytes, size_t at, uint16_t value);
void Put32(std::string& bytes, size_t at, uint32_t value);
uint32_t Crc32(const std::string& bytes);

// `size` bytes that look like a JPEG (an FF D8 FF E0 start, then noise that does not compress).
std::string PhotoLikeBytes(size_t size, uint32_t seed);
// `size` bytes of text that compresses well.
std::string CompressibleBytes(size_t size);
// A raw deflate stream; without `finish` it is flushed but never given its final block.
std::string Deflate(const std::string& data, bool finish = true);

// `count` bytes of the file from `offset` (for archives too large to read whole).
std::string ReadRange(const std::string& path, uint64_t offset, size_t count);

// One member of a hand-laid archive; every field can be set wrong on purpose.
struct TestMember {
    TestMember(std::string name_, std::string data_, uint16_t method_ = 8, uint16_t flags_ = 0)
        : name(std::move(name_)), data(std::move(data_)), method(method_), flags(flags_) {}
    TestMember& Payload(std::string bytes) { return payload = std::move(bytes), *this; }
    TestMember& RecordedSize(uint32_t size) { return recordedSize = size, *this; }
    TestMember& CentralExtra(std::string extra) { return centralExtra = std::move(extra), *this; }

    std::string name, data;
    uint16_t method;  // 0 stored, 8 deflated
    uint16_t flags;   // 0x0008: zeros for CRC and sizes in the local header, a descriptor after the data
    std::optional<std::string> payload;    // the bytes stored as member data, instead of `data` compressed
    std::optional<uint32_t> recordedSize;  // instead of data.size()
    std::string centralExtra;
};

// A hand-laid archive and where each of its records landed.
struct TestArchive {
    std::string bytes;
    std::vector<size_t> local, data, central;  // offsets of each member's local header, data, central header
    size_t end = 0;                            // offset of the end record
};

TestArchive BuildArchive(const std::vector<TestMember>& members, const std::string& comment = "");

// One expected member: its name in the archive and the file whose bytes it must hold.
struct ExpectedMember {
    std::string name, sourcePath;
};

// Python's zipfile: testzip() finds no bad member, the members are exactly `members` in order, and each
// reads back equal to its source. Empty on success, else what went wrong.
std::string CheckWithPython(const std::string& archive, const std::vector<ExpectedMember>& members);
// `unzip -tq`: empty on success, else its output.
std::string CheckWithUnzip(const std::string& archive);
// Both readers.
std::string CheckWithReaders(const std::string& archive, const std::vector<ExpectedMember>& members);

}  // namespace zipcheck

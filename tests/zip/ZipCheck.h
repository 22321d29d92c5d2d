// Helpers for the ZIP tests: reading fields out of archive bytes, test data, and the readers we did not
// write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "zip/ZipWriter.h"

namespace zip {
// Statuses by name in test failure messages.
inline void PrintTo(ZipStatus status, std::ostream* os) { *os << ZipStatusName(status); }
}  // namespace zip

namespace zipcheck {

uint16_t Le16(const std::string& bytes, size_t at);
uint32_t Le32(const std::string& bytes, size_t at);

// `size` bytes that look like a JPEG (an FF D8 FF E0 start, then noise that does not compress).
std::string PhotoLikeBytes(size_t size, uint32_t seed);
// `size` bytes of text that compresses well.
std::string CompressibleBytes(size_t size);

uint32_t Crc32(const std::string& bytes);

// `count` bytes of the file from `offset` (for archives too large to read whole).
std::string ReadRange(const std::string& path, uint64_t offset, size_t count);

// One expected member: its name in the archive and the file whose bytes it must hold.
struct ExpectedMember {
    std::string name;
    std::string sourcePath;
};

// Opens the archive with Python's zipfile: testzip() must find no bad member, the members must be exactly
// `members` in order, and each must read back equal to its source. Empty on success, else what went wrong.
std::string CheckWithPython(const std::string& archive, const std::vector<ExpectedMember>& members);

// Runs `unzip -tq` on the archive; empty on success, else its output.
std::string CheckWithUnzip(const std::string& archive);

// Both readers.
std::string CheckWithReaders(const std::string& archive, const std::vector<ExpectedMember>& members);

}  // namespace zipcheck

// The fuzz target of the ZIP reader, and the check behind it, which the regression tests call directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/ZipReader.h"

namespace fuzz {

struct ArchiveCheck {
    zip::ReadResult open;
    std::vector<zip::ReadResult> members;  // one per central directory entry, in its order, when open is Ok
};

// Opens the bytes as an archive and verifies every member. Traps when the reader breaks one of its promises
// (an unexplained failure, an Ok for a member checked against a CRC-32 or size it cannot have), so the
// fuzzer sees wrong answers as well as crashes.
ArchiveCheck CheckArchive(const uint8_t* data, size_t size);

}  // namespace fuzz

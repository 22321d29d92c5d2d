// A member compressed into memory away from the writer's thread, waiting for the writer to put it into the
// archive whole. Made by ZipWriter::Hold on a pool worker, written by ZipWriter::AddHeld; nothing outside the
// ZIP library uses it.
#pragma once

#include <sys/mman.h>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip/ZipFormat.h"
#include "zip/ZipWriter.h"

namespace zip {

// Memory mapped for one member alone and unmapped when it is done, so that what the process holds is what
// the pool has in flight, however the allocator would have kept freed blocks.
struct Unmap {
    size_t length = 0;
    void operator()(uint8_t* data) const { ::munmap(data, length); }
};
using HeldBytes = std::unique_ptr<uint8_t, Unmap>;

struct HeldMember {
    ZipEntry entry;  // final CRC-32, sizes, flags, times and attributes; the offset is set when it is written
    std::array<uint8_t, kLocalExtraSize> localExtra{};
    int64_t announcedSize = 0;
    ZipStatus openStatus = ZipStatus::Ok;  // the source could not be opened or examined: nothing to write
    ZipStatus dataStatus = ZipStatus::Ok;  // reading or compressing failed part-way
    // The writer's thread is to stream it instead: more data came than its buffer holds (the source grew), no
    // buffer could be had, or it is a stored member.
    bool streamed = false;
    HeldBytes data;
    size_t size = 0;  // bytes of compressed data in `data`
};

// The most bytes raw deflate can make of `size` bytes (the zlib-wrapped bound, a little above the raw one).
uint64_t DeflatedSizeBound(uint64_t size);

}  // namespace zip

// The data of a deflated member: one raw deflate stream, cut into blocks that can be compressed apart.
//
// A member's bytes are cut after every kBlockSize bytes. Each block is compressed by a fresh compressor
// primed with the 32 KiB before it as its dictionary, fed in pieces of kPieceSize bytes counted from the
// block's start, and ended on a byte boundary (a sync flush) -- the last block ends the stream instead.
// Joined in order, the blocks are one raw deflate stream that every reader reads. So the bytes depend only on
// the member's bytes, the mode and these two sizes: compressing the blocks one after the other on one thread
// (ZipWriter) or on several at once (CompressorPool) gives the same stream. A member of at most kBlockSize
// bytes is a single stream, made exactly as it always was.
//
// Internal to the ZIP library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "zip/ZipWriter.h"

namespace zip {

inline constexpr uint64_t kBlockSize = uint64_t{4} << 20;
inline constexpr size_t kPieceSize = size_t{1} << 20;
inline constexpr size_t kDictionarySize = 32768;
static_assert(kBlockSize % kPieceSize == 0 && kPieceSize >= kDictionarySize);

// The number of blocks a member of `size` bytes is cut into (one for an empty member).
inline uint64_t BlockCount(uint64_t size) {
    return size <= kBlockSize ? 1 : (size + kBlockSize - 1) / kBlockSize;
}

// Where compressed bytes go. Room gives space to fill (empty: no more may come); Filled says how many bytes
// of the last room given were filled. Room may hand out the rest of a room partly filled.
class DeflateSink {
  public:
    virtual ~DeflateSink() = default;
    virtual std::span<uint8_t> Room() = 0;
    virtual ZipStatus Filled(size_t count) = 0;
};

// One compressor of the chosen mode, used for block after block.
class Deflater {
  public:
    explicit Deflater(Compression mode);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Starts a block, primed with `dictionary` (the up to 32 KiB before it; empty for the first block).
    ZipStatus Begin(std::span<const uint8_t> dictionary, DeflateSink& sink);
    // Compresses one piece of the block (kPieceSize bytes, or fewer at the member's end).
    ZipStatus Feed(std::span<const uint8_t> piece);
    // Ends the block on a byte boundary, or the stream when `last`; hands everything made to the sink.
    ZipStatus End(bool last);

  private:
    struct Backend;
    ZipStatus Run(std::span<const uint8_t> input, int flush);
    ZipStatus Put(std::span<const uint8_t> bytes);
    ZipStatus PutStored(std::span<const uint8_t> data);
    ZipStatus MakeRoom();

    std::unique_ptr<Backend> m_backend;
    DeflateSink* m_sink = nullptr;
    std::span<uint8_t> m_room;
    size_t m_pending = 0;  // bytes of m_room filled
};

// The CRC-32 of `data` continued from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, std::span<const uint8_t> data);
// The CRC-32 of two pieces joined, from theirs and the second one's length.
uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength);

}  // namespace zip

#include "zip/Deflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace zip {
namespace {

// Standard: zlib's raw deflate at level 8, memory level 8, the default strategy.
constexpr int kStandardLevel = 8;
constexpr int kRawWindowBits = -15;  // negative: raw deflate, no zlib header or trailer
constexpr int kMemoryLevel = 8;
// Fast: ISA-L's level 1. On photos (already compressed) its three levels give archives of the same size
// within a few bytes a member, and level 1 is the fastest by far; on a compressible picture such as a BMP
// the higher levels save a little more, at up to three times the time.
constexpr int kFastLevel = 1;
constexpr uint32_t kFastLevelBufferSize = ISAL_DEF_LVL1_DEFAULT;
// Both compressors' output depends on how much room each call is given: ISA-L's everywhere, zlib's where a
// flush ends with the room (it marks the flush again in the next call). So each call always gets the same
// room: in the sink's room where that has enough left, else the compressor's own, out of which its output is
// copied to the sink. The stream then depends only on the input, whatever rooms the sink hands out.
constexpr size_t kCallOutputSize = size_t{256} << 10;
// Fast: each piece ends on a byte boundary (a sync flush) and is held until it is whole, so that one that
// does not compress (the noise that much of a photo is) goes in as stored blocks instead, as zlib does it by
// itself: no larger, and read back at the speed of a copy rather than decoded symbol by symbol. The held
// output has room for the largest that a piece can come to.
constexpr size_t kFastPieceOutputSize = kPieceSize + 2 * kCallOutputSize;
constexpr size_t kStoredBlockSize = 65535;
constexpr size_t kStoredHeaderSize = 5;

// Fast: a piece whose bytes are spread so evenly that no code for single bytes could make it smaller by a
// thousandth goes in stored without being compressed at all. That is the noise that a video or a compressed
// raw file mostly is: the compressor would find no matches there either, and would only spend the time of
// finding none. Four samples of 64 KiB spread over the piece tell its spread well enough, at a fiftieth of
// the cost of compressing it.
constexpr double kLeastWorthwhileSaving = 1.0 / 1024;
constexpr size_t kSampleSize = size_t{64} << 10;
constexpr size_t kSamples = 4;

// Whether `piece` can be worth compressing: the bits its bytes' order-0 entropy leaves unused.
bool MayCompress(std::span<const uint8_t> piece) {
    if (piece.size() < kSamples * kSampleSize) {
        return true;  // a short one costs little either way
    }
    // Four tables, so that the increments don't wait on one another.
    std::array<std::array<uint32_t, 256>, 4> counts{};
    for (size_t k = 0; k < kSamples; ++k) {
        const uint8_t* sample = piece.data() + k * (piece.size() - kSampleSize) / (kSamples - 1);
        for (size_t i = 0; i < kSampleSize; i += 4) {
            ++counts[0][sample[i]];
            ++counts[1][sample[i + 1]];
            ++counts[2][sample[i + 2]];
            ++counts[3][sample[i + 3]];
        }
    }
    const double total = kSamples * kSampleSize;
    double bits = 0;
    for (int b = 0; b < 256; ++b) {
        const double count = counts[0][b] + counts[1][b] + counts[2][b] + counts[3][b];
        bits += count > 0 ? -count * std::log2(count / total) : 0;
    }
    return bits < total * 8 * (1 - kLeastWorthwhileSaving);
}

// The size of `size` bytes as stored blocks.
size_t StoredSize(size_t size) {
    return size + kStoredHeaderSize * ((size + kStoredBlockSize - 1) / kStoredBlockSize);
}

enum Flush { kNoFlush, kSyncFlush, kFinish };

}  // namespace

struct Deflater::Backend {
    Compression mode;
    z_stream zlib{};
    bool zlibReady = false;
    isal_zstream isal{};
    std::vector<uint8_t> isalLevelBuffer;
    std::vector<uint8_t> callOutput;
    std::vector<uint8_t> pieceOutput;
    // After a piece that went in stored without passing through ISA-L, the compressor's history lacks it:
    // the next piece starts it afresh, primed with the 32 KiB that piece ended with.
    std::vector<uint8_t> skippedTail;
    bool stale = false;

    explicit Backend(Compression m) : mode(m), callOutput(kCallOutputSize) {
        if (mode == Compression::Fast) {
            isalLevelBuffer.resize(kFastLevelBufferSize);
            pieceOutput.resize(kFastPieceOutputSize);
        }
    }
    ~Backend() {
        if (zlibReady) {
            deflateEnd(&zlib);
        }
    }

    bool Begin(std::span<const uint8_t> dictionary) {
        stale = false;
        if (mode == Compression::Fast) {
            isal_deflate_init(&isal);
            isal.level = kFastLevel;
            isal.level_buf = isalLevelBuffer.data();
            isal.level_buf_size = kFastLevelBufferSize;
            isal.gzip_flag = IGZIP_DEFLATE;
            return dictionary.empty() ||
                   isal_deflate_set_dict(&isal, const_cast<uint8_t*>(dictionary.data()),
                                         static_cast<uint32_t>(dictionary.size())) == COMP_OK;
        }
        const int started = zlibReady ? deflateReset(&zlib)
                                      : deflateInit2(&zlib, kStandardLevel, Z_DEFLATED, kRawWindowBits,
                                                     kMemoryLevel, Z_DEFAULT_STRATEGY);
        zlibReady = zlibReady || started == Z_OK;
        return started == Z_OK &&
               (dictionary.empty() ||
                deflateSetDictionary(&zlib, dictionary.data(), static_cast<uInt>(dictionary.size())) == Z_OK);
    }

    // One call of the compressor over what is left of the input into `out`. Done: all input taken and the
    // flush asked for complete. False on a compressor error.
    bool Step(std::span<const uint8_t>& input, std::span<uint8_t> out, Flush flush, size_t* produced,
              bool* done) {
        if (mode == Compression::Fast) {
            isal.next_in = const_cast<uint8_t*>(input.data());
            isal.avail_in = static_cast<uint32_t>(input.size());
            isal.next_out = out.data();
            isal.avail_out = static_cast<uint32_t>(out.size());
            isal.flush = flush == kNoFlush ? NO_FLUSH : SYNC_FLUSH;
            isal.end_of_stream = flush == kFinish ? 1 : 0;
            if (isal_deflate(&isal) != COMP_OK) {
                return false;
            }
            input = input.last(isal.avail_in);
            *produced = out.size() - isal.avail_out;
            // With room left over, everything given has gone through, flushed as asked.
            *done = isal.avail_in == 0 && isal.avail_out > 0 &&
                    (flush != kFinish || isal.internal_state.state == ZSTATE_END);
            return true;
        }
        zlib.next_in = const_cast<uint8_t*>(input.data());
        zlib.avail_in = static_cast<uInt>(input.size());
        zlib.next_out = out.data();
        zlib.avail_out = static_cast<uInt>(out.size());
        const int result = deflate(&zlib, flush == kNoFlush     ? Z_NO_FLUSH
                                          : flush == kSyncFlush ? Z_SYNC_FLUSH
                                                                : Z_FINISH);
        if (result == Z_STREAM_ERROR) {
            return false;
        }
        input = input.last(zlib.avail_in);
        *produced = out.size() - zlib.avail_out;
        // Room left over: deflate took all the input and flushed; at the end it must have ended the stream.
        *done = result == Z_STREAM_END || (zlib.avail_out > 0 && flush != kFinish);
        return result == Z_STREAM_END || zlib.avail_out == 0 || flush != kFinish;
    }
};

Deflater::Deflater(Compression mode) : m_backend(std::make_unique<Backend>(mode)) {}

Deflater::~Deflater() = default;

ZipStatus Deflater::Begin(std::span<const uint8_t> dictionary, DeflateSink& sink) {
    m_sink = &sink;
    m_room = {};
    m_pending = 0;
    return m_backend->Begin(dictionary) ? ZipStatus::Ok : ZipStatus::CompressorFailed;
}

ZipStatus Deflater::Feed(std::span<const uint8_t> piece) {
    if (m_backend->mode != Compression::Fast) {
        return Run(piece, kNoFlush);
    }
    Backend& backend = *m_backend;
    if (!MayCompress(piece)) {
        const std::span<const uint8_t> tail = piece.last(std::min(piece.size(), kDictionarySize));
        backend.skippedTail.assign(tail.begin(), tail.end());
        backend.stale = true;
        return PutStored(piece);
    }
    if (backend.stale && !backend.Begin(backend.skippedTail)) {
        return ZipStatus::CompressorFailed;
    }
    const std::span<const uint8_t> whole = piece;
    std::span<uint8_t> held(backend.pieceOutput);
    size_t made = 0;
    bool fits = true;  // all of the output is held; else it is larger than the piece stored anyway
    for (bool done = false; !done;) {
        fits = fits && held.size() - made >= kCallOutputSize;
        const std::span<uint8_t> out =
            fits ? held.subspan(made, kCallOutputSize) : std::span<uint8_t>(m_backend->callOutput);
        size_t produced = 0;
        const size_t inputBefore = piece.size();
        if (!m_backend->Step(piece, out, kSyncFlush, &produced, &done)) {
            return ZipStatus::CompressorFailed;
        }
        made += fits ? produced : 0;
        if (!done && produced == 0 && piece.size() == inputBefore) {
            return ZipStatus::CompressorFailed;  // no progress with room to spare
        }
    }
    return fits && made < StoredSize(whole.size()) ? Put(held.first(made)) : PutStored(whole);
}

// `data` as stored blocks, none of them the last: the stream stands on a byte boundary, and the compressor
// goes on from the same history, which a reader has from the stored bytes as well.
ZipStatus Deflater::PutStored(std::span<const uint8_t> data) {
    ZipStatus status = ZipStatus::Ok;
    while (status == ZipStatus::Ok && !data.empty()) {
        const size_t length = std::min(data.size(), kStoredBlockSize);
        // Not the last block, stored, padding to the byte; the length and its complement.
        const uint8_t header[kStoredHeaderSize] = {
            0, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(~length),
            static_cast<uint8_t>(~length >> 8)};
        status = Put(header);
        status = status == ZipStatus::Ok ? Put(data.first(length)) : status;
        data = data.subspan(length);
    }
    return status;
}

ZipStatus Deflater::End(bool last) {
    const ZipStatus status = Run({}, last ? kFinish : kSyncFlush);
    if (status != ZipStatus::Ok || m_pending == 0) {
        return status;
    }
    const size_t pending = m_pending;
    m_room = {};
    m_pending = 0;
    return m_sink->Filled(pending);
}

ZipStatus Deflater::Run(std::span<const uint8_t> input, int flush) {
    for (;;) {
        // Straight into the sink's room where that holds the whole room a call always gets, else into the
        // compressor's own and copied from there.
        const bool direct = m_room.size() - m_pending >= kCallOutputSize;
        const std::span<uint8_t> out =
            direct ? m_room.subspan(m_pending, kCallOutputSize) : std::span<uint8_t>(m_backend->callOutput);
        size_t produced = 0;
        bool done = false;
        const size_t inputBefore = input.size();
        if (!m_backend->Step(input, out, static_cast<Flush>(flush), &produced, &done)) {
            return ZipStatus::CompressorFailed;
        }
        m_pending += direct ? produced : 0;
        if (const ZipStatus status = direct ? ZipStatus::Ok : Put(out.first(produced));
            status != ZipStatus::Ok || done) {
            return status;
        }
        if (produced == 0 && input.size() == inputBefore) {
            return ZipStatus::CompressorFailed;  // no progress with room to spare
        }
    }
}

// Once the room is full, hands it to the sink and takes the next one.
ZipStatus Deflater::MakeRoom() {
    if (m_pending < m_room.size()) {
        return ZipStatus::Ok;
    }
    if (!m_room.empty()) {
        if (const ZipStatus status = m_sink->Filled(m_pending); status != ZipStatus::Ok) {
            return status;
        }
    }
    m_room = m_sink->Room();
    m_pending = 0;
    return m_room.empty() ? ZipStatus::TooLarge : ZipStatus::Ok;  // empty: the sink takes no more
}

// Copies compressed bytes into the sink's rooms.
ZipStatus Deflater::Put(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        if (const ZipStatus status = MakeRoom(); status != ZipStatus::Ok) {
            return status;
        }
        const size_t count = std::min(bytes.size(), m_room.size() - m_pending);
        std::memcpy(m_room.data() + m_pending, bytes.data(), count);
        m_pending += count;
        bytes = bytes.subspan(count);
    }
    return ZipStatus::Ok;
}

uint32_t Crc32(uint32_t crc, std::span<const uint8_t> data) {
    return crc32_gzip_refl(crc, data.data(), data.size());
}

uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength) {
    return static_cast<uint32_t>(crc32_combine(first, second, static_cast<z_off_t>(secondLength)));
}

}  // namespace zip

#include "zip/ZipReader.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/Sys.h"

namespace zip {
namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kMaxCommentSize = 0xFFFF;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagMaskedHeaders = 0x2000;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kZip64ExtraId = 0x0001;

// Member data passes through buffers of this size, whatever the member's size.
constexpr size_t kChunkSize = 64 * 1024;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

ReadResult Fail(ReadStatus status, std::string reason) {
    return ReadResult{status, std::move(reason)};
}
ReadResult Damaged(std::string reason) {
    return Fail(ReadStatus::Damaged, std::move(reason));
}
ReadResult Unsupported(std::string reason) {
    return Fail(ReadStatus::Unsupported, std::move(reason));
}
ReadResult Mismatch(std::string reason) {
    return Fail(ReadStatus::Mismatch, std::move(reason));
}
ReadResult ReadFailure(const std::string& what, const platform::Failure& failure) {
    return Fail(ReadStatus::ReadFailed, "cannot read " + what + ": " + std::strerror(failure.error));
}
ReadResult SinkFailure(const platform::Status& written) {
    return Fail(ReadStatus::ReadFailed,
                std::string("the data could not be written out: ") + std::strerror(written.Error().error));
}

// Reads the range [begin, end) of a source front to back, one buffer at a time. Callers check Remaining()
// before they take, so a false return always means the source failed (Failed tells how).
class ChunkedReader {
  public:
    ChunkedReader(ByteSource& source, uint64_t begin, uint64_t end, std::vector<uint8_t>& buffer)
        : m_source(source), m_next(begin), m_end(end), m_buffer(buffer) {
        m_buffer.resize(static_cast<size_t>(std::min<uint64_t>(kChunkSize, end - begin)));
    }

    uint64_t Remaining() const { return (m_fill - m_used) + (m_end - m_next); }
    const platform::Failure& Failed() const { return m_read.Error(); }

    // What is buffered, or the next buffer full; at least one byte when true.
    bool Next(uint8_t** data, size_t* size) {
        if (m_used == m_fill && !Refill()) {
            return false;
        }
        *data = m_buffer.data() + m_used;
        *size = m_fill - m_used;
        m_used = m_fill;
        return true;
    }

    bool Take(void* out, size_t count) {
        auto* bytes = static_cast<uint8_t*>(out);
        while (count > 0) {
            if (m_used == m_fill && !Refill()) {
                return false;
            }
            const size_t n = std::min(count, m_fill - m_used);
            std::memcpy(bytes, m_buffer.data() + m_used, n);
            bytes += n;
            count -= n;
            m_used += n;
        }
        return true;
    }

    void Skip(uint64_t count) {
        const size_t buffered = m_fill - m_used;
        if (count <= buffered) {
            m_used += static_cast<size_t>(count);
            return;
        }
        m_used = m_fill;
        m_next += count - buffered;
    }

  private:
    bool Refill() {
        if (m_next >= m_end || m_buffer.empty()) {
            return false;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(m_buffer.size(), m_end - m_next));
        m_read = m_source.ReadAt(m_next, m_buffer.data(), n);
        if (!m_read) {
            return false;
        }
        m_next += n;
        m_used = 0;
        m_fill = n;
        return true;
    }

    ByteSource& m_source;
    uint64_t m_next;  // source offset of the byte after the buffered ones
    uint64_t m_end;
    std::vector<uint8_t>& m_buffer;
    size_t m_used = 0;
    size_t m_fill = 0;
    platform::Status m_read;
};

bool HasExtraBlock(const std::vector<uint8_t>& extra, uint16_t id) {
    size_t at = 0;
    while (extra.size() - at >= 4) {
        if (Get16(&extra[at]) == id) {
            return true;
        }
        at += 4 + Get16(&extra[at + 2]);
        if (at > extra.size()) {
            break;
        }
    }
    return false;
}

bool HasZip64Placeholder(const MemberInfo& m) {
    return m.compressedSize == 0xFFFFFFFF || m.uncompressedSize == 0xFFFFFFFF ||
           m.localHeaderOffset == 0xFFFFFFFF || m.diskNumberStart == 0xFFFF;
}

// The end record's two-byte count holds the number of entries, or, past 65,535, that number cut to 16 bits
// or held at 0xFFFF: a writer without Zip64 has no better choice.
bool CountAgrees(size_t parsed, uint16_t recorded) {
    return parsed % 0x10000 == recorded || (recorded == 0xFFFF && parsed >= 0xFFFF);
}

}  // namespace

platform::Result<FileByteSource> FileByteSource::Open(const std::string& path) {
    auto file = platform::File::OpenForReading(path);
    const auto info = file ? file->Info() : file.Error();
    if (!info) {
        return info.Error();
    }
    return FileByteSource(std::move(*file), info->size);
}

platform::Status FileByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > m_size || count > m_size - offset) {
        return platform::Failure{EINVAL, "read"};
    }
    if (m_position != offset) {
        m_position.reset();
        if (const platform::Status sought = m_file.Seek(offset); !sought) {
            return sought;
        }
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const platform::Result<size_t> n = m_file.Read(bytes + done, count - done);
        if (!n || *n == 0) {
            m_position.reset();
            // ENODATA: the file is shorter than it was when its size was taken.
            return n ? platform::Failure{ENODATA, "read"} : n.Error();
        }
        done += *n;
    }
    m_position = offset + count;
    return {};
}

namespace {
constexpr size_t kDirectAlignment = 4096;  // covers 512-byte and 4 KiB sectors
constexpr size_t kDirectWindow = 4 << 20;  // large reads keep the disk streaming
}  // namespace

void DirectFileByteSource::FreeAligned::operator()(uint8_t* p) const {
    std::free(p);
}

DirectFileByteSource::DirectFileByteSource(platform::File file, uint64_t size)
    : m_file(std::move(file)), m_size(size) {}

platform::Result<DirectFileByteSource> DirectFileByteSource::Open(const std::string& path) {
    auto file = platform::File::Open(path, O_RDONLY | O_DIRECT);
    const auto info = file ? file->Info() : file.Error();
    if (!info) {
        return info.Error();
    }
    DirectFileByteSource source(std::move(*file), info->size);
    source.m_window.reset(static_cast<uint8_t*>(std::aligned_alloc(kDirectAlignment, kDirectWindow)));
    if (!source.m_window) {
        return platform::Failure{ENOMEM, "aligned_alloc"};
    }
    return source;
}

platform::Status DirectFileByteSource::Fill(uint64_t offset) {
    m_windowStart = offset - offset % kDirectAlignment;
    m_windowLength = 0;
    if (const platform::Status sought = m_file.Seek(m_windowStart); !sought) {
        return sought;
    }
    // One read: a direct read returns the whole window except at the end of the file.
    const platform::Result<size_t> n = m_file.Read(m_window.get(), kDirectWindow);
    m_windowLength = n ? *n : 0;
    return n ? platform::Status() : n.Error();
}

platform::Status DirectFileByteSource::Reload() {
    m_windowLength = 0;
    const auto info = m_file.Info();
    m_size = info ? info->size : 0;
    return info ? platform::Status() : info.Error();
}

platform::Status DirectFileByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > m_size || count > m_size - offset) {
        return platform::Failure{EINVAL, "read"};
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        if (offset < m_windowStart || offset >= m_windowStart + m_windowLength) {
            if (const platform::Status filled = Fill(offset); !filled) {
                return filled;
            }
            if (offset >= m_windowStart + m_windowLength) {
                return platform::Failure{ENODATA, "read"};  // shorter than when its size was taken
            }
        }
        const size_t at = static_cast<size_t>(offset - m_windowStart);
        const size_t piece = std::min(count, m_windowLength - at);
        std::memcpy(bytes, m_window.get() + at, piece);
        bytes += piece;
        offset += piece;
        count -= piece;
    }
    return {};
}

ReadResult ZipReader::Open() {
    m_members.clear();
    m_limits.clear();
    const uint64_t size = m_source.Size();
    if (size < kEndRecordSize) {
        return Fail(ReadStatus::NotAnArchive, "too short to hold an end of central directory record");
    }
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, kEndRecordSize + kMaxCommentSize));
    const uint64_t tailOffset = size - tailSize;
    std::vector<uint8_t> tail(tailSize);
    if (const platform::Status read = m_source.ReadAt(tailOffset, tail.data(), tailSize); !read) {
        return ReadFailure("the end of the archive", read.Error());
    }

    // The record nearest the end whose comment reaches exactly to the end of the file; a comment may itself
    // hold the signature's bytes, so those that don't fit are passed over.
    std::optional<size_t> at;
    bool signatureSeen = false;
    for (size_t i = tailSize - kEndRecordSize + 1; i-- > 0;) {
        if (Get32(&tail[i]) != kEndSignature) {
            continue;
        }
        signatureSeen = true;
        if (i + kEndRecordSize + Get16(&tail[i + 20]) == tailSize) {
            at = i;
            break;
        }
    }
    if (!at) {
        return signatureSeen ? Damaged("the end record's comment length does not fit the end of the file")
                             : Fail(ReadStatus::NotAnArchive, "no end of central directory record");
    }

    const uint8_t* end = &tail[*at];
    const uint64_t endOffset = tailOffset + *at;
    const uint16_t thisDisk = Get16(end + 4);
    const uint16_t directoryDisk = Get16(end + 6);
    const uint16_t entriesHere = Get16(end + 8);
    const uint16_t entries = Get16(end + 10);
    const uint32_t directorySize = Get32(end + 12);
    const uint32_t directoryOffset = Get32(end + 16);

    const bool placeholders =
        entries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF;
    if (placeholders && endOffset >= kZip64LocatorSize) {
        uint8_t locator[4];
        const platform::Status read = m_source.ReadAt(endOffset - kZip64LocatorSize, locator, sizeof locator);
        if (!read) {
            return ReadFailure("the Zip64 locator", read.Error());
        }
        if (Get32(locator) == kZip64LocatorSignature) {
            return Unsupported("a Zip64 archive");
        }
    }
    if (thisDisk != 0 || directoryDisk != 0 || entriesHere != entries) {
        return Unsupported("an archive split over several disks");
    }
    if (uint64_t{directoryOffset} + directorySize != endOffset) {
        return Damaged("the central directory does not end where the end record starts");
    }
    ReadResult result = ReadDirectory(directoryOffset, directorySize, entries);
    if (!result.Ok()) {
        m_members.clear();
        return result;
    }
    FindDataLimits(directoryOffset);
    return result;
}

ReadResult ZipReader::ReadDirectory(uint64_t offset, uint64_t size, uint16_t recordedCount) {
    std::vector<uint8_t> buffer;
    ChunkedReader reader(m_source, offset, offset + size, buffer);
    // Every header takes at least 46 bytes, so the directory's size bounds what a count may claim.
    m_members.reserve(static_cast<size_t>(std::min<uint64_t>(recordedCount, size / kCentralHeaderSize)));
    std::vector<uint8_t> extra;
    while (reader.Remaining() > 0) {
        if (reader.Remaining() < kCentralHeaderSize) {
            return Damaged("the central directory ends inside a header");
        }
        uint8_t h[kCentralHeaderSize];
        if (!reader.Take(h, sizeof h)) {
            return ReadFailure("the central directory", reader.Failed());
        }
        if (Get32(h) != kCentralSignature) {
            return Damaged("a central directory header has a wrong signature");
        }
        MemberInfo m;
        m.versionMadeBy = Get16(h + 4);
        m.versionNeeded = Get16(h + 6);
        m.flags = Get16(h + 8);
        m.method = Get16(h + 10);
        m.dosTime = Get16(h + 12);
        m.dosDate = Get16(h + 14);
        m.crc32 = Get32(h + 16);
        m.compressedSize = Get32(h + 20);
        m.uncompressedSize = Get32(h + 24);
        const uint16_t nameLength = Get16(h + 28);
        const uint16_t extraLength = Get16(h + 30);
        const uint16_t commentLength = Get16(h + 32);
        m.diskNumberStart = Get16(h + 34);
        m.internalAttributes = Get16(h + 36);
        m.externalAttributes = Get32(h + 38);
        m.localHeaderOffset = Get32(h + 42);
        if (uint64_t{nameLength} + extraLength + commentLength > reader.Remaining()) {
            return Damaged("a central directory header runs past the directory");
        }
        m.name.resize(nameLength);
        extra.resize(extraLength);
        if (!reader.Take(m.name.data(), nameLength) || !reader.Take(extra.data(), extraLength)) {
            return ReadFailure("the central directory", reader.Failed());
        }
        reader.Skip(commentLength);
        m.zip64 = HasZip64Placeholder(m) && HasExtraBlock(extra, kZip64ExtraId);
        m_members.push_back(std::move(m));
    }
    if (!CountAgrees(m_members.size(), recordedCount)) {
        return Damaged("the end record's entry count differs from the central directory");
    }
    return {};
}

void ZipReader::FindDataLimits(uint64_t directoryOffset) {
    std::vector<size_t> order(m_members.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return m_members[a].localHeaderOffset < m_members[b].localHeaderOffset;
    });
    m_limits.assign(m_members.size(), directoryOffset);
    for (size_t k = 0; k < order.size(); ++k) {
        const uint64_t offset = m_members[order[k]].localHeaderOffset;
        const bool sameAsPrevious = k > 0 && m_members[order[k - 1]].localHeaderOffset == offset;
        const bool sameAsNext = k + 1 < order.size() && m_members[order[k + 1]].localHeaderOffset == offset;
        if (sameAsPrevious || sameAsNext) {
            m_limits[order[k]] = 0;
        } else if (k + 1 < order.size()) {
            m_limits[order[k]] =
                std::min<uint64_t>(directoryOffset, m_members[order[k + 1]].localHeaderOffset);
        }
    }
}

ReadResult ZipReader::Verify(size_t index, uint32_t expectedCrc32, uint64_t expectedSize,
                             const DataSink& sink) {
    if (index >= m_members.size()) {
        return Fail(ReadStatus::NoSuchMember, "no member has this index");
    }
    if (m_limits[index] == 0) {
        return Damaged("another member has the same local header");
    }
    return VerifyMember(m_members[index], m_limits[index], expectedCrc32, expectedSize, sink);
}

ReadResult ZipReader::VerifyDescribed(const MemberInfo& described) {
    return VerifyMember(described, m_source.Size(), described.crc32, described.uncompressedSize, {});
}

ReadResult ZipReader::VerifyMember(const MemberInfo& m, uint64_t limit, uint32_t expectedCrc32,
                                   uint64_t expectedSize, const DataSink& sink) {
    if ((m.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedHeaders)) != 0) {
        return Unsupported("the member is encrypted");
    }
    if (m.zip64) {
        return Unsupported("the member needs Zip64");
    }
    if (m.diskNumberStart != 0) {
        return Unsupported("the member starts on another disk");
    }
    if (m.method != kMethodStored && m.method != kMethodDeflated) {
        return Unsupported("compression method " + std::to_string(m.method));
    }
    uint64_t dataOffset = 0;
    ReadResult result = CheckLocalHeader(m, limit, &dataOffset);
    if (!result.Ok()) {
        return result;
    }
    if (m.compressedSize > limit - dataOffset) {
        return Damaged("the member's data runs into the next member or the central directory");
    }
    uint32_t crc = 0;
    uint64_t size = 0;
    result = m.method == kMethodStored ? CopyStored(dataOffset, m, sink, &crc, &size)
                                       : Inflate(dataOffset, m, sink, &crc, &size);
    if (!result.Ok()) {
        return result;
    }
    if (size != m.uncompressedSize) {
        return Mismatch("the data's size differs from the central directory's");
    }
    if (crc != m.crc32) {
        return Mismatch("the data's CRC-32 differs from the central directory's");
    }
    if (size != expectedSize) {
        return Mismatch("the data's size differs from the expected size");
    }
    if (crc != expectedCrc32) {
        return Mismatch("the data's CRC-32 differs from the expected CRC-32");
    }
    return {};
}

std::vector<ReadResult> ZipReader::VerifyAll(const std::vector<MemberCheck>& checks,
                                             const SourceMaker& makeSource, unsigned threads) const {
    std::vector<ReadResult> results(checks.size());
    if (threads == 0) {
        threads = std::max(1u, std::thread::hardware_concurrency());
    }
    std::vector<std::unique_ptr<ByteSource>> sources;
    platform::Failure failed;
    while (sources.size() < std::min<size_t>(threads, checks.size())) {
        auto source = makeSource();
        if (!source) {
            failed = source.Error();
            break;
        }
        sources.push_back(std::move(*source));
    }
    if (sources.empty()) {
        std::fill(results.begin(), results.end(), ReadFailure("the archive again to check it", failed));
        return results;
    }
    std::atomic<size_t> next{0};
    const auto work = [&](ByteSource* source) {
        ZipReader reader(*source, *this);
        for (size_t i = next++; i < checks.size(); i = next++) {
            results[i] = reader.Verify(checks[i].index, checks[i].crc32, checks[i].size);
        }
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < sources.size(); ++i) {
        try {
            helpers.emplace_back(work, sources[i].get());
        } catch (const std::system_error&) {
            break;  // fewer threads do the same work
        }
    }
    work(sources[0].get());
    for (std::thread& helper : helpers) {
        helper.join();
    }
    return results;
}

ReadResult ZipReader::CheckLocalHeader(const MemberInfo& m, uint64_t limit, uint64_t* dataOffset) {
    const uint64_t offset = m.localHeaderOffset;
    if (offset >= limit || limit - offset < kLocalHeaderSize) {
        return Damaged("the local header lies outside the members' data");
    }
    uint8_t h[kLocalHeaderSize];
    if (const platform::Status read = m_source.ReadAt(offset, h, sizeof h); !read) {
        return ReadFailure("a local header", read.Error());
    }
    if (Get32(h) != kLocalSignature) {
        return Damaged("the local header has a wrong signature");
    }
    const uint16_t flags = Get16(h + 6);
    const uint16_t method = Get16(h + 8);
    const uint16_t nameLength = Get16(h + 26);
    const uint16_t extraLength = Get16(h + 28);
    if (uint64_t{nameLength} + extraLength > limit - offset - kLocalHeaderSize) {
        return Damaged("the local header's name and extra field run into the next member");
    }
    if (nameLength != m.name.size()) {
        return Damaged("the local header's name differs from the central directory's");
    }
    std::string name(nameLength, '\0');
    if (const platform::Status read = m_source.ReadAt(offset + kLocalHeaderSize, name.data(), nameLength);
        !read) {
        return ReadFailure("a local header", read.Error());
    }
    if (name != m.name) {
        return Damaged("the local header's name differs from the central directory's");
    }
    if (flags != m.flags || method != m.method) {
        return Damaged("the local header's flags or method differ from the central directory's");
    }
    // With a data descriptor the local header's CRC and sizes may be zeros or placeholders; the central
    // directory holds the real values, and the data is checked against those.
    if ((flags & kFlagDataDescriptor) == 0 &&
        (Get32(h + 14) != m.crc32 || Get32(h + 18) != m.compressedSize ||
         Get32(h + 22) != m.uncompressedSize)) {
        return Damaged("the local header's CRC-32 or sizes differ from the central directory's");
    }
    *dataOffset = offset + kLocalHeaderSize + nameLength + extraLength;
    return {};
}

ReadResult ZipReader::CopyStored(uint64_t offset, const MemberInfo& m, const DataSink& sink, uint32_t* crc,
                                 uint64_t* size) {
    if (m.compressedSize != m.uncompressedSize) {
        return Damaged("a stored member's compressed and uncompressed sizes differ");
    }
    ChunkedReader reader(m_source, offset, offset + m.compressedSize, m_input);
    uint32_t sum = 0;
    while (reader.Remaining() > 0) {
        uint8_t* data = nullptr;
        size_t n = 0;
        if (!reader.Next(&data, &n)) {
            return ReadFailure("the member's data", reader.Failed());
        }
        if (const platform::Status written = sink ? sink(data, n) : platform::Status(); !written) {
            return SinkFailure(written);
        }
        sum = crc32_gzip_refl(sum, data, n);
        *size += n;
    }
    *crc = sum;
    return {};
}

ReadResult ZipReader::Inflate(uint64_t offset, const MemberInfo& m, const DataSink& sink, uint32_t* crc,
                              uint64_t* size) {
    // ISA-L's inflate: several times zlib's speed on the Huffman-coded blocks of a photo, and a raw deflate
    // stream is one stream whichever library reads it. Its state holds a window of 64 KiB and more.
    const auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    state->crc_flag = ISAL_DEFLATE;
    ChunkedReader reader(m_source, offset, offset + m.compressedSize, m_input);
    m_output.resize(kChunkSize);
    uint32_t sum = 0;
    // Each round either consumes input or produces output, and the output may not outgrow the recorded
    // size, so the loop ends whatever the data holds.
    for (;;) {
        if (state->avail_in == 0 && reader.Remaining() > 0) {
            uint8_t* data = nullptr;
            size_t n = 0;
            if (!reader.Next(&data, &n)) {
                return ReadFailure("the member's data", reader.Failed());
            }
            state->next_in = data;
            state->avail_in = static_cast<uint32_t>(n);
        }
        const uint32_t inBefore = state->avail_in;
        state->next_out = m_output.data();
        state->avail_out = static_cast<uint32_t>(m_output.size());
        if (isal_inflate(state.get()) != ISAL_DECOMP_OK) {
            return Damaged("the deflate data is corrupt");
        }
        const size_t produced = m_output.size() - state->avail_out;
        if (produced > 0) {
            *size += produced;
            if (*size > m.uncompressedSize) {
                return Mismatch("the data is longer than its recorded size");
            }
            if (const platform::Status written = sink ? sink(m_output.data(), produced) : platform::Status();
                !written) {
                return SinkFailure(written);
            }
            sum = crc32_gzip_refl(sum, m_output.data(), produced);
        }
        if (state->block_state == ISAL_BLOCK_FINISH) {
            // At the end ISA-L hands back the whole bytes it had taken beyond the stream.
            if (state->avail_in > 0 || reader.Remaining() > 0) {
                return Damaged("the deflate stream ends before the member's compressed size");
            }
            break;
        }
        if (produced == 0 && state->avail_in == inBefore) {
            return Damaged(state->avail_in == 0 && reader.Remaining() == 0 ? "the deflate stream is cut short"
                                                                           : "the decompressor is stuck");
        }
    }
    *crc = sum;
    return {};
}

}  // namespace zip

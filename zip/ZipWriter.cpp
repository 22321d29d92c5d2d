#include "zip/ZipWriter.h"

#include <fcntl.h>
#include <zlib.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Sys.h"
#include "platform/Text.h"
#include "zip/HeldMember.h"

namespace zip {
namespace {

constexpr size_t kBufferSize = 16384;
constexpr int kDeflateLevel = 8;
constexpr int kRawWindowBits = -15;  // negative: raw deflate, no zlib header or trailer
constexpr int kMemoryLevel = 8;

// One raw deflate stream at level 8, ended when it goes out of scope.
class DeflateStream {
  public:
    DeflateStream() {
        m_ok = deflateInit2(&m_stream, kDeflateLevel, Z_DEFLATED, kRawWindowBits, kMemoryLevel,
                            Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~DeflateStream() {
        if (m_ok) {
            deflateEnd(&m_stream);
        }
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    bool Ok() const { return m_ok; }
    z_stream* operator->() { return &m_stream; }
    z_stream* get() { return &m_stream; }

  private:
    z_stream m_stream{};
    bool m_ok = false;
};

// Reads a source front to back in pieces of kBufferSize, keeping the count and the CRC-32 of what it read.
class SourceReader {
  public:
    explicit SourceReader(platform::File& file) : m_file(file) {}

    // The next piece, empty at the end of the source.
    ZipStatus Next(std::span<const uint8_t>* piece) {
        const ssize_t n = m_file.Read(m_input.data(), m_input.size());
        if (n < 0) {
            return ZipStatus::WriteFailed;  // the member cannot be written in full
        }
        const auto count = static_cast<size_t>(n);
        if (m_bytesRead + count > kMaxMemberSize) {
            return ZipStatus::TooLarge;  // the source grew past what a member can hold
        }
        m_bytesRead += count;
        m_crc = crc32(m_crc, m_input.data(), static_cast<uInt>(count));
        *piece = {m_input.data(), count};
        return ZipStatus::Ok;
    }
    uint64_t BytesRead() const { return m_bytesRead; }
    uint32_t Crc() const { return static_cast<uint32_t>(m_crc); }

  private:
    platform::File& m_file;
    std::array<uint8_t, kBufferSize> m_input{};
    uint64_t m_bytesRead = 0;
    uLong m_crc = crc32(0L, Z_NULL, 0);
};

// Takes compressed output. `final` is false when the output buffer has filled up and the stream goes on: in
// the buffer emptied again, or in the one the callback points `next` at.
using Emit = std::function<ZipStatus(std::span<const uint8_t> bytes, bool final, std::span<uint8_t>* next)>;

// One raw deflate stream at level 8 over the whole source. Output collects in `out` and goes to `emit` each
// time `out` is full, and once more with the rest when the stream is finished. How the input and the output
// are cut into pieces does not change the bytes deflate makes.
ZipStatus DeflateSource(SourceReader& source, std::span<uint8_t> out, const Emit& emit) {
    DeflateStream stream;
    if (!stream.Ok()) {
        return ZipStatus::CompressorFailed;
    }
    size_t pending = 0;  // compressed bytes waiting in `out`
    for (;;) {
        std::span<const uint8_t> piece;
        ZipStatus status = source.Next(&piece);
        if (status != ZipStatus::Ok) {
            return status;
        }
        const int flush = piece.empty() ? Z_FINISH : Z_NO_FLUSH;
        stream->next_in = const_cast<uint8_t*>(piece.data());
        stream->avail_in = static_cast<uInt>(piece.size());
        for (;;) {
            stream->next_out = out.data() + pending;
            stream->avail_out = static_cast<uInt>(out.size() - pending);
            const int result = deflate(stream.get(), flush);
            if (result == Z_STREAM_ERROR) {
                return ZipStatus::CompressorFailed;
            }
            pending = out.size() - stream->avail_out;
            if (result == Z_STREAM_END) {
                return emit(out.first(pending), true, &out);
            }
            if (pending < out.size()) {
                // Room was left, so deflate took all the input; at the end it must have finished the stream.
                if (flush == Z_FINISH) {
                    return ZipStatus::CompressorFailed;
                }
                break;
            }
            status = emit(out, false, &out);
            if (status != ZipStatus::Ok) {
                return status;
            }
            pending = 0;
        }
    }
}

// Whether a disk file of `size` bytes is a DOS-style executable program; no value when it cannot be read.
// Reads at fixed offsets and leaves the file position alone.
std::optional<bool> ProbeExecutable(platform::File& file, uint64_t size) {
    std::array<uint8_t, kDosHeaderSize> header{};
    if (size <= kDosHeaderSize) {
        return false;
    }
    if (!file.ReadAt(0, header.data(), header.size())) {
        return errno == ENODATA ? std::optional(false) : std::nullopt;  // shorter by now: no program
    }
    const uint32_t newHeader = NewHeaderOffset(header);
    std::array<uint8_t, 2> signature{};
    if (newHeader == 0 || uint64_t{newHeader} + signature.size() > size) {
        return false;
    }
    if (!file.ReadAt(newHeader, signature.data(), signature.size())) {
        return errno == ENODATA ? std::optional(false) : std::nullopt;
    }
    return IsExecutableSignature(signature);
}

// The SourceInfo of a regular file the caller opened, and the file positioned at its start. CannotOpenFile
// for anything else, and for the archive itself.
ZipStatus DescribeOpenFile(platform::File& file, const std::string& memberName, dev_t archiveDevice,
                           ino_t archiveInode, SourceInfo* info) {
    const auto fileInfo = file.Info();
    if (!fileInfo || !fileInfo->IsRegular() ||
        (fileInfo->device == archiveDevice && fileInfo->inode == archiveInode) || !file.Seek(0)) {
        return ZipStatus::CannotOpenFile;
    }
    const auto executable = ProbeExecutable(file, fileInfo->size);
    if (!executable) {
        return ZipStatus::CannotOpenFile;
    }
    *info = SourceInfoOf(*fileInfo, platform::NameOf(memberName), *executable);
    return ZipStatus::Ok;
}

// A new entry for `name`: backslashes turned into slashes, and the method the name calls for.
ZipEntry EntryNamed(const std::string& name) {
    ZipEntry entry;
    entry.name = name;
    std::replace(entry.name.begin(), entry.name.end(), '\\', '/');
    entry.method = HasArchiveSuffix(entry.name) ? kMethodStored : kMethodDeflated;
    return entry;
}

// The values of `info` that both the provisional and the final headers carry.
void Describe(ZipEntry& entry, const SourceInfo& info) {
    entry.dosDate = static_cast<uint16_t>(info.dosDateTime >> 16);
    entry.dosTime = static_cast<uint16_t>(info.dosDateTime);
    entry.externalAttributes = info.externalAttributes;
    entry.centralExtra = CentralTimestampExtra(info);
}

ZipStatus AsReported(ZipStatus status) {
    return status == ZipStatus::SizeMismatch || status == ZipStatus::CompressorFailed ? ZipStatus::WriteFailed
                                                                                      : status;
}

}  // namespace

uint64_t DeflatedSizeBound(uint64_t size) {
    return compressBound(static_cast<uLong>(size));
}

class ZipWriter::Impl {
  public:
    static std::unique_ptr<Impl> Open(const std::string& path, bool mustBeNew);

    ZipStatus AddFile(const std::string& name, const std::string& sourcePath, ZipEntry* recorded);
    ZipStatus AddOpenFile(const std::string& name, platform::File file, ZipEntry* recorded);
    HeldMember Hold(const std::string& name, platform::File& file, size_t capacity, ChunkStore& chunks) const;
    ZipStatus AddHeld(HeldMember& member, ZipEntry* recorded);
    ZipStatus Close();
    bool StartAt(uint64_t offset);
    const platform::FileInfo& Info() const { return m_info; }
    void StartWritebackEarly(bool on) { m_writebackEarly = on; }

  private:
    struct Source {
        platform::File file;
        SourceInfo info;
    };

    Impl(platform::File file, const platform::FileInfo& info) : m_file(std::move(file)), m_info(info) {}

    ZipStatus Admit(const ZipEntry& entry) const;
    ZipStatus OpenSource(const std::string& path, Source* source) const;
    ZipStatus AddSource(ZipEntry& entry, Source& source, ZipEntry* recorded);
    ZipStatus CheckRoom(const ZipEntry& entry, int64_t announcedSize);
    ZipStatus WriteMember(ZipEntry& entry, std::span<const uint8_t> localExtra, platform::File& source);
    ZipStatus CopyStored(SourceReader& source);
    ZipStatus WriteData(std::span<const uint8_t> data);
    bool WriteHeader(const ZipEntry& entry, HeaderForm form, std::span<const uint8_t> extra);
    bool Reposition(uint64_t offset);
    void CutBackTo(uint64_t offset);
    ZipStatus Record(ZipEntry& entry, uint64_t start, ZipEntry* recorded);

    platform::File m_file;
    // The archive file as created, never changed: Hold reads its identity on other threads.
    const platform::FileInfo m_info;
    uint64_t m_written = 0;  // bytes of the archive so far; every offset in a header is taken from it
    ZipStatus m_latched = ZipStatus::Ok;
    std::vector<ZipEntry> m_entries;
    uint64_t m_directorySize = 0;  // the central directory as it stands
    bool m_writebackEarly = true;

    // The member being added.
    uint64_t m_dataLimit = 0;  // the offset its data must not pass, so that the directory still fits
    std::array<uint8_t, kBufferSize> m_output{};
};

std::unique_ptr<ZipWriter::Impl> ZipWriter::Impl::Open(const std::string& path, bool mustBeNew) {
    // Create the file if it is new; an existing one is truncated only once it is known to be ours to replace,
    // so that a refusal leaves it untouched.
    bool created = true;
    int fd = platform::Sys().open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY, 0666);
    if (fd < 0 && errno == EEXIST && !mustBeNew) {
        created = false;
        fd = platform::Sys().open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
    }
    platform::File file(fd);
    if (!file.IsOpen()) {
        return nullptr;
    }
    const auto info = file.Info();
    // An existing file whose owner may not write it is read-only; replacing it needs the user's consent, even
    // where the process could override the permission.
    const bool usable = info && info->IsRegular() && (created || info->OwnerMayWrite()) &&
                        file.TryLockExclusive() && (created || file.Truncate(0));
    if (!usable) {
        file.Close();
        if (created) {
            platform::Sys().unlink(path.c_str());
        }
        return nullptr;
    }
    return std::unique_ptr<Impl>(new Impl(std::move(file), *info));
}

// The checks every member passes before its source is looked at.
ZipStatus ZipWriter::Impl::Admit(const ZipEntry& entry) const {
    if (m_latched != ZipStatus::Ok) {
        return ZipStatus::AlreadyFailed;
    }
    if (entry.name.empty() || entry.name.size() > kMaxNameLength) {
        return ZipStatus::BadArguments;
    }
    return m_entries.size() >= kMaxMembers ? ZipStatus::TooLarge : ZipStatus::Ok;
}

ZipStatus ZipWriter::Impl::AddFile(const std::string& name, const std::string& sourcePath,
                                   ZipEntry* recorded) {
    ZipEntry entry = EntryNamed(name);
    ZipStatus status = Admit(entry);
    Source source;
    if (status == ZipStatus::Ok) {
        status = OpenSource(sourcePath, &source);
    }
    return status == ZipStatus::Ok ? AddSource(entry, source, recorded) : status;
}

ZipStatus ZipWriter::Impl::AddOpenFile(const std::string& name, platform::File file, ZipEntry* recorded) {
    ZipEntry entry = EntryNamed(name);
    ZipStatus status = Admit(entry);
    Source source{std::move(file), {}};
    if (status == ZipStatus::Ok) {
        status = DescribeOpenFile(source.file, entry.name, m_info.device, m_info.inode, &source.info);
    }
    return status == ZipStatus::Ok ? AddSource(entry, source, recorded) : status;
}

ZipStatus ZipWriter::Impl::AddSource(ZipEntry& entry, Source& source, ZipEntry* recorded) {
    ZipStatus status = CheckRoom(entry, source.info.announcedSize);
    if (status != ZipStatus::Ok) {
        return status;
    }
    // Provisional values; the header is rewritten once the data is out.
    const SourceInfo& info = source.info;
    const bool sizeKnown = info.announcedSize >= 0;
    Describe(entry, info);
    entry.flags = entry.localFlags = kFlagDataDescriptor;
    entry.uncompressedSize = sizeKnown ? static_cast<uint32_t>(info.announcedSize) : 0xFFFFFFFF;
    entry.compressedSize = entry.method == kMethodStored && sizeKnown ? entry.uncompressedSize : 0;
    entry.localHeaderOffset = static_cast<uint32_t>(m_written);
    const auto localExtra = LocalTimestampExtra(info);

    const uint64_t start = m_written;
    status = WriteMember(entry, localExtra, source.file);
    if (status != ZipStatus::Ok) {
        CutBackTo(start);
        return AsReported(status);
    }
    return Record(entry, start, recorded);
}

// Lists a member whose bytes are all written from `start` on, and starts their way to the disk.
ZipStatus ZipWriter::Impl::Record(ZipEntry& entry, uint64_t start, ZipEntry* recorded) {
    if (m_writebackEarly) {
        // Only a hint: where it fails, the flush after Close simply has more to do.
        ::sync_file_range(m_file.Descriptor(), static_cast<off_t>(start),
                          static_cast<off_t>(m_written - start), SYNC_FILE_RANGE_WRITE);
    }
    m_directorySize += HeaderSize(entry, HeaderForm::Central);
    m_entries.push_back(std::move(entry));
    if (recorded != nullptr) {
        *recorded = m_entries.back();
    }
    return ZipStatus::Ok;
}

HeldMember ZipWriter::Impl::Hold(const std::string& name, platform::File& file, size_t capacity,
                                 ChunkStore& chunks) const {
    HeldMember held;
    held.entry = EntryNamed(name);
    SourceInfo info;
    held.openStatus = DescribeOpenFile(file, held.entry.name, m_info.device, m_info.inode, &info);
    if (held.openStatus != ZipStatus::Ok) {
        return held;
    }
    held.announcedSize = info.announcedSize;
    held.localExtra = LocalTimestampExtra(info);
    Describe(held.entry, info);
    // Only as many chunks as the reservation allows: a source that has grown since is streamed instead.
    const auto more = [&]() -> std::span<uint8_t> {
        held.chunks.push_back(held.chunks.size() * kChunkSize < capacity ? chunks.Take() : nullptr);
        return {held.chunks.back().get(), held.chunks.back() ? kChunkSize : 0};
    };
    const std::span<uint8_t> first = held.entry.method == kMethodDeflated ? more() : std::span<uint8_t>();
    SourceReader reader(file);
    held.dataStatus =
        first.empty()
            ? ZipStatus::TooLarge
            : DeflateSource(reader, first,
                            [&](std::span<const uint8_t> bytes, bool final, std::span<uint8_t>* next) {
                                held.size += bytes.size();
                                *next = final ? *next : more();
                                return final || !next->empty() ? ZipStatus::Ok : ZipStatus::TooLarge;
                            });
    if (held.dataStatus == ZipStatus::TooLarge && (held.chunks.empty() || !held.chunks.back())) {
        held.streamed = true;
        held.dataStatus = ZipStatus::Ok;
        chunks.Give(held.chunks);
        return held;
    }
    held.entry.flags = held.entry.localFlags = kFlagMaximumCompression;
    held.entry.crc32 = reader.Crc();
    held.entry.compressedSize = static_cast<uint32_t>(held.size);
    held.entry.uncompressedSize = static_cast<uint32_t>(reader.BytesRead());
    return held;
}

// Gives every answer AddOpenFile would have given for the member, and writes the same bytes.
ZipStatus ZipWriter::Impl::AddHeld(HeldMember& held, ZipEntry* recorded) {
    ZipEntry& entry = held.entry;
    ZipStatus status = Admit(entry);
    if (status == ZipStatus::Ok) {
        status = held.openStatus;
    }
    if (status == ZipStatus::Ok) {
        status = CheckRoom(entry, held.announcedSize);
    }
    if (status != ZipStatus::Ok || held.dataStatus != ZipStatus::Ok) {
        return status != ZipStatus::Ok ? status : AsReported(held.dataStatus);
    }
    const uint64_t start = m_written;
    entry.localHeaderOffset = static_cast<uint32_t>(start);
    if (!WriteHeader(entry, HeaderForm::Local, held.localExtra)) {
        status = ZipStatus::WriteFailed;
    } else {
        m_written += HeaderSize(entry, HeaderForm::Local);
        for (size_t i = 0; status == ZipStatus::Ok && i < held.chunks.size(); ++i) {
            const size_t offset = i * kChunkSize;
            status = WriteData({held.chunks[i].get(), std::min(kChunkSize, held.size - offset)});
        }
    }
    if (status != ZipStatus::Ok) {
        CutBackTo(start);
        return status;
    }
    return Record(entry, start, recorded);
}

ZipStatus ZipWriter::Impl::OpenSource(const std::string& path, Source* source) const {
    // O_NONBLOCK keeps a pipe without a writer from stalling the open; it is cleared again below.
    source->file = platform::File(platform::Sys().open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK, 0));
    if (!source->file.IsOpen()) {
        return ZipStatus::CannotOpenFile;
    }
    const auto info = source->file.Info();
    if (!info || info->IsDirectory() || info->IsSameFile(m_info)) {
        return ZipStatus::CannotOpenFile;
    }
    if (!info->IsRegular()) {
        // A pipe or a device is read as a stream of unknown length, dated now.
        const int fd = source->file.Descriptor();
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        source->info = StreamSourceInfo(::time(nullptr));
        return ZipStatus::Ok;
    }
    const auto executable = ProbeExecutable(source->file, info->size);
    if (!executable) {
        return ZipStatus::CannotOpenFile;
    }
    source->info = SourceInfoOf(*info, platform::NameOf(path), *executable);
    return ZipStatus::Ok;
}

// Refuses a member that could push a size or an offset past the 32-bit fields, before anything is written.
ZipStatus ZipWriter::Impl::CheckRoom(const ZipEntry& entry, int64_t announcedSize) {
    const bool stored = entry.method == kMethodStored;
    const uint64_t size = announcedSize < 0 ? 0 : static_cast<uint64_t>(announcedSize);
    if (size > kMaxMemberSize) {
        return ZipStatus::TooLarge;
    }
    const uint64_t directoryAfter = m_directorySize + HeaderSize(entry, HeaderForm::Central) + kEndRecordSize;
    const uint64_t worstData = stored ? size : DeflatedSizeBound(size);
    if (m_written + HeaderSize(entry, HeaderForm::Local) + worstData + directoryAfter > kMaxArchiveSize) {
        return ZipStatus::TooLarge;
    }
    m_dataLimit = kMaxArchiveSize - directoryAfter;
    return ZipStatus::Ok;
}

ZipStatus ZipWriter::Impl::WriteMember(ZipEntry& entry, std::span<const uint8_t> localExtra,
                                       platform::File& source) {
    if (!WriteHeader(entry, HeaderForm::Local, localExtra)) {
        return ZipStatus::WriteFailed;
    }
    m_written += HeaderSize(entry, HeaderForm::Local);

    const uint64_t dataStart = m_written;
    SourceReader reader(source);
    const ZipStatus status = entry.method == kMethodStored
                                 ? CopyStored(reader)
                                 : DeflateSource(reader, m_output,
                                                 [this](std::span<const uint8_t> bytes, bool,
                                                        std::span<uint8_t>*) { return WriteData(bytes); });
    source.Close();
    if (status != ZipStatus::Ok) {
        return status;
    }

    entry.crc32 = reader.Crc();
    entry.compressedSize = static_cast<uint32_t>(m_written - dataStart);
    entry.uncompressedSize = static_cast<uint32_t>(reader.BytesRead());
    entry.flags = entry.method == kMethodDeflated ? kFlagMaximumCompression : 0;
    entry.localFlags = entry.flags;

    if (!Reposition(entry.localHeaderOffset)) {
        return ZipStatus::SeekFailed;
    }
    if (!WriteHeader(entry, HeaderForm::Local, localExtra)) {
        return ZipStatus::WriteFailed;
    }
    if (!Reposition(m_written)) {
        return ZipStatus::SeekFailed;
    }
    return ZipStatus::Ok;
}

ZipStatus ZipWriter::Impl::CopyStored(SourceReader& source) {
    for (;;) {
        std::span<const uint8_t> piece;
        const ZipStatus status = source.Next(&piece);
        if (status != ZipStatus::Ok || piece.empty()) {
            return status;
        }
        const ZipStatus written = WriteData(piece);
        if (written != ZipStatus::Ok) {
            return written == ZipStatus::WriteFailed ? ZipStatus::SizeMismatch : written;
        }
    }
}

ZipStatus ZipWriter::Impl::WriteData(std::span<const uint8_t> data) {
    if (m_written + data.size() > m_dataLimit) {
        return ZipStatus::TooLarge;
    }
    const size_t written = m_file.Write(data.data(), data.size());
    m_written += written;
    return written == data.size() ? ZipStatus::Ok : ZipStatus::WriteFailed;
}

bool ZipWriter::Impl::WriteHeader(const ZipEntry& entry, HeaderForm form, std::span<const uint8_t> extra) {
    std::vector<uint8_t> bytes(HeaderSize(entry, form));
    PutCursor out(bytes);
    PutHeader(out, entry, form, extra);
    return out.Ok() && out.Size() == bytes.size() && m_file.WriteAll(bytes.data(), bytes.size());
}

bool ZipWriter::Impl::Reposition(uint64_t offset) {
    if (m_file.Seek(offset)) {
        return true;
    }
    m_latched = ZipStatus::SeekFailed;
    return false;
}

// Forgets everything written from `offset` on: the next piece goes there, and Close cuts off what lies
// beyond.
void ZipWriter::Impl::CutBackTo(uint64_t offset) {
    m_written = offset;
    Reposition(offset);
}

ZipStatus ZipWriter::Impl::Close() {
    ZipStatus result = ZipStatus::Ok;
    // Start from where the archive truly ends, whatever the file position after a failed member.
    if (!Reposition(m_written)) {
        result = ZipStatus::SeekFailed;
    } else {
        const uint64_t start = m_written;
        for (const ZipEntry& entry : m_entries) {
            if (!WriteHeader(entry, HeaderForm::Central, entry.centralExtra)) {
                result = ZipStatus::WriteFailed;
                break;
            }
            m_written += HeaderSize(entry, HeaderForm::Central);
        }
        if (result == ZipStatus::Ok) {
            std::array<uint8_t, kEndRecordSize> end{};
            PutCursor out(end);
            PutEndRecord(out, static_cast<uint16_t>(m_entries.size()),
                         static_cast<uint32_t>(m_written - start), static_cast<uint32_t>(start));
            if (!out.Ok() || !m_file.WriteAll(end.data(), end.size())) {
                result = ZipStatus::WriteFailed;
            } else {
                m_written += end.size();
            }
        }
        // Bytes of a member that failed part-way may lie beyond the end record.
        if (result == ZipStatus::Ok && !m_file.Truncate(m_written)) {
            result = ZipStatus::WriteFailed;
        }
    }
    m_entries.clear();
    m_entries.shrink_to_fit();
    if (!m_file.Close() && result == ZipStatus::Ok) {
        result = ZipStatus::WriteFailed;
    }
    return result;
}

bool ZipWriter::Impl::StartAt(uint64_t offset) {
    if (m_written != 0 || !m_entries.empty() || offset > kMaxArchiveSize - kEndRecordSize) {
        return false;
    }
    if (!m_file.Seek(offset)) {
        return false;
    }
    m_written = offset;
    return true;
}

ZipWriter ZipWriter::Create(const std::string& path, ZipStatus* status) {
    std::unique_ptr<Impl> impl = Impl::Open(path, /*mustBeNew=*/false);
    if (status != nullptr) {
        *status = impl ? ZipStatus::Ok : ZipStatus::CannotOpenFile;
    }
    return ZipWriter(std::move(impl));
}

ZipWriter ZipWriter::CreateNew(const std::string& path, ZipStatus* status) {
    std::unique_ptr<Impl> impl = Impl::Open(path, /*mustBeNew=*/true);
    if (status != nullptr) {
        *status = impl ? ZipStatus::Ok : ZipStatus::CannotOpenFile;
    }
    return ZipWriter(std::move(impl));
}

ZipWriter::ZipWriter() noexcept = default;

ZipWriter::ZipWriter(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

ZipWriter::~ZipWriter() {
    if (m_impl) {
        m_impl->Close();
    }
}

ZipWriter::ZipWriter(ZipWriter&& other) noexcept
    : m_impl(std::move(other.m_impl)), m_closed(std::exchange(other.m_closed, false)) {}

ZipWriter& ZipWriter::operator=(ZipWriter&& other) noexcept {
    if (this != &other) {
        if (m_impl) {
            m_impl->Close();
        }
        m_impl = std::move(other.m_impl);
        m_closed = std::exchange(other.m_closed, false);
    }
    return *this;
}

ZipStatus ZipWriter::AddFile(const std::string& name, const std::string& source, ZipEntry* recorded) {
    if (!m_impl) {
        return m_closed ? ZipStatus::AlreadyClosed : ZipStatus::BadArguments;
    }
    return m_impl->AddFile(name, source, recorded);
}

ZipStatus ZipWriter::AddOpenFile(const std::string& name, platform::File source, ZipEntry* recorded) {
    if (!m_impl) {
        return m_closed ? ZipStatus::AlreadyClosed : ZipStatus::BadArguments;
    }
    return m_impl->AddOpenFile(name, std::move(source), recorded);
}

void ZipWriter::StartWritebackEarly(bool on) {
    if (m_impl) {
        m_impl->StartWritebackEarly(on);
    }
}

HeldMember ZipWriter::Hold(const std::string& name, platform::File& source, size_t capacity,
                           ChunkStore& chunks) const {
    return m_impl->Hold(name, source, capacity, chunks);
}

ZipStatus ZipWriter::AddHeld(HeldMember& member, ZipEntry* recorded) {
    return m_impl ? m_impl->AddHeld(member, recorded) : ZipStatus::BadArguments;
}

ZipStatus ZipWriter::Close() {
    if (!m_impl) {
        return m_closed ? ZipStatus::AlreadyClosed : ZipStatus::BadArguments;
    }
    const ZipStatus result = m_impl->Close();
    m_impl.reset();
    m_closed = true;
    return result;
}

platform::FileInfo ZipWriter::ArchiveFile() const {
    return m_impl ? m_impl->Info() : platform::FileInfo{};
}

bool ZipWriter::StartAtOffsetForTesting(uint64_t offset) {
    return m_impl && m_impl->StartAt(offset);
}

bool HasArchiveSuffix(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    const std::string_view suffix = name.substr(dot);
    static constexpr std::string_view kSuffixes[] = {".Z",   ".zip", ".zoo", ".arc",
                                                     ".lzh", ".arj", ".gz",  ".tgz"};
    return std::any_of(std::begin(kSuffixes), std::end(kSuffixes), [&](std::string_view candidate) {
        return platform::EqualIgnoringAsciiCase(suffix, candidate);
    });
}

const char* ZipStatusName(ZipStatus status) {
    switch (status) {
        case ZipStatus::Ok:
            return "Ok";
        case ZipStatus::CannotOpenFile:
            return "CannotOpenFile";
        case ZipStatus::WriteFailed:
            return "WriteFailed";
        case ZipStatus::BadArguments:
            return "BadArguments";
        case ZipStatus::AlreadyFailed:
            return "AlreadyFailed";
        case ZipStatus::AlreadyClosed:
            return "AlreadyClosed";
        case ZipStatus::SizeMismatch:
            return "SizeMismatch";
        case ZipStatus::TooLarge:
            return "TooLarge";
        case ZipStatus::SeekFailed:
            return "SeekFailed";
        case ZipStatus::CompressorFailed:
            return "CompressorFailed";
    }
    return "Unknown";
}

}  // namespace zip

#include "zip/ZipWriter.h"

#include <fcntl.h>
#include <zlib.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Sys.h"
#include "platform/Text.h"

namespace zip {
namespace {

constexpr size_t kBufferSize = 16384;
constexpr int kDeflateLevel = 8;
constexpr int kRawWindowBits = -15;  // negative: raw deflate, no zlib header or trailer
constexpr int kMemoryLevel = 8;

alloc_func g_compressorAlloc = nullptr;  // set by tests only
free_func g_compressorFree = nullptr;

// One raw deflate stream at level 8, ended when it goes out of scope.
class DeflateStream {
  public:
    DeflateStream() {
        m_stream.zalloc = g_compressorAlloc;
        m_stream.zfree = g_compressorFree;
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

// The most bytes deflate can make of `size` bytes (the zlib-wrapped bound, a little above the raw one).
uint64_t DeflatedSizeBound(uint64_t size) {
    return compressBound(static_cast<uLong>(size));
}

// Reads until `out` is full or the file ends; the number of bytes read, or no value on a read error.
std::optional<size_t> ReadUpTo(platform::File& file, std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = file.Read(out.data() + done, out.size() - done);
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

// Whether a disk file of `size` bytes is a DOS-style executable program; no value when it cannot be read.
// Leaves the file positioned at its start.
std::optional<bool> ProbeExecutable(platform::File& file, uint64_t size) {
    if (size <= kDosHeaderSize) {
        return false;
    }
    std::array<uint8_t, kDosHeaderSize> header{};
    const auto got = ReadUpTo(file, header);
    if (!got) {
        return std::nullopt;
    }
    bool executable = false;
    const uint32_t newHeader = *got == header.size() ? NewHeaderOffset(header) : 0;
    if (newHeader != 0 && uint64_t{newHeader} + 2 <= size) {
        std::array<uint8_t, 2> signature{};
        if (!file.Seek(newHeader)) {
            return std::nullopt;
        }
        const auto read = ReadUpTo(file, signature);
        if (!read) {
            return std::nullopt;
        }
        executable = *read == signature.size() && IsExecutableSignature(signature);
    }
    if (!file.Seek(0)) {
        return std::nullopt;
    }
    return executable;
}

ZipStatus AsReported(ZipStatus status) {
    return status == ZipStatus::SizeMismatch || status == ZipStatus::CompressorFailed ? ZipStatus::WriteFailed
                                                                                      : status;
}

}  // namespace

class ZipWriter::Impl {
  public:
    static std::unique_ptr<Impl> Open(const std::string& path, bool mustBeNew);

    ZipStatus AddFile(const std::string& name, const std::string& sourcePath, ZipEntry* recorded);
    ZipStatus Close();
    bool StartAt(uint64_t offset);
    const platform::FileInfo& Info() const { return m_info; }

  private:
    struct Source {
        platform::File file;
        SourceInfo info;
    };

    Impl(platform::File file, const platform::FileInfo& info) : m_file(std::move(file)), m_info(info) {}

    ZipStatus OpenSource(const std::string& path, Source* source) const;
    ZipStatus CheckRoom(const ZipEntry& entry, int64_t announcedSize);
    ZipStatus WriteMember(ZipEntry& entry, std::span<const uint8_t> localExtra, platform::File& source);
    ZipStatus CopyStored(platform::File& source);
    ZipStatus Deflate(platform::File& source);
    ZipStatus ReadSource(platform::File& source, size_t* count);
    ZipStatus WriteData(const uint8_t* data, size_t count);
    bool WriteHeader(const ZipEntry& entry, HeaderForm form, std::span<const uint8_t> extra);
    bool Reposition(uint64_t offset);
    void CutBackTo(uint64_t offset);

    platform::File m_file;
    platform::FileInfo m_info;  // the archive file as created
    uint64_t m_written = 0;     // bytes of the archive so far; every offset in a header is taken from it
    ZipStatus m_latched = ZipStatus::Ok;
    std::vector<ZipEntry> m_entries;
    uint64_t m_directorySize = 0;  // the central directory as it stands

    // The member being added.
    uint64_t m_bytesRead = 0;
    uLong m_crc = 0;
    uint64_t m_dataLimit = 0;  // the offset its data must not pass, so that the directory still fits
    std::array<uint8_t, kBufferSize> m_input{};
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

ZipStatus ZipWriter::Impl::AddFile(const std::string& name, const std::string& sourcePath,
                                   ZipEntry* recorded) {
    if (m_latched != ZipStatus::Ok) {
        return ZipStatus::AlreadyFailed;
    }
    if (name.empty() || name.size() > kMaxNameLength) {
        return ZipStatus::BadArguments;
    }
    if (m_entries.size() >= kMaxMembers) {
        return ZipStatus::TooLarge;
    }
    ZipEntry entry;
    entry.name = name;
    std::replace(entry.name.begin(), entry.name.end(), '\\', '/');
    entry.method = HasArchiveSuffix(entry.name) ? kMethodStored : kMethodDeflated;

    Source source;
    ZipStatus status = OpenSource(sourcePath, &source);
    if (status != ZipStatus::Ok) {
        return status;
    }
    status = CheckRoom(entry, source.info.announcedSize);
    if (status != ZipStatus::Ok) {
        return status;
    }

    // Provisional values; the header is rewritten once the data is out.
    const SourceInfo& info = source.info;
    const bool sizeKnown = info.announcedSize >= 0;
    entry.flags = entry.localFlags = kFlagDataDescriptor;
    entry.dosDate = static_cast<uint16_t>(info.dosDateTime >> 16);
    entry.dosTime = static_cast<uint16_t>(info.dosDateTime);
    entry.uncompressedSize = sizeKnown ? static_cast<uint32_t>(info.announcedSize) : 0xFFFFFFFF;
    entry.compressedSize = entry.method == kMethodStored && sizeKnown ? entry.uncompressedSize : 0;
    entry.externalAttributes = info.externalAttributes;
    entry.localHeaderOffset = static_cast<uint32_t>(m_written);
    entry.centralExtra = CentralTimestampExtra(info);
    const auto localExtra = LocalTimestampExtra(info);

    const uint64_t start = m_written;
    status = WriteMember(entry, localExtra, source.file);
    if (status != ZipStatus::Ok) {
        CutBackTo(start);
        return AsReported(status);
    }
    m_directorySize += HeaderSize(entry, HeaderForm::Central);
    m_entries.push_back(std::move(entry));
    if (recorded != nullptr) {
        *recorded = m_entries.back();
    }
    return ZipStatus::Ok;
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
    m_bytesRead = 0;
    m_crc = crc32(0L, Z_NULL, 0);
    const ZipStatus status = entry.method == kMethodStored ? CopyStored(source) : Deflate(source);
    source.Close();
    if (status != ZipStatus::Ok) {
        return status;
    }

    entry.crc32 = static_cast<uint32_t>(m_crc);
    entry.compressedSize = static_cast<uint32_t>(m_written - dataStart);
    entry.uncompressedSize = static_cast<uint32_t>(m_bytesRead);
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

ZipStatus ZipWriter::Impl::CopyStored(platform::File& source) {
    for (;;) {
        size_t count = 0;
        const ZipStatus status = ReadSource(source, &count);
        if (status != ZipStatus::Ok || count == 0) {
            return status;
        }
        const ZipStatus written = WriteData(m_input.data(), count);
        if (written != ZipStatus::Ok) {
            return written == ZipStatus::WriteFailed ? ZipStatus::SizeMismatch : written;
        }
    }
}

ZipStatus ZipWriter::Impl::Deflate(platform::File& source) {
    DeflateStream stream;
    if (!stream.Ok()) {
        return ZipStatus::CompressorFailed;
    }
    size_t pending = 0;  // compressed bytes waiting in m_output
    for (;;) {
        size_t count = 0;
        ZipStatus status = ReadSource(source, &count);
        if (status != ZipStatus::Ok) {
            return status;
        }
        const int flush = count == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream->next_in = m_input.data();
        stream->avail_in = static_cast<uInt>(count);
        for (;;) {
            stream->next_out = m_output.data() + pending;
            stream->avail_out = static_cast<uInt>(kBufferSize - pending);
            const int result = deflate(stream.get(), flush);
            if (result == Z_STREAM_ERROR) {
                return ZipStatus::CompressorFailed;
            }
            pending = kBufferSize - stream->avail_out;
            const bool full = pending == kBufferSize;
            if (full) {
                status = WriteData(m_output.data(), pending);
                if (status != ZipStatus::Ok) {
                    return status;
                }
                pending = 0;
            }
            if (result == Z_STREAM_END) {
                return WriteData(m_output.data(), pending);
            }
            if (!full) {
                // Room was left, so deflate took all the input; at the end it must have finished the stream.
                if (flush == Z_FINISH) {
                    return ZipStatus::CompressorFailed;
                }
                break;
            }
        }
    }
}

// Reads the next piece of the source into m_input, adding it to the byte count and the CRC-32.
ZipStatus ZipWriter::Impl::ReadSource(platform::File& source, size_t* count) {
    const ssize_t n = source.Read(m_input.data(), m_input.size());
    if (n < 0) {
        return ZipStatus::WriteFailed;  // the member cannot be written in full
    }
    *count = static_cast<size_t>(n);
    if (m_bytesRead + *count > kMaxMemberSize) {
        return ZipStatus::TooLarge;  // the source grew past what a member can hold
    }
    m_bytesRead += *count;
    m_crc = crc32(m_crc, m_input.data(), static_cast<uInt>(*count));
    return ZipStatus::Ok;
}

ZipStatus ZipWriter::Impl::WriteData(const uint8_t* data, size_t count) {
    if (m_written + count > m_dataLimit) {
        return ZipStatus::TooLarge;
    }
    const size_t written = m_file.Write(data, count);
    m_written += written;
    return written == count ? ZipStatus::Ok : ZipStatus::WriteFailed;
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

void ZipWriter::SetCompressorAllocatorForTesting(void* (*allocate)(void*, unsigned, unsigned),
                                                 void (*release)(void*, void*)) {
    g_compressorAlloc = allocate;
    g_compressorFree = release;
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

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
#include "zip/Deflate.h"
#include "zip/PooledMember.h"

namespace zip {
namespace {

constexpr size_t kBufferSize = 16384;

// Reads a source front to back in pieces that fill `buffer` (less only at the end), keeping the count and the
// CRC-32 of what it read.
class SourceReader {
  public:
    SourceReader(platform::File& file, std::span<uint8_t> buffer, SystemError& error)
        : m_file(file), m_buffer(buffer), m_error(error) {}

    // The next piece, empty at the end of the source.
    ZipStatus Next(std::span<const uint8_t>* piece) {
        size_t count = 0;
        for (size_t n = 1; n > 0 && count < m_buffer.size(); count += n) {
            const platform::Result<size_t> read =
                m_file.Read(m_buffer.data() + count, m_buffer.size() - count);
            if (!read) {
                m_error = {"read", read.Error().error};
                return ZipStatus::WriteFailed;  // the member cannot be written in full
            }
            n = *read;
        }
        if (m_bytesRead + count > kMaxMemberSize) {
            return ZipStatus::TooLarge;  // the source grew past what a member can hold
        }
        m_bytesRead += count;
        *piece = m_buffer.first(count);
        m_crc = Crc32(m_crc, *piece);
        return ZipStatus::Ok;
    }
    uint64_t BytesRead() const { return m_bytesRead; }
    uint32_t Crc() const { return m_crc; }

  private:
    platform::File& m_file;
    std::span<uint8_t> m_buffer;
    SystemError& m_error;
    uint64_t m_bytesRead = 0;
    uint32_t m_crc = 0;
};

// The member's bytes, read by `source` and compressed block by block (Deflate.h) into `sink`.
ZipStatus DeflateMember(SourceReader& source, Deflater& deflater, DeflateSink& sink) {
    std::vector<uint8_t> dictionary;  // the end of the block before
    ZipStatus status = deflater.Begin({}, sink);
    for (uint64_t inBlock = 0; status == ZipStatus::Ok;) {
        std::span<const uint8_t> piece;
        status = source.Next(&piece);
        if (status != ZipStatus::Ok) {
            break;
        }
        if (piece.empty()) {
            return deflater.End(/*last=*/true);
        }
        if (inBlock == kBlockSize) {
            status = deflater.End(/*last=*/false);
            status = status == ZipStatus::Ok ? deflater.Begin(dictionary, sink) : status;
            inBlock = 0;
        }
        status = status == ZipStatus::Ok ? deflater.Feed(piece) : status;
        inBlock += piece.size();
        if (inBlock == kBlockSize) {
            dictionary.assign(piece.end() - kDictionarySize, piece.end());
        }
    }
    return status;
}

// Whether a disk file of `size` bytes is a DOS-style executable program. Reads at fixed offsets and leaves
// the file position alone.
platform::Result<bool> ProbeExecutable(platform::File& file, uint64_t size) {
    std::array<uint8_t, kDosHeaderSize> header{};
    if (size <= kDosHeaderSize) {
        return false;
    }
    // A file shorter by now (ENODATA) is no program.
    const auto readable = [](const platform::Status& read) -> platform::Result<bool> {
        return read.Error().error == ENODATA ? platform::Result<bool>(false) : read.Error();
    };
    if (const platform::Status read = file.ReadAt(0, header.data(), header.size()); !read) {
        return readable(read);
    }
    const uint32_t newHeader = NewHeaderOffset(header);
    std::array<uint8_t, 2> signature{};
    if (newHeader == 0 || uint64_t{newHeader} + signature.size() > size) {
        return false;
    }
    if (const platform::Status read = file.ReadAt(newHeader, signature.data(), signature.size()); !read) {
        return readable(read);
    }
    return IsExecutableSignature(signature);
}

// The SourceInfo of a regular file the caller opened, and the file positioned at its start. CannotOpenFile
// for anything else, and for the archive itself.
ZipStatus DescribeOpenFile(platform::File& file, const std::string& memberName, dev_t archiveDevice,
                           ino_t archiveInode, SourceInfo* info, SystemError* error) {
    const auto fileInfo = file.Info();
    if (!fileInfo) {
        *error = {"fstat", fileInfo.Error().error};
        return ZipStatus::CannotOpenFile;
    }
    if (!fileInfo->IsRegular() || (fileInfo->device == archiveDevice && fileInfo->inode == archiveInode)) {
        return ZipStatus::CannotOpenFile;
    }
    if (const platform::Status sought = file.Seek(0); !sought) {
        *error = {"lseek", sought.Error().error};
        return ZipStatus::CannotOpenFile;
    }
    const auto executable = ProbeExecutable(file, fileInfo->size);
    if (!executable) {
        *error = {"read", executable.Error().error};
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
    static std::unique_ptr<Impl> Open(const std::string& path, bool mustBeNew, SystemError* error);

    ZipStatus AddFile(const std::string& name, const std::string& sourcePath, ZipEntry* recorded);
    ZipStatus AddOpenFile(const std::string& name, platform::File file, ZipEntry* recorded);
    void DescribePooled(const std::string& name, platform::File& file, PooledMember* member) const;
    ZipStatus BeginPooled(PooledMember& member);
    ZipStatus AppendPooled(std::span<const uint8_t> data) { return WriteData(data); }
    ZipStatus EndPooled(PooledMember& member, uint32_t crc, uint64_t bytesRead, ZipEntry* recorded);
    void CutPooled(const PooledMember& member) { CutBackTo(member.start); }
    ZipStatus Close();
    bool StartAt(uint64_t offset);
    const platform::FileInfo& Info() const { return m_info; }
    int Descriptor() const { return m_file.Descriptor(); }
    SystemError LastError() const { return m_error; }
    void StartWritebackEarly(bool on) { m_writebackEarly = on; }
    void SetCompression(Compression mode) { m_compression = mode; }
    Compression GetCompression() const { return m_compression; }

  private:
    struct Source {
        platform::File file;
        SourceInfo info;
    };
    // Compressed data goes straight into the archive through the output buffer.
    class Output : public DeflateSink {
      public:
        explicit Output(Impl& impl) : m_impl(impl) {}
        std::span<uint8_t> Room() override { return m_impl.m_output; }
        ZipStatus Filled(size_t count) override {
            return m_impl.WriteData(std::span(m_impl.m_output).first(count));
        }

      private:
        Impl& m_impl;
    };

    Impl(platform::File file, const platform::FileInfo& info) : m_file(std::move(file)), m_info(info) {}

    ZipStatus Admit(const ZipEntry& entry) const;
    ZipStatus OpenSource(const std::string& path, Source* source);
    ZipStatus AddSource(ZipEntry& entry, Source& source, ZipEntry* recorded);
    ZipStatus CheckRoom(const ZipEntry& entry, int64_t announcedSize);
    ZipStatus StartMember(ZipEntry& entry, const SourceInfo& info, uint64_t* start);
    ZipStatus FinishMember(ZipEntry& entry, const SourceInfo& info, uint64_t start, uint32_t crc,
                           uint64_t bytesRead);
    ZipStatus WriteData(platform::File& source, ZipEntry& entry, uint32_t* crc, uint64_t* bytesRead);
    ZipStatus CopyStored(SourceReader& source);
    ZipStatus WriteData(std::span<const uint8_t> data);
    bool WriteHeader(const ZipEntry& entry, HeaderForm form, std::span<const uint8_t> extra);
    bool Reposition(uint64_t offset);
    void CutBackTo(uint64_t offset);
    ZipStatus Record(ZipEntry& entry, uint64_t start, ZipEntry* recorded);

    platform::File m_file;
    // The archive file as created, never changed: DescribePooled reads its identity on other threads.
    const platform::FileInfo m_info;
    uint64_t m_written = 0;  // bytes of the archive so far; every offset in a header is taken from it
    ZipStatus m_latched = ZipStatus::Ok;
    std::vector<ZipEntry> m_entries;
    uint64_t m_directorySize = 0;  // the central directory as it stands
    bool m_writebackEarly = true;
    SystemError m_error;  // beside the last status other than Ok
    Compression m_compression = Compression::Standard;

    // The member being added.
    uint64_t m_dataLimit = 0;  // the offset its data must not pass, so that the directory still fits
    std::array<uint8_t, kBufferSize> m_output{};
    std::vector<uint8_t> m_input;          // pieces of the source on their way to the compressor
    std::unique_ptr<Deflater> m_deflater;  // made for the first deflated member, used for every one after
};

std::unique_ptr<ZipWriter::Impl> ZipWriter::Impl::Open(const std::string& path, bool mustBeNew,
                                                       SystemError* error) {
    // Create the file if it is new; an existing one is truncated only once it is known to be ours to replace,
    // so that a refusal leaves it untouched.
    bool created = true;
    auto file = platform::File::Open(path, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY, 0666);
    if (!file && file.Error().error == EEXIST && !mustBeNew) {
        created = false;
        file = platform::File::Open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    platform::Result<platform::FileInfo> info = file ? file->Info() : file.Error();
    // An existing file whose owner may not write it is read-only; replacing it needs the user's consent, even
    // where the process could override the permission.
    platform::Status usable = info ? platform::Status() : info.Error();
    if (usable && !info->IsRegular()) {
        usable = platform::Failure{info->IsDirectory() ? EISDIR : EINVAL, "open"};
    } else if (usable && !created && !info->OwnerMayWrite()) {
        usable = platform::Failure{EACCES, "open"};
    }
    usable = usable ? file->TryLockExclusive() : usable;
    usable = usable && !created ? file->Truncate(0) : usable;
    if (!usable) {
        *error = {usable.Error().call, usable.Error().error};
        if (file && created) {
            (void)file->Close();
            platform::Sys().unlink(path.c_str());
        }
        return nullptr;
    }
    return std::unique_ptr<Impl>(new Impl(std::move(*file), *info));
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
    m_error = {};
    ZipEntry entry = EntryNamed(name);
    ZipStatus status = Admit(entry);
    Source source;
    if (status == ZipStatus::Ok) {
        status = OpenSource(sourcePath, &source);
    }
    return status == ZipStatus::Ok ? AddSource(entry, source, recorded) : status;
}

ZipStatus ZipWriter::Impl::AddOpenFile(const std::string& name, platform::File file, ZipEntry* recorded) {
    m_error = {};
    ZipEntry entry = EntryNamed(name);
    ZipStatus status = Admit(entry);
    Source source{std::move(file), {}};
    if (status == ZipStatus::Ok) {
        status =
            DescribeOpenFile(source.file, entry.name, m_info.device, m_info.inode, &source.info, &m_error);
    }
    return status == ZipStatus::Ok ? AddSource(entry, source, recorded) : status;
}

ZipStatus ZipWriter::Impl::AddSource(ZipEntry& entry, Source& source, ZipEntry* recorded) {
    ZipStatus status = CheckRoom(entry, source.info.announcedSize);
    uint64_t start = m_written;
    if (status == ZipStatus::Ok) {
        status = StartMember(entry, source.info, &start);
    }
    uint32_t crc = 0;
    uint64_t bytesRead = 0;
    if (status == ZipStatus::Ok) {
        status = WriteData(source.file, entry, &crc, &bytesRead);
        (void)source.file.Close();
    }
    if (status == ZipStatus::Ok) {
        status = FinishMember(entry, source.info, start, crc, bytesRead);
    }
    if (status != ZipStatus::Ok) {
        CutBackTo(start);
        return AsReported(status);
    }
    return Record(entry, start, recorded);
}

// Writes the local header with provisional values; it is rewritten once the data is out.
ZipStatus ZipWriter::Impl::StartMember(ZipEntry& entry, const SourceInfo& info, uint64_t* start) {
    const bool sizeKnown = info.announcedSize >= 0;
    Describe(entry, info);
    entry.flags = entry.localFlags = kFlagDataDescriptor | NameFlags(entry.name);
    entry.uncompressedSize = sizeKnown ? static_cast<uint32_t>(info.announcedSize) : 0xFFFFFFFF;
    entry.compressedSize = entry.method == kMethodStored && sizeKnown ? entry.uncompressedSize : 0;
    entry.localHeaderOffset = static_cast<uint32_t>(m_written);
    *start = m_written;
    if (!WriteHeader(entry, HeaderForm::Local, LocalTimestampExtra(info))) {
        return ZipStatus::WriteFailed;
    }
    m_written += HeaderSize(entry, HeaderForm::Local);
    return ZipStatus::Ok;
}

// Rewrites the local header with the final values, once the data is out.
ZipStatus ZipWriter::Impl::FinishMember(ZipEntry& entry, const SourceInfo& info, uint64_t start, uint32_t crc,
                                        uint64_t bytesRead) {
    entry.crc32 = crc;
    entry.compressedSize = static_cast<uint32_t>(m_written - start - HeaderSize(entry, HeaderForm::Local));
    entry.uncompressedSize = static_cast<uint32_t>(bytesRead);
    entry.flags = (entry.method == kMethodDeflated ? kFlagMaximumCompression : 0) | NameFlags(entry.name);
    entry.localFlags = entry.flags;
    if (!Reposition(entry.localHeaderOffset)) {
        return ZipStatus::SeekFailed;
    }
    if (!WriteHeader(entry, HeaderForm::Local, LocalTimestampExtra(info))) {
        return ZipStatus::WriteFailed;
    }
    return Reposition(m_written) ? ZipStatus::Ok : ZipStatus::SeekFailed;
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

void ZipWriter::Impl::DescribePooled(const std::string& name, platform::File& file,
                                     PooledMember* member) const {
    member->entry = EntryNamed(name);
    member->openStatus = DescribeOpenFile(file, member->entry.name, m_info.device, m_info.inode,
                                          &member->info, &member->openError);
}

// Gives every answer AddOpenFile would have given for the member, and writes the same bytes.
ZipStatus ZipWriter::Impl::BeginPooled(PooledMember& member) {
    member.start = m_written;
    m_error = {};
    ZipStatus status = Admit(member.entry);
    if (status == ZipStatus::Ok) {
        status = member.openStatus;
        m_error = member.openError;
    }
    if (status == ZipStatus::Ok) {
        status = CheckRoom(member.entry, member.info.announcedSize);
    }
    if (status == ZipStatus::Ok) {
        status = StartMember(member.entry, member.info, &member.start);
        if (status != ZipStatus::Ok) {
            CutBackTo(member.start);
        }
    }
    return status;
}

ZipStatus ZipWriter::Impl::EndPooled(PooledMember& member, uint32_t crc, uint64_t bytesRead,
                                     ZipEntry* recorded) {
    const ZipStatus status = FinishMember(member.entry, member.info, member.start, crc, bytesRead);
    if (status != ZipStatus::Ok) {
        CutBackTo(member.start);
        return status;
    }
    return Record(member.entry, member.start, recorded);
}

ZipStatus ZipWriter::Impl::OpenSource(const std::string& path, Source* source) {
    // O_NONBLOCK keeps a pipe without a writer from stalling the open; it is cleared again below.
    auto opened = platform::File::Open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (!opened) {
        m_error = {"open", opened.Error().error};
        return ZipStatus::CannotOpenFile;
    }
    source->file = std::move(*opened);
    const auto info = source->file.Info();
    if (!info) {
        m_error = {"fstat", info.Error().error};
    }
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
        m_error = {"read", executable.Error().error};
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

// The member's data from `source`, stored or deflated as `entry` says; closes the source.
ZipStatus ZipWriter::Impl::WriteData(platform::File& source, ZipEntry& entry, uint32_t* crc,
                                     uint64_t* bytesRead) {
    const bool stored = entry.method == kMethodStored;
    if (!stored && !m_deflater) {
        m_deflater = std::make_unique<Deflater>(m_compression);
    }
    m_input.resize(stored ? kBufferSize : kPieceSize);
    SourceReader reader(source, m_input, m_error);
    Output output(*this);
    const ZipStatus status = stored ? CopyStored(reader) : DeflateMember(reader, *m_deflater, output);
    *crc = reader.Crc();
    *bytesRead = reader.BytesRead();
    return status;
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
    size_t written = 0;
    const platform::Status status = m_file.WriteAll(data.data(), data.size(), &written);
    m_written += written;
    if (!status) {
        m_error = {"write", status.Error().error};
        return ZipStatus::WriteFailed;
    }
    return ZipStatus::Ok;
}

bool ZipWriter::Impl::WriteHeader(const ZipEntry& entry, HeaderForm form, std::span<const uint8_t> extra) {
    std::vector<uint8_t> bytes(HeaderSize(entry, form));
    PutCursor out(bytes);
    PutHeader(out, entry, form, extra);
    if (!out.Ok() || out.Size() != bytes.size()) {
        return false;
    }
    if (const platform::Status written = m_file.WriteAll(bytes.data(), bytes.size()); !written) {
        m_error = {"write", written.Error().error};
        return false;
    }
    return true;
}

bool ZipWriter::Impl::Reposition(uint64_t offset) {
    const platform::Status sought = m_file.Seek(offset);
    if (sought) {
        return true;
    }
    m_error = {"lseek", sought.Error().error};
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
    m_error = {};
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
            const platform::Status written =
                out.Ok() ? m_file.WriteAll(end.data(), end.size()) : platform::Failure{EINVAL, "write"};
            if (!written) {
                m_error = {"write", written.Error().error};
                result = ZipStatus::WriteFailed;
            } else {
                m_written += end.size();
            }
        }
        // Bytes of a member that failed part-way may lie beyond the end record.
        if (const platform::Status cut =
                result == ZipStatus::Ok ? m_file.Truncate(m_written) : platform::Status();
            !cut) {
            m_error = {"ftruncate", cut.Error().error};
            result = ZipStatus::WriteFailed;
        }
    }
    m_entries.clear();
    m_entries.shrink_to_fit();
    if (const platform::Status closed = m_file.Close(); !closed && result == ZipStatus::Ok) {
        m_error = {"close", closed.Error().error};
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
    return Open(path, /*mustBeNew=*/false, status);
}

ZipWriter ZipWriter::CreateNew(const std::string& path, ZipStatus* status) {
    return Open(path, /*mustBeNew=*/true, status);
}

ZipWriter ZipWriter::Open(const std::string& path, bool mustBeNew, ZipStatus* status) {
    SystemError error;
    ZipWriter writer(Impl::Open(path, mustBeNew, &error));
    writer.m_closeError = error;
    if (status != nullptr) {
        *status = writer.IsOpen() ? ZipStatus::Ok : ZipStatus::CannotOpenFile;
    }
    return writer;
}

ZipWriter::ZipWriter() noexcept = default;

ZipWriter::ZipWriter(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

ZipWriter::~ZipWriter() {
    if (m_impl) {
        m_impl->Close();
    }
}

ZipWriter::ZipWriter(ZipWriter&& other) noexcept
    : m_impl(std::move(other.m_impl)),
      m_closed(std::exchange(other.m_closed, false)),
      m_closeError(std::exchange(other.m_closeError, {})) {}

ZipWriter& ZipWriter::operator=(ZipWriter&& other) noexcept {
    if (this != &other) {
        if (m_impl) {
            m_impl->Close();
        }
        m_impl = std::move(other.m_impl);
        m_closed = std::exchange(other.m_closed, false);
        m_closeError = std::exchange(other.m_closeError, {});
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

SystemError ZipWriter::LastError() const {
    return m_impl ? m_impl->LastError() : m_closeError;
}

void ZipWriter::SetCompression(Compression mode) {
    if (m_impl) {
        m_impl->SetCompression(mode);
    }
}

Compression ZipWriter::GetCompression() const {
    return m_impl ? m_impl->GetCompression() : Compression::Standard;
}

void ZipWriter::DescribePooled(const std::string& name, platform::File& source, PooledMember* member) const {
    m_impl->DescribePooled(name, source, member);
}

ZipStatus ZipWriter::BeginPooled(PooledMember& member) {
    return m_impl ? m_impl->BeginPooled(member) : ZipStatus::BadArguments;
}

ZipStatus ZipWriter::AppendPooled(std::span<const uint8_t> data) {
    return m_impl->AppendPooled(data);
}

ZipStatus ZipWriter::EndPooled(PooledMember& member, uint32_t crc, uint64_t bytesRead, ZipEntry* recorded) {
    return m_impl->EndPooled(member, crc, bytesRead, recorded);
}

void ZipWriter::CutPooled(const PooledMember& member) {
    m_impl->CutPooled(member);
}

ZipStatus ZipWriter::Close() {
    if (!m_impl) {
        return m_closed ? ZipStatus::AlreadyClosed : ZipStatus::BadArguments;
    }
    const ZipStatus result = m_impl->Close();
    m_closeError = m_impl->LastError();
    m_impl.reset();
    m_closed = true;
    return result;
}

platform::FileInfo ZipWriter::ArchiveFile() const {
    return m_impl ? m_impl->Info() : platform::FileInfo{};
}

int ZipWriter::ArchiveDescriptor() const {
    return m_impl ? m_impl->Descriptor() : -1;
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

// Reads a ZIP archive back and checks its members' data, so that a picture leaves the camera folder only
// after its copy in the archive has been read from the disk and found whole.
//
// The reader understands what Tovaro writes -- one disk, stored and deflated members, no Zip64, no
// encryption -- and refuses anything else as unsupported. It trusts nothing in its input: whatever the bytes
// claim, every call returns a status, never reads outside the source, always makes progress, and holds no
// more than the source's size justifies (member data goes through fixed-size chunks, never whole).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/File.h"

namespace zip {

// Random access to the bytes of an archive.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `count` bytes at `offset`; a failure when not all of them could be read.
    virtual platform::Status ReadAt(uint64_t offset, void* buffer, size_t count) = 0;
};

// A file read through the platform layer, so tests can make its reads fail. The size is taken once, when
// the source is made.
class FileByteSource final : public ByteSource {
  public:
    // Fails when the file can't be opened or its size can't be learnt.
    static platform::Result<FileByteSource> Open(const std::string& path);

    uint64_t Size() const override { return m_size; }
    platform::Status ReadAt(uint64_t offset, void* buffer, size_t count) override;

  private:
    FileByteSource(platform::File file, uint64_t size) : m_file(std::move(file)), m_size(size) {}

    platform::File m_file;
    uint64_t m_size = 0;
    std::optional<uint64_t> m_position;  // where the descriptor stands, when known; saves a seek per chunk
};

// A file read past the page cache (O_DIRECT) in aligned windows, so that what comes back is what the disk
// holds rather than what is still in memory -- and without filling the cache with a file just written.
// Reads go through the platform layer, so tests can make them fail.
class DirectFileByteSource final : public ByteSource {
  public:
    // Fails when the file can't be opened for direct reading (EINVAL where the file system does not offer
    // it) or its size can't be learnt.
    static platform::Result<DirectFileByteSource> Open(const std::string& path);

    uint64_t Size() const override { return m_size; }
    platform::Status ReadAt(uint64_t offset, void* buffer, size_t count) override;
    // For a file still being written: takes its size anew and forgets what was read, which may have changed
    // since. Fails when the size can't be learnt.
    platform::Status Reload();

  private:
    struct FreeAligned {
        void operator()(uint8_t* p) const;
    };
    DirectFileByteSource(platform::File file, uint64_t size);
    platform::Status Fill(uint64_t offset);

    platform::File m_file;
    uint64_t m_size = 0;
    std::unique_ptr<uint8_t, FreeAligned> m_window;  // aligned for direct reads
    uint64_t m_windowStart = 0;
    size_t m_windowLength = 0;
};

enum class ReadStatus {
    Ok,
    ReadFailed,    // the source could not be read
    NotAnArchive,  // no end of central directory record
    Damaged,       // the records contradict each other or the data is not a valid stream of its stated size
    Unsupported,  // a ZIP feature outside what Tovaro writes: several disks, Zip64, encryption, other methods
    Mismatch,  // the member's data was read whole, but its CRC-32 or size is not the recorded or expected one
    NoSuchMember,  // the index names no member (or the archive was not opened)
};

struct ReadResult {
    ReadStatus status = ReadStatus::Ok;
    std::string reason;  // a few plain words; empty when Ok

    bool Ok() const { return status == ReadStatus::Ok; }
};

// One member as its central directory header describes it.
struct MemberInfo {
    std::string name;  // the stored bytes, unchanged
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
    bool zip64 = false;  // a size or the offset is deferred to a Zip64 extra field
};

// One member to check: its index in Members(), and the CRC-32 and size the caller recorded for it.
struct MemberCheck {
    size_t index = 0;
    uint32_t crc32 = 0;
    uint64_t size = 0;
};

// Takes each run of a member's data as it comes out; a failure stops the read (ReadFailed).
using DataSink = std::function<platform::Status(const uint8_t* data, size_t size)>;

// Makes a new source over the same archive.
using SourceMaker = std::function<platform::Result<std::unique_ptr<ByteSource>>()>;

class ZipReader {
  public:
    static constexpr size_t kNotFound = static_cast<size_t>(-1);

    // The source must outlive the reader.
    explicit ZipReader(ByteSource& source) : m_source(source) {}

    // Finds the end of central directory record (behind a comment of up to 65,535 bytes) and reads every
    // central directory header. The members are known only after an Ok.
    ReadResult Open();

    // In central directory order, which is the order in which the members were added.
    const std::vector<MemberInfo>& Members() const { return m_members; }

    // Reads the member's local header, checks it against its central header, and streams its data
    // (inflating a deflated member), comparing the CRC-32 and size of what comes out with the central
    // directory's and with the caller's own record of the member.
    // With a `sink`, the data also goes there as it comes out: the caller takes it only after an Ok.
    ReadResult Verify(size_t index, uint32_t expectedCrc32, uint64_t expectedSize, const DataSink& sink = {});

    // The same for a member the caller describes as its writer recorded it (name, flags, method, CRC-32,
    // sizes, local header offset), without the central directory, which need not be written yet.
    ReadResult VerifyDescribed(const MemberInfo& described);

    // Verify for every check, on up to `threads` threads (0: one per core), the calling one among them. Each
    // reads the archive through a source of its own from `makeSource`, which is called on the calling thread,
    // once per thread, before they start; they share nothing else. The results come in the order of `checks`.
    // When not even one source can be made, every result is ReadFailed.
    std::vector<ReadResult> VerifyAll(const std::vector<MemberCheck>& checks, const SourceMaker& makeSource,
                                      unsigned threads = 0) const;

  private:
    // A reader of the members `opened` has found, reading through `source`.
    ZipReader(ByteSource& source, const ZipReader& opened)
        : m_source(source), m_members(opened.m_members), m_limits(opened.m_limits) {}

    ReadResult ReadDirectory(uint64_t offset, uint64_t size, uint16_t recordedCount);
    void FindDataLimits(uint64_t directoryOffset);
    ReadResult VerifyMember(const MemberInfo& member, uint64_t limit, uint32_t expectedCrc32,
                            uint64_t expectedSize, const DataSink& sink);
    ReadResult CheckLocalHeader(const MemberInfo& member, uint64_t limit, uint64_t* dataOffset);
    ReadResult CopyStored(uint64_t offset, const MemberInfo& member, const DataSink& sink, uint32_t* crc,
                          uint64_t* size);
    ReadResult Inflate(uint64_t offset, const MemberInfo& member, const DataSink& sink, uint32_t* crc,
                       uint64_t* size);

    ByteSource& m_source;
    std::vector<MemberInfo> m_members;
    // Where each member's local header and data must end: the next member's local header, or the central
    // directory. 0 marks a member whose local header another member claims too.
    std::vector<uint64_t> m_limits;
    std::vector<uint8_t> m_input;  // chunk buffers for member data, allocated on first use
    std::vector<uint8_t> m_output;
};

}  // namespace zip

// Writes one ZIP archive, member by member, to a file it creates.
//
// Each member's local header goes out with provisional values, the member data streams behind it (stored for
// names with an archive suffix, raw deflate otherwise: zlib's level 8, or ISA-L's fast deflate when asked; a
// large member as blocks joined into one stream, see Deflate.h), and then the header is rewritten in place
// with the final CRC-32 and sizes. The central directory is kept in memory, one ZipEntry per member, and
// written by Close. AddFile and AddOpenFile never hold a member's data whole in memory and use no temporary
// file; CompressorPool (CompressorPool.h) compresses members on other threads, into memory up to a bound, and
// hands them to the writer, which puts them in as they would have come from AddOpenFile.
//
// Whatever fails, the file keeps true offsets: a member whose writing fails part-way is cut off again (the
// next member, or the central directory, starts where its local header began), and Close ends the file right
// after the end record. So an archive closed with Ok after failed adds still holds exactly the members that
// were added with Ok.
//
// Usage:
//     zip::ZipWriter writer = zip::ZipWriter::Create("/photos/ArchivePics.zip");
//     zip::ZipEntry entry;
//     if (writer.AddFile("/camera/IMG_0001.jpg", "/camera/IMG_0001.jpg", &entry) == zip::ZipStatus::Ok) { ...
//     } zip::ZipStatus status = writer.Close();
//
// A failed Create gives an empty writer ("no writer"): AddFile and Close on it return BadArguments and touch
// no file, so a caller may go on without testing Create's result.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/File.h"
#include "zip/ZipFormat.h"

namespace zip {

class ChunkStore;
struct PooledMember;

// The result of a writer operation; 0 (Ok) on success.
enum class ZipStatus : uint32_t {
    Ok = 0x00000000,
    // The archive file cannot be created (no such folder, no permission, an existing read-only file, or a
    // file that another program holds locked), or the source cannot be opened, its file information cannot be
    // read, it is a folder, or it is the archive itself.
    CannotOpenFile = 0x00000200,
    // A header, the member data or a directory record was not written in full, the compressor failed, or the
    // source could not be read to its end.
    WriteFailed = 0x00000400,
    // No writer, or a member name that is empty or longer than 65,535 bytes.
    BadArguments = 0x00010000,
    // The writer holds a latched output error (the output could not be repositioned); only Close still works.
    AlreadyFailed = 0x00040000,
    // Close has already been called.
    AlreadyClosed = 0x00050000,
    // A stored copy wrote fewer bytes than it read. Used inside the writer; AddFile reports it as
    // WriteFailed.
    SizeMismatch = 0x00060000,
    // Too large for this format: a source of 4 GiB or more, a member that would push a size or an offset of
    // the archive past 32 bits, or a 65,536th member. Refused before anything is written for the member.
    TooLarge = 0x00070000,
    // The output cannot be repositioned to rewrite a local header. Latched: later adds return AlreadyFailed.
    SeekFailed = 0x02000000,
    // The compressor reported an internal error. Used inside the writer; AddFile reports it as WriteFailed.
    CompressorFailed = 0x05000000,
};

// How deflated members are compressed. Both write method 8, raw deflate, that every reader reads.
enum class Compression {
    Standard,  // zlib at level 8
    Fast,      // ISA-L: several times faster; on photos the same size within a hair, a little larger on BMPs
};

// The system's side of a failure, kept beside its ZipStatus: the call that failed and its errno. No call
// (nullptr, errno 0) when no system call failed (a bad name, a member too large, a compressor error).
struct SystemError {
    const char* call = nullptr;  // "open", "read", "write", "lseek", ...
    int error = 0;
};

// The name of a status, e.g. "CannotOpenFile", for messages and test output.
const char* ZipStatusName(ZipStatus status);

// Whether a (slash-converted) member name ends in one of the archive suffixes .Z .zip .zoo .arc .lzh .arj .gz
// .tgz, in any letter case, counted from the last "." of the whole name. Such members are stored, not
// deflated.
bool HasArchiveSuffix(std::string_view name);

class ZipWriter {
  public:
    // Creates the archive file at `path`, replacing a file of that name, and takes an exclusive advisory lock
    // on it. On failure returns no writer, sets *status (when given) to CannotOpenFile, and creates or
    // changes no file; on success *status is Ok. Nothing is written until the first AddFile or Close.
    static ZipWriter Create(const std::string& path, ZipStatus* status = nullptr);
    // The same, but only as a new file: a file or anything else of that name is never touched, and
    // LastError is EEXIST then.
    static ZipWriter CreateNew(const std::string& path, ZipStatus* status = nullptr);

    // No writer.
    ZipWriter() noexcept;
    // A writer destroyed while still open is closed as by Close, its result dropped.
    ~ZipWriter();
    ZipWriter(ZipWriter&& other) noexcept;
    ZipWriter& operator=(ZipWriter&& other) noexcept;
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // True between a successful Create and Close.
    bool IsOpen() const { return m_impl != nullptr; }

    // Which file the writer writes (device and inode), whatever its name becomes meanwhile. Open writers
    // only.
    platform::FileInfo ArchiveFile() const;
    // The descriptor the archive is written through, to read it back while it is written (as
    // /proc/self/fd/N); -1 without a writer. It stays the writer's, and Close closes it.
    int ArchiveDescriptor() const;

    // Adds the file at `source` as one member named `name` (every backslash becomes a slash; nothing else
    // changes). Returns Ok when the member is in the archive; then *recorded (when given) receives what was
    // recorded for it: name as stored, CRC-32, compressed and uncompressed size, local header offset, method,
    // times and attributes, exactly as the central directory will hold them. On any other status no member
    // is added, *recorded is left alone, and the archive holds what it held before the call: bytes already
    // written for the member are dropped again (Close writes over them and cuts them off).
    // No writer: BadArguments. After Close: AlreadyClosed.
    ZipStatus AddFile(const std::string& name, const std::string& source, ZipEntry* recorded = nullptr);

    // As AddFile, for a file the caller has already opened (platform::File::OpenRegularForReading); the
    // writer reads it from its start and closes it. Only a regular file is accepted, checked on the
    // descriptor (else CannotOpenFile); the hidden attribute comes from the last component of `name`.
    ZipStatus AddOpenFile(const std::string& name, platform::File source, ZipEntry* recorded = nullptr);

    // The system's side of the last status other than Ok that AddFile, AddOpenFile or Close returned, or of
    // a failed Create.
    SystemError LastError() const;

    // Standard unless set; set it before the first member.
    void SetCompression(Compression mode);
    Compression GetCompression() const;

    // On unless turned off: after each member the writer asks the kernel to start writing it to the disk
    // (sync_file_range), so that a flush after Close has little left to wait for. Off only to measure that.
    void StartWritebackEarly(bool on);

    // Writes the central directory and the end record, cuts the file at the archive's end and closes it. The
    // writer is closed afterwards whatever the result. No writer: BadArguments. A second Close:
    // AlreadyClosed.
    ZipStatus Close();

    // FOR TESTS ONLY: places the archive's first byte at `offset` of the file (the file gets a hole before
    // it) so that the 32-bit limits can be reached without writing gigabytes. Must be called before the first
    // AddFile; false otherwise or when the file cannot be repositioned.
    bool StartAtOffsetForTesting(uint64_t offset);

  private:
    friend class CompressorPool;
    class Impl;
    explicit ZipWriter(std::unique_ptr<Impl> impl);
    static ZipWriter Open(const std::string& path, bool mustBeNew, ZipStatus* status);

    // For the pool. DescribePooled reads what the local header needs from an open source and may run on any
    // thread: it reads nothing that the writer's own thread changes. The others put the member into the
    // archive, on the writer's thread: BeginPooled writes its provisional header (or refuses it, as
    // AddOpenFile would), AppendPooled its compressed data, EndPooled its final header and records it;
    // CutPooled drops what was written for it.
    void DescribePooled(const std::string& name, platform::File& source, PooledMember* member) const;
    ZipStatus BeginPooled(PooledMember& member);
    ZipStatus AppendPooled(std::span<const uint8_t> data);
    ZipStatus EndPooled(PooledMember& member, uint32_t crc, uint64_t bytesRead, ZipEntry* recorded);
    void CutPooled(const PooledMember& member);

    std::unique_ptr<Impl> m_impl;
    bool m_closed = false;
    SystemError m_closeError;  // Close's, kept once the writer is gone, or a failed Create's
};

}  // namespace zip

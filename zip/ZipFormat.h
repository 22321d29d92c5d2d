// The records of a ZIP archive as Tovaro writes them, and the conversions that fill their fields.
//
// The subset: one disk, no comments, no encryption, no 64-bit records, methods 0 (stored) and 8 (deflated),
// and on every member the extended-timestamp extra field (0x5455), 17 bytes in the local header and 9 in the
// central one. All integers are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "zip/PutCursor.h"

namespace platform {
struct FileInfo;
}

namespace zip {

inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;

inline constexpr size_t kLocalHeaderFixedSize = 30;
inline constexpr size_t kCentralHeaderFixedSize = 46;
inline constexpr size_t kEndRecordSize = 22;
inline constexpr size_t kLocalExtraSize = 17;
inline constexpr size_t kCentralExtraSize = 9;

inline constexpr uint16_t kVersionMadeBy = 0x0B17;
inline constexpr uint16_t kVersionNeeded = 20;
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;
inline constexpr uint16_t kFlagMaximumCompression = 0x0002;  // bit 1: deflated at a high level
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;  // bit 3: sizes follow the data (provisional only)
inline constexpr uint16_t kFlagUtf8Name = 0x0800;        // bit 11: the name is UTF-8

inline constexpr uint16_t kExtendedTimestampId = 0x5455;
inline constexpr uint8_t kTimestampFlags = 0x07;  // modification, access and creation time in the local form

// DOS attribute bits in the low byte of the external attributes.
inline constexpr uint32_t kDosReadOnly = 0x01;
inline constexpr uint32_t kDosHidden = 0x02;
inline constexpr uint32_t kDosDirectory = 0x10;
inline constexpr uint32_t kDosArchive = 0x20;
// Unix mode bits in the high half.
inline constexpr uint32_t kUnixRegular = 0x80000000;
inline constexpr uint32_t kUnixDirectory = 0x40000000;
inline constexpr uint32_t kUnixOwnerRead = 0x01000000;
inline constexpr uint32_t kUnixOwnerWrite = 0x00800000;
inline constexpr uint32_t kUnixOwnerExecute = 0x00400000;

// The largest archive the 32-bit fields can describe. Every size and offset stays below 0xFFFFFFFF, the value
// that tells readers to look for 64-bit records, which this subset never writes.
inline constexpr uint64_t kMaxArchiveSize = 0xFFFFFFFF;
inline constexpr uint64_t kMaxMemberSize = 0xFFFFFFFE;
// The end record counts members in 16 bits.
inline constexpr size_t kMaxMembers = 0xFFFF;
// A name length is a 16-bit field.
inline constexpr size_t kMaxNameLength = 0xFFFF;

// One member: every field of its central directory header, plus the flags and extra length of its local one.
struct ZipEntry {
    uint16_t versionMadeBy = kVersionMadeBy;
    uint16_t versionNeeded = kVersionNeeded;
    uint16_t flags = 0;       // central header
    uint16_t localFlags = 0;  // local header; equal to flags once the member is finished
    uint16_t method = kMethodDeflated;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t localExtraLength = kLocalExtraSize;
    uint16_t centralExtraLength = kCentralExtraSize;
    uint16_t commentLength = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
    std::string name;  // as stored: backslashes already turned into slashes; its length is the name length
    std::array<uint8_t, kCentralExtraSize> centralExtra{};
};

enum class HeaderForm { Local, Central };

// The flags a name calls for in both headers: kFlagUtf8Name for a name that is valid UTF-8 and not plain
// ASCII (file names here are UTF-8, and without the flag readers take them for an old DOS code page); 0 for a
// plain ASCII name, which reads the same either way, and for bytes that are no UTF-8.
uint16_t NameFlags(std::string_view name);

// The size of a member's header in the given form.
size_t HeaderSize(const ZipEntry& entry, HeaderForm form);

// Puts the local or the central header of `entry`, name and extra field included. `extra` is the extra field
// of that form: the 17-byte local one (which the entry does not keep) or entry.centralExtra.
void PutHeader(PutCursor& out, const ZipEntry& entry, HeaderForm form, std::span<const uint8_t> extra);

// Puts the end of central directory record.
void PutEndRecord(PutCursor& out, uint16_t memberCount, uint32_t directorySize, uint32_t directoryOffset);

// What the writer takes from a source before it reads its data.
struct SourceInfo {
    uint32_t externalAttributes = kUnixRegular;
    int32_t modified = 0;  // Unix times, clamped to 1970..2037
    int32_t accessed = 0;
    int32_t created = 0;
    uint32_t dosDateTime =
        0;  // local time of the last write: DOS date in the upper 16 bits, time in the lower
    int64_t announcedSize = -1;  // -1 when the source cannot tell (a pipe or a device)
};

// The extended-timestamp extra field in its two forms.
std::array<uint8_t, kLocalExtraSize> LocalTimestampExtra(const SourceInfo& info);
std::array<uint8_t, kCentralExtraSize> CentralTimestampExtra(const SourceInfo& info);

// A time stamp as the signed 32-bit Unix time the extra field holds: a UTC year before 1970 gives the same
// time of day on 1970-01-01, a year after 2037 the same time of day on 2037-12-31.
int32_t ClampedUnixTime(time_t t);

// The DOS date (upper 16 bits) and time (lower 16 bits) of the local time of `t`. The packing starts in 1980:
// anything earlier gets 1980-01-01 00:00:00; anything after its last day, 2107-12-31 23:59:58.
uint32_t DosDateTime(time_t t);

// External attributes of a disk file: read-only when the owner may not write it, hidden when its file name
// begins with ".", directory from its type, archive for every regular file, never system; then the Unix type
// and owner bits. `fileName` is the last component of the source's path.
uint32_t ExternalAttributesOf(const platform::FileInfo& info, const std::string& fileName, bool executable);

// SourceInfo of a disk file.
SourceInfo SourceInfoOf(const platform::FileInfo& info, const std::string& fileName, bool executable);

// SourceInfo of a stream (pipe or device): size unknown, a plain regular-file mode, every time now.
SourceInfo StreamSourceInfo(time_t now);

// The executable test reads a file's first kDosHeaderSize bytes as a DOS-style executable header. It needs a
// file longer than that header.
inline constexpr size_t kDosHeaderSize = 64;
// The offset of the newer header that a DOS-style header names; 0 when `header` is no such header (no "MZ").
uint32_t NewHeaderOffset(std::span<const uint8_t> header);
// Whether the two bytes found at that offset are one of the signatures MZ, NE, LE or PE: then the file is an
// executable program.
bool IsExecutableSignature(std::span<const uint8_t> newHeader);

}  // namespace zip

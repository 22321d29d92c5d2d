#include "zip/ZipFormat.h"

#include "platform/File.h"
#include "platform/Time.h"

namespace zip {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kFirstDay2038 = 2145916800;  // 2038-01-01 00:00:00 UTC
constexpr int64_t kLastDay2037 = kFirstDay2038 - kSecondsPerDay;

constexpr uint32_t kDosFirstStamp = (((0u << 9) | (1u << 5) | 1u) << 16);  // 1980-01-01 00:00:00
constexpr uint32_t kDosLastStamp = ((127u << 9) | (12u << 5) | 31u) << 16 | ((23u << 11) | (59u << 5) | 29u);

void PutUnixTime(PutCursor& out, int32_t t) {
    out.Put32(static_cast<uint32_t>(t));
}

}  // namespace

size_t HeaderSize(const ZipEntry& entry, HeaderForm form) {
    return form == HeaderForm::Local
               ? kLocalHeaderFixedSize + entry.name.size() + entry.localExtraLength
               : kCentralHeaderFixedSize + entry.name.size() + entry.centralExtraLength + entry.commentLength;
}

void PutHeader(PutCursor& out, const ZipEntry& entry, HeaderForm form, std::span<const uint8_t> extra) {
    const bool local = form == HeaderForm::Local;
    const uint16_t extraLength = local ? entry.localExtraLength : entry.centralExtraLength;
    if (entry.name.size() > kMaxNameLength || extra.size() != extraLength) {
        out.Fail();  // the fields cannot describe it
        return;
    }
    if (local) {
        out.Put32(kLocalHeaderSignature);  // signature
    } else {
        out.Put32(kCentralHeaderSignature);  // signature
        out.Put16(entry.versionMadeBy);      // version made by
    }
    out.Put16(entry.versionNeeded);                       // version needed to extract
    out.Put16(local ? entry.localFlags : entry.flags);    // general purpose bit flag
    out.Put16(entry.method);                              // compression method
    out.Put16(entry.dosTime);                             // last modification time
    out.Put16(entry.dosDate);                             // last modification date
    out.Put32(entry.crc32);                               // CRC-32
    out.Put32(entry.compressedSize);                      // compressed size
    out.Put32(entry.uncompressedSize);                    // uncompressed size
    out.Put16(static_cast<uint16_t>(entry.name.size()));  // file name length
    out.Put16(extraLength);                               // extra field length
    if (!local) {
        out.Put16(entry.commentLength);       // file comment length
        out.Put16(entry.diskNumberStart);     // disk number start
        out.Put16(entry.internalAttributes);  // internal file attributes
        out.Put32(entry.externalAttributes);  // external file attributes
        out.Put32(entry.localHeaderOffset);   // relative offset of local header
    }
    out.PutBytes(entry.name.data(), entry.name.size());  // file name
    out.PutBytes(extra.data(), extra.size());            // extra field
}

void PutEndRecord(PutCursor& out, uint16_t memberCount, uint32_t directorySize, uint32_t directoryOffset) {
    out.Put32(kEndRecordSignature);  // signature
    out.Put16(0);                    // number of this disk
    out.Put16(0);                    // disk where the central directory starts
    out.Put16(memberCount);          // central directory entries on this disk
    out.Put16(memberCount);          // total central directory entries
    out.Put32(directorySize);        // size of the central directory
    out.Put32(directoryOffset);      // offset of the central directory
    out.Put16(0);                    // comment length
}

std::array<uint8_t, kLocalExtraSize> LocalTimestampExtra(const SourceInfo& info) {
    std::array<uint8_t, kLocalExtraSize> bytes{};
    PutCursor out(bytes);
    out.Put16(kExtendedTimestampId);  // header ID
    out.Put16(kLocalExtraSize - 4);   // data size
    out.Put8(kTimestampFlags);        // flags
    PutUnixTime(out, info.modified);  // modification time
    PutUnixTime(out, info.accessed);  // access time
    PutUnixTime(out, info.created);   // creation time
    return bytes;
}

std::array<uint8_t, kCentralExtraSize> CentralTimestampExtra(const SourceInfo& info) {
    std::array<uint8_t, kCentralExtraSize> bytes{};
    PutCursor out(bytes);
    out.Put16(kExtendedTimestampId);   // header ID
    out.Put16(kCentralExtraSize - 4);  // data size
    out.Put8(kTimestampFlags);         // flags: what the local form holds
    PutUnixTime(out, info.modified);   // modification time
    return bytes;
}

int32_t ClampedUnixTime(time_t t) {
    const int64_t seconds = t;
    const int64_t timeOfDay = ((seconds % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
    if (seconds < 0) {
        return static_cast<int32_t>(timeOfDay);
    }
    if (seconds >= kFirstDay2038) {
        return static_cast<int32_t>(kLastDay2037 + timeOfDay);
    }
    return static_cast<int32_t>(seconds);
}

uint32_t DosDateTime(time_t t) {
    const platform::Result<platform::CalendarTime> local = platform::ToLocalCalendar(t);
    if (!local) {
        return t < 0 ? kDosFirstStamp : kDosLastStamp;
    }
    const platform::CalendarTime& c = *local;
    if (c.year < 1980) {
        return kDosFirstStamp;
    }
    if (c.year > 1980 + 127) {
        return kDosLastStamp;
    }
    const auto date = static_cast<uint32_t>((c.year - 1980) * 512 + c.month * 32 + c.day);
    const auto time = static_cast<uint32_t>(c.hour * 2048 + c.minute * 32 + c.second / 2);
    return date << 16 | time;
}

uint32_t ExternalAttributesOf(const platform::FileInfo& info, const std::string& fileName, bool executable) {
    const bool readOnly = !info.OwnerMayWrite();
    uint32_t attributes = 0;
    if (readOnly) {
        attributes |= kDosReadOnly;
    }
    if (!fileName.empty() && fileName[0] == '.') {
        attributes |= kDosHidden;
    }
    if (info.IsDirectory()) {
        attributes |= kDosDirectory | kUnixDirectory;
    } else {
        // Files written fresh on the platform this format comes from carry the archive attribute.
        attributes |= kDosArchive | kUnixRegular;
    }
    attributes |= kUnixOwnerRead;
    if (!readOnly) {
        attributes |= kUnixOwnerWrite;
    }
    if (executable) {
        attributes |= kUnixOwnerExecute;
    }
    return attributes;
}

SourceInfo SourceInfoOf(const platform::FileInfo& info, const std::string& fileName, bool executable) {
    SourceInfo source;
    source.externalAttributes = ExternalAttributesOf(info, fileName, executable);
    source.modified = ClampedUnixTime(info.modified.tv_sec);
    source.accessed = ClampedUnixTime(info.accessed.tv_sec);
    source.created = ClampedUnixTime(info.CreationTime().tv_sec);
    source.dosDateTime = DosDateTime(info.modified.tv_sec);
    source.announcedSize = static_cast<int64_t>(info.size);
    return source;
}

SourceInfo StreamSourceInfo(time_t now) {
    SourceInfo source;
    source.externalAttributes = kUnixRegular;
    source.modified = source.accessed = source.created = ClampedUnixTime(now);
    source.dosDateTime = DosDateTime(now);
    source.announcedSize = -1;
    return source;
}

uint32_t NewHeaderOffset(std::span<const uint8_t> header) {
    if (header.size() < kDosHeaderSize || header[0] != 'M' || header[1] != 'Z') {
        return 0;
    }
    // e_lfanew, the offset of the newer header, sits at 0x3C.
    return static_cast<uint32_t>(header[0x3C]) | static_cast<uint32_t>(header[0x3D]) << 8 |
           static_cast<uint32_t>(header[0x3E]) << 16 | static_cast<uint32_t>(header[0x3F]) << 24;
}

bool IsExecutableSignature(std::span<const uint8_t> newHeader) {
    if (newHeader.size() < 2) {
        return false;
    }
    static constexpr const char* kSignatures[] = {"MZ", "NE", "LE", "PE"};
    for (const char* signature : kSignatures) {
        if (newHeader[0] == static_cast<uint8_t>(signature[0]) &&
            newHeader[1] == static_cast<uint8_t>(signature[1])) {
            return true;
        }
    }
    return false;
}

uint16_t NameFlags(std::string_view name) {
    bool ascii = true;
    for (size_t i = 0; i < name.size();) {
        const auto lead = static_cast<uint8_t>(name[i]);
        const size_t length = lead < 0x80                    ? 1
                              : lead >= 0xC2 && lead <= 0xDF ? 2
                              : lead >= 0xE0 && lead <= 0xEF ? 3
                              : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                             : 0;
        if (length == 0 || i + length > name.size()) {
            return 0;
        }
        uint32_t code = lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(name[i + k]);
            if ((next & 0xC0) != 0x80) {
                return 0;
            }
            code = code << 6 | (next & 0x3F);
        }
        // No overlong forms, no surrogates, nothing past U+10FFFF.
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
            return 0;
        }
        ascii = ascii && length == 1;
        i += length;
    }
    return ascii ? 0 : kFlagUtf8Name;
}

}  // namespace zip

#include "tests/fuzz/ZipReaderFuzz.h"

namespace fuzz {
namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void RequireExplained(const zip::ReadResult& result) {
    Require(result.Ok() == result.reason.empty());
}

}  // namespace

ArchiveCheck CheckArchive(const uint8_t* data, size_t size) {
    zip::MemoryByteSource source(data, size);
    zip::ZipReader reader(source);
    ArchiveCheck check;
    check.open = reader.Open();
    RequireExplained(check.open);
    if (!check.open.Ok()) {
        Require(reader.Members().empty());
        return check;
    }
    const auto& members = reader.Members();
    // Every central header takes at least 46 bytes of the input.
    Require(members.size() <= size / 46);
    for (size_t i = 0; i < members.size(); ++i) {
        const zip::ReadResult result = reader.Verify(i);
        RequireExplained(result);
        if (result.Ok()) {
            // The data was found to have this CRC-32, so no other may be accepted.
            const zip::MemberInfo& m = members[i];
            const zip::ReadResult wrong = reader.Verify(i, m.crc32 ^ 1u, m.uncompressedSize);
            Require(wrong.status == zip::ReadStatus::Mismatch);
            Require(reader.Find(m.name) <= i);
        }
        check.members.push_back(result);
    }
    Require(reader.Verify(members.size()).status == zip::ReadStatus::NoSuchMember);
    return check;
}

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckArchive(data, size);
    return 0;
}

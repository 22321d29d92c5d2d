#include "tests/fuzz/ZipReaderFuzz.h"

#include <algorithm>

namespace {

// The input, read in place.
struct MemoryByteSource final : zip::ByteSource {
    MemoryByteSource(const uint8_t* bytes, size_t count) : data(bytes), size(count) {}
    uint64_t Size() const override { return size; }
    platform::Status ReadAt(uint64_t offset, void* buffer, size_t count) override {
        const bool inside = offset <= size && count <= size - offset;
        std::copy_n(data + (inside ? offset : 0), inside ? count : 0, static_cast<uint8_t*>(buffer));
        return platform::Status::Check(inside, ENODATA, "read");
    }
    const uint8_t* data;
    size_t size;
};

constexpr auto Require = [](bool condition) { return condition ? void() : __builtin_trap(); };

}  // namespace

fuzz::ArchiveCheck fuzz::CheckArchive(const uint8_t* data, size_t size) {
    MemoryByteSource source(data, size);
    zip::ZipReader reader(source);
    ArchiveCheck check{reader.Open(), {}};
    const auto& members = reader.Members();
    // Every failure is explained; nothing is known of an archive that did not open; and every central header
    // takes at least 46 bytes of the input.
    Require(check.open.Ok() == check.open.reason.empty() && (check.open.Ok() || members.empty()) &&
            members.size() <= size / 46);
    for (size_t i = 0; i < members.size(); ++i) {
        const zip::MemberInfo& m = members[i];
        const auto& result = check.members.emplace_back(reader.Verify(i, m.crc32, m.uncompressedSize));
        Require(result.Ok() == result.reason.empty());
        // Data found to have this CRC-32 and size may not pass for any other.
        Require(!result.Ok() ||
                (reader.Verify(i, m.crc32 ^ 1u, m.uncompressedSize).status == zip::ReadStatus::Mismatch &&
                 reader.Verify(i, m.crc32, m.uncompressedSize + 1ull).status == zip::ReadStatus::Mismatch));
    }
    Require(reader.Verify(members.size(), 0, 0).status == zip::ReadStatus::NoSuchMember);
    return check;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckArchive(data, size);
    return 0;
}

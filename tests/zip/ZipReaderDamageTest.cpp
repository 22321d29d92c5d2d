// Damaged input through the fuzz target's own check: every case must come back cleanly and be classified
// as it should. Under the sanitizer build, a read outside the input fails these tests as well.
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/fuzz/ZipReaderFuzz.h"
#include "tests/support/TempDir.h"
#include "tests/zip/ZipCheck.h"

namespace {

using namespace zipcheck;
using A = TestArchive;
using zip::ReadStatus;
constexpr ReadStatus kOk = ReadStatus::Ok, kDamaged = ReadStatus::Damaged, kMismatch = ReadStatus::Mismatch,
                     kUnsupported = ReadStatus::Unsupported, kNotAnArchive = ReadStatus::NotAnArchive;

fuzz::ArchiveCheck Check(const std::string& bytes) {
    // Through the fuzzer's entry point too, so its own checks run on every case.
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return fuzz::CheckArchive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Describe(const fuzz::ArchiveCheck& check) {
    std::string text =
        std::string("open: ") + zip::StatusName(check.open.status) + " (" + check.open.reason + ")";
    for (const auto& member : check.members) {
        text += std::string("; member: ") + zip::StatusName(member.status) + " (" + member.reason + ")";
    }
    return text;
}

bool AllOk(const fuzz::ArchiveCheck& check) {
    return check.open.Ok() && std::all_of(check.members.begin(), check.members.end(),
                                          [](const zip::ReadResult& r) { return r.Ok(); });
}

const std::string kPhoto = PhotoLikeBytes(3000, 11);
const std::string kText = CompressibleBytes(5000);

// A small archive with one member of each method.
A Base() {
    return BuildArchive({{"one.jpg", kText, 8}, {"two.zip", kPhoto, 0}});
}

TEST(Seeds, EverySeedArchiveVerifies) {
    testsupport::TempDir dir;
    const std::string script = std::string(TOVARO_SOURCE_DIR) + "/tests/fuzz/make_seeds.py";
    ASSERT_EQ(testsupport::RunCommand("python3 " + testsupport::ShellQuote(script) + " " +
                                      testsupport::ShellQuote(dir.Path())),
              0);
    const auto names = testsupport::ListNames(dir.Path());
    ASSERT_GE(names.size(), 6u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const auto check = Check(testsupport::ReadFile(dir / name));
        EXPECT_TRUE(AllOk(check)) << Describe(check);
    }
}

using Make = std::function<std::string()>;
// The base archive with one change.
Make D(void (*change)(A&)) {
    return [change] {
        A a = Base();
        change(a);
        return a.bytes;
    };
}
// An archive of other members.
Make M(std::vector<TestMember> members) {
    return [members] { return BuildArchive(members).bytes; };
}

// clang-format off
const struct {
    const char* label;
    Make make;
    ReadStatus open;
    std::vector<ReadStatus> members;  // expected per member when the open succeeds
} kDamage[] = {
    {"intact", D([](A&) {}), kOk, {kOk, kOk}},
    {"no members", M({}), kOk, {}},
    {"empty input", [] { return std::string(); }, kNotAnArchive, {}},
    {"no end record", [] { return std::string(5000, 'x'); }, kNotAnArchive, {}},
    {"end record signature broken", D([](A& a) { a.bytes[a.end] = 'Q'; }), kNotAnArchive, {}},
    {"comment accepted", [] { return BuildArchive({{"a.jpg", kText}}, "PK\x05\x06 note").bytes; },
     kOk, {kOk}},
    {"comment length too long", D([](A& a) { Put16(a.bytes, a.end + 20, 1); }), kDamaged, {}},
    {"garbage after the end record", [] { return Base().bytes + "trailing"; }, kDamaged, {}},
    {"entry count too high", D([](A& a) { Put16(a.bytes, a.end + 10, 3), Put16(a.bytes, a.end + 8, 3); }),
     kDamaged, {}},
    {"entry count 65535 in a small file",
     D([](A& a) { Put16(a.bytes, a.end + 10, 0xFFFF), Put16(a.bytes, a.end + 8, 0xFFFF); }), kDamaged, {}},
    {"entry counts disagree", D([](A& a) { Put16(a.bytes, a.end + 8, 1); }), kUnsupported, {}},
    {"another disk", D([](A& a) { Put16(a.bytes, a.end + 4, 1); }), kUnsupported, {}},
    {"directory size huge", D([](A& a) { Put32(a.bytes, a.end + 12, 0xFFFFFF00); }), kDamaged, {}},
    {"directory offset huge", D([](A& a) { Put32(a.bytes, a.end + 16, 0xFFFFFFF0); }), kDamaged, {}},
    {"directory offset one off", D([](A& a) { Put32(a.bytes, a.end + 16, uint32_t(a.central[0] + 1)); }),
     kDamaged, {}},
    // A Zip64 locator before an end record whose fields defer to it.
    {"Zip64 end record", [] { return std::string(64, '\0') + std::string("PK\x06\x07", 4) +
                                     std::string(16, '\0') + std::string("PK\x05\x06\0\0\0\0", 8) +
                                     std::string(12, '\xFF') + std::string(2, '\0'); },
     kUnsupported, {}},
    {"central signature broken", D([](A& a) { a.bytes[a.central[1]] = 'Q'; }), kDamaged, {}},
    {"name runs past the directory", D([](A& a) { Put16(a.bytes, a.central[1] + 28, 0xFFFF); }),
     kDamaged, {}},
    {"extra runs past the directory", D([](A& a) { Put16(a.bytes, a.central[0] + 30, 500); }), kDamaged, {}},
    {"comment runs past the directory", D([](A& a) { Put16(a.bytes, a.central[1] + 32, 1); }), kDamaged, {}},
    {"local header offset at the central directory",
     D([](A& a) { Put32(a.bytes, a.central[1] + 42, uint32_t(a.central[0])); }), kOk, {kOk, kDamaged}},
    {"local header offset past the file", D([](A& a) { Put32(a.bytes, a.central[0] + 42, 0xFFFFFFFF); }),
     kOk, {kDamaged, kOk}},
    {"two entries share a local header", D([](A& a) { Put32(a.bytes, a.central[1] + 42, 0); }),
     kOk, {kDamaged, kDamaged}},
    {"member data overlaps the next member", D([](A& a) {
         const auto size = uint32_t(a.local[1] - a.data[0] + 10);
         Put32(a.bytes, a.local[0] + 18, size), Put32(a.bytes, a.central[0] + 20, size);
     }), kOk, {kDamaged, kOk}},
    {"compressed size huge", D([](A& a) { Put32(a.bytes, a.central[1] + 20, 0xFFFFFFF0); }),
     kOk, {kOk, kDamaged}},
    {"local signature broken", D([](A& a) { a.bytes[a.local[0] + 1] = 'Q'; }), kOk, {kDamaged, kOk}},
    {"local name differs", D([](A& a) { a.bytes[a.local[1] + 30] = 'T'; }), kOk, {kOk, kDamaged}},
    {"local name runs into the next member", D([](A& a) { Put16(a.bytes, a.local[0] + 26, 0xFFFF); }),
     kOk, {kDamaged, kOk}},
    {"local extra runs past the member data", D([](A& a) { Put16(a.bytes, a.local[1] + 28, 0xFFFF); }),
     kOk, {kOk, kDamaged}},
    {"local CRC differs", D([](A& a) { a.bytes[a.local[0] + 14] ^= 1; }), kOk, {kDamaged, kOk}},
    {"local method differs", D([](A& a) { Put16(a.bytes, a.local[1] + 8, 8); }), kOk, {kOk, kDamaged}},
    {"central CRC differs", D([](A& a) { a.bytes[a.central[0] + 16] ^= 1; }), kOk, {kDamaged, kOk}},
    {"both CRCs differ from the data",
     D([](A& a) { a.bytes[a.local[1] + 14] ^= 1, a.bytes[a.central[1] + 16] ^= 1; }), kOk, {kOk, kMismatch}},
    {"stored byte flipped", D([](A& a) { a.bytes[a.data[1] + 1000] ^= 0x20; }), kOk, {kOk, kMismatch}},
    {"stored sizes differ",
     D([](A& a) { Put32(a.bytes, a.local[1] + 22, 2999), Put32(a.bytes, a.central[1] + 24, 2999); }),
     kOk, {kOk, kDamaged}},
    {"encrypted", M({{"e.jpg", kText, 8, 0x0001}}), kOk, {kUnsupported}},
    {"method 12", M({{"m.jpg", kText, 12}}), kOk, {kUnsupported}},
    {"Zip64 sizes", M({TestMember("z.jpg", kText).RecordedSize(0xFFFFFFFF).CentralExtra(
                          std::string("\x01\x00\x08\x00", 4) + std::string(8, '\0'))}),
     kOk, {kUnsupported}},
    {"data descriptor", M({{"d.jpg", kText, 8, 0x0008}, {"e.zip", kPhoto, 0, 0x0008}}), kOk, {kOk, kOk}},
    {"deflate block of the reserved type",
     M({TestMember("c.jpg", kText).Payload(std::string("\x07\0\0\0", 4))}), kOk, {kDamaged}},
    {"deflate stream that never ends",
     M({TestMember("n.jpg", kText).Payload(Deflate(kText, false))}), kOk, {kDamaged}},
    {"deflate stream shorter than its compressed size",
     M({TestMember("s.jpg", kText).Payload(Deflate(kText) + "junk")}), kOk, {kDamaged}},
    {"deflate stream cut by its compressed size",
     M({TestMember("t.jpg", kText).Payload(Deflate(kText).substr(0, 20))}), kOk, {kDamaged}},
    {"empty deflated member without any block", M({TestMember("e.jpg", "").Payload("")}),
     kOk, {kDamaged}},
    {"data longer than the recorded size",
     M({TestMember("l.jpg", std::string(500000, 'a')).RecordedSize(1000)}), kOk, {kMismatch}},
    {"data shorter than the recorded size", M({TestMember("l.jpg", kText).RecordedSize(1u << 30)}),
     kOk, {kMismatch}},
};
// clang-format on

TEST(Damage, EachCaseIsClassified) {
    for (const auto& c : kDamage) {
        SCOPED_TRACE(c.label);
        const auto check = Check(c.make());
        EXPECT_EQ(check.open.status, c.open) << Describe(check);
        ASSERT_EQ(check.members.size(), c.members.size()) << Describe(check);
        for (size_t i = 0; i < c.members.size(); ++i) {
            EXPECT_EQ(check.members[i].status, c.members[i]) << "member " << i << ": " << Describe(check);
        }
    }
}

// Cut at the end, the archive loses its end record or the record no longer fits the end of the file; cut at
// the front, every offset it records is wrong.
TEST(Damage, CutAtEveryOffset) {
    const std::string bytes = Base().bytes;
    for (size_t at = 1; at < bytes.size(); ++at) {
        SCOPED_TRACE(at);
        const auto front = Check(bytes.substr(0, at));
        EXPECT_TRUE(front.open.status == kNotAnArchive || front.open.status == kDamaged) << Describe(front);
        const auto back = Check(bytes.substr(at));
        EXPECT_FALSE(AllOk(back)) << Describe(back);
    }
}

// Flipping any byte that says where a member is, what it is called, how it is stored or what its data is
// must make something fail; only fields that describe the data without taking part in reading it may
// change unnoticed.
TEST(Damage, FlippedBytesNeverPassUnnoticed) {
    const A base = Base();
    std::vector<bool> ignorable(base.bytes.size(), false);
    auto ignore = [&](size_t at, size_t count) { std::fill_n(ignorable.begin() + long(at), count, true); };
    for (size_t i = 0; i < 2; ++i) {
        ignore(base.local[i] + 4, 2);     // version needed
        ignore(base.local[i] + 10, 4);    // time and date
        ignore(base.central[i] + 4, 4);   // versions
        ignore(base.central[i] + 12, 4);  // time and date
        ignore(base.central[i] + 36, 6);  // internal and external attributes
    }
    for (size_t at = 0; at < base.bytes.size(); ++at) {
        std::string bytes = base.bytes;
        bytes[at] = static_cast<char>(bytes[at] ^ 0xFF);
        const auto check = Check(bytes);
        if (!ignorable[at]) {
            EXPECT_FALSE(AllOk(check)) << "byte " << at << " flipped: " << Describe(check);
        }
    }
}

}  // namespace

// Damaged input through the fuzz target's own check: every case must come back cleanly and be classified
// as it should. Under the sanitizer build, a read outside the input fails these tests as well.
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/fuzz/ZipReaderFuzz.h"
#include "tests/support/TempDir.h"
#include "tests/zip/TestArchive.h"

namespace {

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::ShellQuote;
using testsupport::TempDir;
using zip::ReadStatus;
using ziptest::Put16;
using ziptest::Put32;
using ziptest::TestArchive;
using ziptest::TestMember;

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

const std::string kPhoto = ziptest::NoiseBytes(3000, 11);
const std::string kText = [] {
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text += "line " + std::to_string(i) + " of a caption\n";
    }
    return text;
}();

// A small archive with one member of each method.
TestArchive Base() {
    return ziptest::BuildArchive({{"one.jpg", kText, 8}, {"two.zip", kPhoto, 0}});
}

TEST(Seeds, EverySeedArchiveVerifies) {
    TempDir dir;
    const std::string script = std::string(TOVARO_SOURCE_DIR) + "/tests/fuzz/make_seeds.py";
    ASSERT_EQ(RunCommand("python3 " + ShellQuote(script) + " " + ShellQuote(dir.Path())), 0);
    const auto names = testsupport::ListNames(dir.Path());
    ASSERT_GE(names.size(), 6u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const auto check = Check(ReadFile(dir / name));
        EXPECT_TRUE(AllOk(check)) << Describe(check);
    }
}

struct DamageCase {
    const char* label;
    std::function<std::string()> make;
    ReadStatus open;
    std::vector<ReadStatus> members;  // expected per member when the open succeeds
};

std::string Damage(const std::function<void(TestArchive&)>& change) {
    TestArchive archive = Base();
    change(archive);
    return archive.bytes;
}

std::string Build(std::vector<TestMember> members, const std::function<void(TestArchive&)>& change = {}) {
    TestArchive archive = ziptest::BuildArchive(members);
    if (change) {
        change(archive);
    }
    return archive.bytes;
}

constexpr ReadStatus kOk = ReadStatus::Ok;
constexpr ReadStatus kDamaged = ReadStatus::Damaged;
constexpr ReadStatus kMismatch = ReadStatus::Mismatch;
constexpr ReadStatus kUnsupported = ReadStatus::Unsupported;
constexpr ReadStatus kNotAnArchive = ReadStatus::NotAnArchive;

std::vector<DamageCase> DamageCases() {
    return {
        {"intact", [] { return Base().bytes; }, kOk, {kOk, kOk}},
        {"empty input", [] { return std::string(); }, kNotAnArchive, {}},
        {"no end record", [] { return std::string(5000, 'x'); }, kNotAnArchive, {}},
        {"end record signature broken",
         [] { return Damage([](TestArchive& a) { a.bytes[a.end] = 'Q'; }); },
         kNotAnArchive,
         {}},
        {"comment accepted",
         [] {
             return ziptest::BuildArchive({{"a.jpg", kText, 8}}, "PK\x05\x06 note").bytes;
         },
         kOk,
         {kOk}},
        {"comment length too long",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.end + 20, 1); }); },
         kDamaged,
         {}},
        {"garbage after the end record", [] { return Base().bytes + "trailing"; }, kDamaged, {}},
        {"entry count too high",
         [] {
             return Damage(
                 [](TestArchive& a) { Put16(a.bytes, a.end + 10, 3), Put16(a.bytes, a.end + 8, 3); });
         },
         kDamaged,
         {}},
        {"entry count 65535 in a small file",
         [] {
             return Damage([](TestArchive& a) {
                 Put16(a.bytes, a.end + 10, 0xFFFF), Put16(a.bytes, a.end + 8, 0xFFFF);
             });
         },
         kDamaged,
         {}},
        {"entry counts disagree",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.end + 8, 1); }); },
         kUnsupported,
         {}},
        {"another disk",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.end + 4, 1); }); },
         kUnsupported,
         {}},
        {"directory size huge",
         [] { return Damage([](TestArchive& a) { Put32(a.bytes, a.end + 12, 0xFFFFFF00); }); },
         kDamaged,
         {}},
        {"directory offset huge",
         [] { return Damage([](TestArchive& a) { Put32(a.bytes, a.end + 16, 0xFFFFFFF0); }); },
         kDamaged,
         {}},
        {"directory offset one off",
         [] {
             return Damage(
                 [](TestArchive& a) { Put32(a.bytes, a.end + 16, static_cast<uint32_t>(a.central[0] + 1)); });
         },
         kDamaged,
         {}},
        {"Zip64 end record",
         [] {
             // A Zip64 locator before an end record whose fields defer to it.
             std::string locator("PK\x06\x07", 4);
             locator += std::string(16, '\0');
             std::string end("PK\x05\x06", 4);
             end += std::string(4, '\0') + std::string(4, '\xFF') + std::string(8, '\xFF') +
                    std::string(2, '\0');
             return std::string(64, '\0') + locator + end;
         },
         kUnsupported,
         {}},
        {"central signature broken",
         [] { return Damage([](TestArchive& a) { a.bytes[a.central[1]] = 'Q'; }); },
         kDamaged,
         {}},
        {"name runs past the directory",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.central[1] + 28, 0xFFFF); }); },
         kDamaged,
         {}},
        {"extra field runs past the directory",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.central[0] + 30, 500); }); },
         kDamaged,
         {}},
        {"comment runs past the directory",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.central[1] + 32, 1); }); },
         kDamaged,
         {}},
        {"local header offset at the central directory",
         [] {
             return Damage([](TestArchive& a) {
                 Put32(a.bytes, a.central[1] + 42, static_cast<uint32_t>(a.central[0]));
             });
         },
         kOk,
         {kOk, kDamaged}},
        {"local header offset past the file",
         [] { return Damage([](TestArchive& a) { Put32(a.bytes, a.central[0] + 42, 0xFFFFFFFF); }); },
         kOk,
         {kDamaged, kOk}},
        {"two entries share a local header",
         [] { return Damage([](TestArchive& a) { Put32(a.bytes, a.central[1] + 42, 0); }); },
         kOk,
         {kDamaged, kDamaged}},
        {"member data overlaps the next member",
         [] {
             return Damage([](TestArchive& a) {
                 const uint32_t size = static_cast<uint32_t>(a.local[1] - a.data[0] + 10);
                 Put32(a.bytes, a.local[0] + 18, size);
                 Put32(a.bytes, a.central[0] + 20, size);
             });
         },
         kOk,
         {kDamaged, kOk}},
        {"compressed size huge",
         [] { return Damage([](TestArchive& a) { Put32(a.bytes, a.central[1] + 20, 0xFFFFFFF0); }); },
         kOk,
         {kOk, kDamaged}},
        {"local signature broken",
         [] { return Damage([](TestArchive& a) { a.bytes[a.local[0] + 1] = 'Q'; }); },
         kOk,
         {kDamaged, kOk}},
        {"local name differs",
         [] { return Damage([](TestArchive& a) { a.bytes[a.local[1] + 30] = 'T'; }); },
         kOk,
         {kOk, kDamaged}},
        {"local name runs into the next member",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.local[0] + 26, 0xFFFF); }); },
         kOk,
         {kDamaged, kOk}},
        {"local extra runs past the member data",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.local[1] + 28, 0xFFFF); }); },
         kOk,
         {kOk, kDamaged}},
        {"local CRC differs",
         [] { return Damage([](TestArchive& a) { a.bytes[a.local[0] + 14] ^= 1; }); },
         kOk,
         {kDamaged, kOk}},
        {"local method differs",
         [] { return Damage([](TestArchive& a) { Put16(a.bytes, a.local[1] + 8, 8); }); },
         kOk,
         {kOk, kDamaged}},
        {"central CRC differs",
         [] { return Damage([](TestArchive& a) { a.bytes[a.central[0] + 16] ^= 1; }); },
         kOk,
         {kDamaged, kOk}},
        {"both CRCs differ from the data",
         [] {
             return Damage([](TestArchive& a) {
                 a.bytes[a.local[1] + 14] ^= 1;
                 a.bytes[a.central[1] + 16] ^= 1;
             });
         },
         kOk,
         {kOk, kMismatch}},
        {"stored byte flipped",
         [] { return Damage([](TestArchive& a) { a.bytes[a.data[1] + 1000] ^= 0x20; }); },
         kOk,
         {kOk, kMismatch}},
        {"stored sizes differ",
         [] {
             return Damage([](TestArchive& a) {
                 Put32(a.bytes, a.local[1] + 22, 2999);
                 Put32(a.bytes, a.central[1] + 24, 2999);
             });
         },
         kOk,
         {kOk, kDamaged}},
        {"encrypted",
         [] {
             return Build({{"e.jpg", kText, 8, 0x0001}});
         },
         kOk,
         {kUnsupported}},
        {"method 12",
         [] {
             return Build({{"m.jpg", kText, 12}});
         },
         kOk,
         {kUnsupported}},
        {"Zip64 sizes",
         [] {
             TestMember m{"z.jpg", kText, 8};
             m.recordedSize = 0xFFFFFFFF;
             m.centralExtra = std::string("\x01\x00\x08\x00", 4) + std::string(8, '\0');
             return Build({m});
         },
         kOk,
         {kUnsupported}},
        {"data descriptor",
         [] {
             return Build({{"d.jpg", kText, 8, 0x0008}, {"e.zip", kPhoto, 0, 0x0008}});
         },
         kOk,
         {kOk, kOk}},
        {"corrupt deflate data",
         [] {
             TestMember m{"c.jpg", kText, 8};
             m.payload = std::string("\x07\x00\x00\x00", 4);  // a final block of the reserved type
             return Build({m});
         },
         kOk,
         {kDamaged}},
        {"deflate stream that never ends",
         [] {
             TestMember m{"n.jpg", kText, 8};
             m.payload = ziptest::DeflateWithoutEnd(kText);
             return Build({m});
         },
         kOk,
         {kDamaged}},
        {"deflate stream shorter than its compressed size",
         [] {
             TestMember m{"s.jpg", kText, 8};
             m.payload = ziptest::Deflate(kText) + "junk";
             return Build({m});
         },
         kOk,
         {kDamaged}},
        {"deflate stream cut by its compressed size",
         [] {
             TestMember m{"t.jpg", kText, 8};
             const std::string full = ziptest::Deflate(kText);
             m.payload = full.substr(0, full.size() / 2);
             return Build({m});
         },
         kOk,
         {kDamaged}},
        {"empty deflated member without any block",
         [] {
             TestMember m{"e.jpg", "", 8};
             m.payload = "";
             return Build({m});
         },
         kOk,
         {kDamaged}},
        {"data longer than the recorded size",
         [] {
             TestMember m{"l.jpg", std::string(500000, 'a'), 8};
             m.recordedSize = 1000;
             return Build({m});
         },
         kOk,
         {kMismatch}},
        {"data shorter than the recorded size",
         [] {
             TestMember m{"l.jpg", kText, 8};
             m.recordedSize = 1u << 30;
             return Build({m});
         },
         kOk,
         {kMismatch}},
    };
}

TEST(Damage, EachCaseIsClassified) {
    for (const DamageCase& c : DamageCases()) {
        SCOPED_TRACE(c.label);
        const auto check = Check(c.make());
        EXPECT_EQ(check.open.status, c.open) << Describe(check);
        ASSERT_EQ(check.members.size(), c.members.size()) << Describe(check);
        for (size_t i = 0; i < c.members.size(); ++i) {
            EXPECT_EQ(check.members[i].status, c.members[i]) << "member " << i << ": " << Describe(check);
        }
    }
}

// An archive cut anywhere loses its end record, or the record no longer fits the end of the file.
TEST(Damage, TruncatedAtEveryOffset) {
    const std::string bytes = Base().bytes;
    for (size_t length = 0; length < bytes.size(); ++length) {
        SCOPED_TRACE(length);
        const auto check = Check(bytes.substr(0, length));
        EXPECT_TRUE(check.open.status == kNotAnArchive || check.open.status == kDamaged) << Describe(check);
    }
}

// With bytes missing in front, every offset the archive records is wrong.
TEST(Damage, CutAtTheFrontAtEveryOffset) {
    const std::string bytes = Base().bytes;
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        const auto check = Check(bytes.substr(cut));
        EXPECT_FALSE(AllOk(check)) << Describe(check);
    }
}

// Flipping any byte that says where a member is, what it is called, how it is stored or what its data is
// must make something fail; only fields that describe the data without taking part in reading it may
// change unnoticed.
TEST(Damage, FlippedBytesNeverPassUnnoticed) {
    const TestArchive base = Base();
    std::vector<bool> ignorable(base.bytes.size(), false);
    auto ignore = [&](size_t at, size_t count) { std::fill_n(ignorable.begin() + at, count, true); };
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

// The ZIP layer end to end: golden bytes; every kind of member through ZipWriter::AddFile and through the
// CompressorPool, read back by readers we did not write and checked on several threads; every failure of a
// member; the 32-bit limits; and the reader over archives of other writers, every cut and every flipped byte
// of ours (through the fuzz target's check), and direct reads across its window.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "platform/Sys.h"
#include "tests/fuzz/ZipReaderFuzz.h"
#include "tests/support/TempDir.h"
#include "zip/CompressorPool.h"
#include "zip/ZipReader.h"

namespace zip {
void PrintTo(ZipStatus status, std::ostream* os) {
    *os << ZipStatusName(status);
}
}  // namespace zip

using namespace testsupport;
using zip::ZipStatus;

namespace {

constexpr ZipStatus kOk = ZipStatus::Ok, kWrite = ZipStatus::WriteFailed, kOpen = ZipStatus::CannotOpenFile;
// Name in the archive, and the file that holds the member's bytes.
using Members = std::vector<std::pair<std::string, std::string>>;

uint32_t Crc32(const std::string& bytes) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// `size` bytes of noise that does not compress, as the data of a JPEG.
std::string PhotoLikeBytes(size_t size, uint32_t seed) {
    std::independent_bits_engine<std::mt19937, 8, unsigned> noise(seed);
    std::string bytes(size, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(noise()); });
    return bytes;
}

// Python's zipfile finds every member whole, and exactly `members` in order; `unzip -tq` passes too. Empty
// when so, else what went wrong.
std::string CheckWithReaders(const std::string& archive, const Members& members) {
    // The expected members go through a file of NUL-separated fields: there may be tens of thousands.
    static const char* kScript = R"(
import sys, zipfile
fields, z = open(sys.argv[2], 'rb').read().split(b'\0')[:-1], zipfile.ZipFile(sys.argv[1])
names = [i.orig_filename.encode('cp437') for i in z.infolist()]
assert z.testzip() is None and names == fields[0::2], names[:5]
assert all(z.read(i) == open(f, 'rb').read() for i, f in zip(z.infolist(), fields[1::2])), 'contents differ'
)";
    std::string listing, output;
    for (const auto& [name, source] : members) {
        listing += name + '\0' + source + '\0';
    }
    WriteFile(archive + ".expected", listing);
    const std::string args = ShellQuote(archive) + " " + ShellQuote(archive + ".expected") + " 2>&1";
    if (RunCommand("python3 -c " + ShellQuote(kScript) + " " + args, &output) != 0) {
        return "python zipfile: " + output;
    }
    ::unlink((archive + ".expected").c_str());
    const int status = RunCommand("unzip -tq " + ShellQuote(archive) + " 2>&1", &output);
    return status == 0 ? "" : "unzip -t: " + output;
}

// A source whose times no read changes (its access time lies ahead), so that archives of it are alike.
void WriteSource(const std::string& path, const std::string& contents, mode_t mode = 0644) {
    WriteFile(path, contents);
    const timespec times[2] = {{1893456000, 0}, {1700000000, 0}};
    ASSERT_EQ(::chmod(path.c_str(), mode) | ::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The call of the chosen kind numbered g_failAt fails; a write puts out half its bytes first, and every later
// write fails too (the disk is full). statx also gives the birth time of the golden archive.
enum Call { kNone, kWrites, kSeeks, kReads };
Call g_call = kNone;
int g_failAt = 0, g_calls = 0;
int Count(Call call) {
    return call == g_call ? ++g_calls : -1;
}

platform::SysCalls Faulty(Call call, int failAt) {
    g_call = call, g_failAt = failAt, g_calls = 0;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
        const int n = Count(kWrites);
        return n < g_failAt    ? ::write(fd, buffer, count)
               : n == g_failAt ? ::write(fd, buffer, count / 2)
                               : (errno = ENOSPC, -1);
    };
    calls.lseek = [](int fd, off_t offset, int whence) -> off_t {
        return Count(kSeeks) == g_failAt ? (errno = EIO, -1) : ::lseek(fd, offset, whence);
    };
    calls.read = [](int fd, void* buffer, size_t count) -> ssize_t {
        return Count(kReads) == g_failAt ? (errno = EIO, -1) : ::read(fd, buffer, count);
    };
    calls.statx = [](int dirfd, const char* path, int flags, unsigned mask, struct statx* out) {
        const int result = ::statx(dirfd, path, flags, mask, out);
        out->stx_btime = {1583020798, 0, 0};  // 2020-02-29 23:59:58 UTC: Linux cannot set a birth time
        out->stx_mask |= STATX_BTIME;
        return result;
    };
    return calls;
}

// Bytes from hex digits; spaces only separate fields.
std::string Hex(const std::string& digits) {
    std::string bytes;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (digits[i] != ' ') {
            bytes += static_cast<char>(std::stoi(digits.substr(i++, 2), nullptr, 16));
        }
    }
    return bytes;
}

TEST(ZipGolden, TheEmptyArchiveAndAnEmptySourceNamedAJpg) {
    TempDir dir;
    EXPECT_EQ(zip::ZipWriter::Create(dir / "empty.zip").Close(), kOk);
    EXPECT_EQ(ReadFile(dir / "empty.zip"), Hex("504B0506 0000 0000 0000 0000 00000000 00000000 0000"));
    ::setenv("TZ", "EST5", 1);  // DOS stamps are local time: five hours behind UTC here, all year
    ::tzset();
    WriteSource(dir / "a.jpg", "");
    platform::ScopedSysCalls birthTime(Faulty(kNone, 0));
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    ASSERT_EQ(writer.AddFile("a.jpg", dir / "a.jpg"), kOk);
    ASSERT_EQ(writer.Close(), kOk);
    EXPECT_EQ(
        ReadFile(dir / "a.zip"),
        // Local header: signature, version 2.0, flags (deflated at a high level), deflated, DOS time
        // 17:13:20 and date 2023-11-14, CRC-32, compressed size 2, size 0, name length 5, extra length 17.
        Hex("504B0304 1400 0200 0800 AA89 6E57 00000000 02000000 00000000 0500 1100") + "a.jpg" +
            // Extended timestamp: modified 2023-11-14 22:13:20, accessed 2030-01-01, created.
            Hex("5554 0D00 07 00F15365 80D8DB70 FEFA5A5E") +
            // Member data at 52: an empty final block with fixed codes.
            Hex("0300") +
            // Central header at 54: made by, then as the local header, extra length 9, no comment, disk
            // 0, internal attributes, external ones (archive, regular file, owner read and write), local
            // header at 0.
            Hex("504B0102 170B 1400 0200 0800 AA89 6E57 00000000 02000000 00000000 0500 0900 0000 0000 "
                "0000 2000 8081 00000000") +
            "a.jpg" + Hex("5554 0500 07 00F15365") +
            // End record at 114: one entry on this disk and in all, directory of 60 bytes at 54.
            Hex("504B0506 0000 0000 0100 0100 3C000000 36000000 0000"));
}

// Every kind of member: name, name as stored, contents, mode of its file (0: the source is the archive being
// written, which is refused), and the method and attributes recorded for it.
const struct Kind {
    std::string name, stored, contents;
    mode_t mode;
    uint16_t method;
    uint32_t attributes;
} kKinds[] = {
    {"empty.jpg", "empty.jpg", "", 0644, 8, 0x81800020},
    {"itself.jpg", "", "", 0, 8, 0},
    // Backslashes become slashes, nothing else changes; too large for the pools below to hold: streamed.
    {"E:\\DCIM\\..\\IMG -1.jpg", "E:/DCIM/../IMG -1.jpg", PhotoLikeBytes(5 << 20, 1), 0644, 8, 0x81800020},
    // Read-only; held in three chunks; the suffix of the whole name counts.
    {"photo.zip.jpg", "photo.zip.jpg", PhotoLikeBytes((2 << 20) + 16384, 2), 0444, 8, 0x81000021},
    {".hidden.tar.GZ", ".hidden.tar.GZ", PhotoLikeBytes(70000, 3), 0466, 0, 0x81000023},
    // A DOS-style header whose newer header, at 0x80, is a PE one.
    {"setup.exe", "setup.exe", "MZ" + std::string(58, '\0') + "\x80" + std::string(67, '\0') + "PE", 0755, 8,
     0x81C00020},
};

// The file of kKinds[i], named as its member's last component (which gives the hidden attribute).
std::string SourceOf(const TempDir& dir, size_t i) {
    return dir / kKinds[i].stored.substr(kKinds[i].stored.rfind('/') + 1);
}

// The files of kKinds into `archive`: one AddFile each when `workers` is 0, else through a pool of that many
// workers that holds members of up to 4 MiB. The outcomes as they were reported.
std::vector<zip::CompressorPool::Outcome> WriteKinds(const TempDir& dir, const std::string& archive,
                                                     unsigned workers) {
    std::vector<zip::CompressorPool::Outcome> outcomes;
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    zip::CompressorPool pool(
        writer, [&](const auto& outcome) { outcomes.push_back(outcome); }, workers, 4 << 20);
    for (size_t i = 0; i < std::size(kKinds); ++i) {
        const std::string source = kKinds[i].mode == 0 ? archive : SourceOf(dir, i);
        if (workers > 0) {
            pool.Submit(kKinds[i].name, platform::File::OpenRegularForReading(source));
        } else {
            outcomes.push_back({i, kOk, {}});
            outcomes.back().status = writer.AddFile(kKinds[i].name, source, &outcomes.back().recorded);
        }
    }
    pool.Finish();
    EXPECT_EQ(writer.Close(), kOk);
    return outcomes;
}

// One folder through AddFile and through pools of 1 and 4 workers gives one archive, byte for byte, that
// readers we did not write read back whole; each member is reported in order with what it holds.
TEST(ZipWriter, EveryKindOfMemberThroughAddFileAndThroughThePool) {
    TempDir dir;
    Members members;
    std::vector<zip::MemberCheck> checks;  // for the check on several threads
    for (size_t i = 0; i < std::size(kKinds); ++i) {
        if (kKinds[i].mode != 0) {
            WriteSource(SourceOf(dir, i), kKinds[i].contents, kKinds[i].mode);
            members.push_back({kKinds[i].stored, SourceOf(dir, i)});
            checks.push_back({checks.size(), Crc32(kKinds[i].contents), kKinds[i].contents.size()});
        }
    }
    for (const unsigned workers : {0u, 1u, 4u}) {
        const std::string archive = dir / ("workers" + std::to_string(workers) + ".zip");
        const std::vector<zip::CompressorPool::Outcome> outcomes = WriteKinds(dir, archive, workers);
        ASSERT_EQ(outcomes.size(), std::size(kKinds));
        for (size_t i = 0; i < outcomes.size(); ++i) {
            const Kind& k = kKinds[i];
            const zip::ZipEntry& e = outcomes[i].recorded;
            EXPECT_EQ(
                std::tie(outcomes[i].sequence, outcomes[i].status, e.name, e.method, e.externalAttributes,
                         e.crc32, e.uncompressedSize),
                std::make_tuple(i, k.mode ? kOk : kOpen, k.stored, k.method, k.attributes,
                                k.mode ? Crc32(k.contents) : 0u, k.mode ? uint32_t(k.contents.size()) : 0u))
                << k.name << " with " << workers << " workers";
        }
        EXPECT_EQ(CheckWithReaders(archive, members), "") << workers << " workers";
        EXPECT_TRUE(ReadFile(archive) == ReadFile(dir / "workers0.zip")) << workers << " workers";
    }
    // Read back on three threads, each through a source of its own, as the archive pass checks it.
    const zip::SourceMaker open = [&] {
        return std::make_unique<zip::FileByteSource>(*zip::FileByteSource::Open(dir / "workers4.zip"));
    };
    const auto source = open();
    zip::ZipReader reader(*source);
    ASSERT_TRUE(reader.Open().Ok());
    checks[0].size = 1;  // not what the archive holds
    const auto results = reader.VerifyAll(checks, open, 3);
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].status, i == 0 ? zip::ReadStatus::Mismatch : zip::ReadStatus::Ok)
            << results[i].reason;
    }
}

// How the member between two that are added fails.
enum class Way { Added, Pooled, LinkToTheArchive };
struct FailureCase {
    const char* what;
    Way way;
    const char* file;  // the failing member's source
    Call call;
    int failAt;
    ZipStatus want;  // SeekFailed latches: later members come back AlreadyFailed
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.what;
}

using enum Way;
// Counted for a source of 1000 bytes: write 1 is its local header, 2 its data, 3 the header's rewrite; seek 1
// goes back to the header; read 1 takes the data.
const FailureCase kFailures[] = {
    {"local header cut short", Added, "failing.jpg", kWrites, 1, kWrite},
    {"deflated data cut short", Added, "failing.jpg", kWrites, 2, kWrite},
    {"stored data cut short", Added, "failing.zip", kWrites, 2, kWrite},
    {"local header rewrite cut short", Added, "failing.jpg", kWrites, 3, kWrite},
    {"no way back to the local header", Added, "failing.jpg", kSeeks, 1, ZipStatus::SeekFailed},
    {"source read fails part-way", Added, "failing.jpg", kReads, 2, kWrite},
    {"missing source", Added, "missing.jpg", kNone, 0, kOpen},
    {"source is a link to the archive", LinkToTheArchive, "link.jpg", kNone, 0, kOpen},
    {"pooled data cut short", Pooled, "failing.jpg", kWrites, 2, kWrite},
    {"pooled source read fails", Pooled, "failing.jpg", kReads, 1, kWrite},
};

class ZipWriterFailure : public ::testing::TestWithParam<FailureCase> {};

// The archive comes out byte for byte as if the failing member had never been tried.
TEST_P(ZipWriterFailure, LeavesTheArchiveAsItWas) {
    const FailureCase& c = GetParam();
    const bool latches = c.want == ZipStatus::SeekFailed;
    TempDir dir;
    const std::string before = dir / "before.jpg", after = dir / "after.jpg";
    WriteSource(before, std::string(3000, 'b'));
    WriteSource(after, PhotoLikeBytes(50000, 8));
    WriteSource(dir / "failing.jpg", PhotoLikeBytes(1000, 9));
    WriteSource(dir / "failing.zip", PhotoLikeBytes(1000, 9));
    const auto write = [&](const std::string& archive, bool withTheFailing) {
        zip::ZipWriter writer = zip::ZipWriter::Create(archive);
        EXPECT_EQ(writer.AddFile(before, before), kOk);
        if (withTheFailing) {
            EXPECT_TRUE(c.way != LinkToTheArchive || ::link(archive.c_str(), (dir / c.file).c_str()) == 0);
            platform::ScopedSysCalls seam(Faulty(c.call, c.failAt));
            if (c.way == Pooled) {
                zip::CompressorPool pool(
                    writer, [&](const auto& o) { EXPECT_EQ(o.status, c.want); }, 1);
                pool.Submit(dir / c.file, platform::File::OpenRegularForReading(dir / c.file));
                pool.Finish();
            } else {
                EXPECT_EQ(writer.AddFile(dir / c.file, dir / c.file), c.want);
            }
        }
        if (!latches || withTheFailing) {
            EXPECT_EQ(writer.AddFile(after, after), latches ? ZipStatus::AlreadyFailed : kOk);
        }
        EXPECT_EQ(writer.Close(), kOk);
        return ReadFile(archive);
    };
    EXPECT_TRUE(write(dir / "a.zip", true) == write(dir / "without.zip", false));
}

INSTANTIATE_TEST_SUITE_P(Cases, ZipWriterFailure, ::testing::ValuesIn(kFailures));

// The test hook starts the archive near 4 GiB, after a hole, so the limits take no gigabytes of disk.
TEST(ZipWriter, AnArchiveMayReachButNotPass4GiB) {
    TempDir dir;
    WriteSource(dir / "m.zip", PhotoLikeBytes(1000, 12));
    const uint64_t lastStart = 0xFFFFFFFF - (30 + 5 + 17 + 1000 + 46 + 5 + 9 + 22);
    for (const uint64_t start : {lastStart + 1, lastStart}) {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        ASSERT_TRUE(writer.StartAtOffsetForTesting(start));
        EXPECT_EQ(writer.AddFile("m.zip", dir / "m.zip"), start == lastStart ? kOk : ZipStatus::TooLarge);
        ASSERT_EQ(writer.Close(), kOk);
        EXPECT_EQ(std::filesystem::file_size(dir / "a.zip"), start == lastStart ? 0xFFFFFFFF : start + 22);
    }
    EXPECT_EQ(CheckWithReaders(dir / "a.zip", {{"m.zip", dir / "m.zip"}}), "");
    // 4 GiB less one byte is the mark of 64-bit records; 5 GiB would pass for 1 GiB in 32 bits.
    for (const uint64_t size : {uint64_t{0xFFFFFFFF}, uint64_t{5} << 30}) {
        std::filesystem::resize_file(dir / "m.zip", size);
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "b.zip");
        EXPECT_EQ(writer.AddFile("m.jpg", dir / "m.zip"), ZipStatus::TooLarge) << size;
    }
}

TEST(ZipWriter, The65536thMemberIsRefused) {
    TempDir dir;
    WriteSource(dir / "e.gz", "");
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    for (int i = 0; i < 65535; ++i) {
        ASSERT_EQ(writer.AddFile("e.gz", dir / "e.gz"), kOk) << i;
    }
    EXPECT_EQ(writer.AddFile("e.gz", dir / "e.gz"), ZipStatus::TooLarge);
    ASSERT_EQ(writer.Close(), kOk);
    EXPECT_EQ(CheckWithReaders(dir / "a.zip", Members(65535, {"e.gz", dir / "e.gz"})), "");
}

bool AllOk(const std::string& bytes) {
    const auto check = fuzz::CheckArchive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return check.open.Ok() && std::all_of(check.members.begin(), check.members.end(),
                                          [](const zip::ReadResult& r) { return r.Ok(); });
}

TEST(ZipReader, EveryMemberOfTwoOtherWritersArchivesVerifies) {
    TempDir dir;
    const std::string makeSeeds = "python3 '" TOVARO_SOURCE_DIR "/tests/fuzz/make_seeds.py' ";
    ASSERT_EQ(RunCommand(makeSeeds + ShellQuote(dir.Path())), 0);
    ASSERT_EQ(ListNames(dir.Path()), (std::vector<std::string>{"infozip-streamed.zip", "python.zip"}));
    for (const std::string& name : ListNames(dir.Path())) {
        EXPECT_TRUE(AllOk(ReadFile(dir / name))) << name;
    }
}

// Cut anywhere, an archive fails to open (the front part) or fails somewhere (the back part). A flipped byte
// fails something unless its field describes the data without taking part in reading it.
TEST(ZipReader, EveryCutAndEveryFlippedByteIsNoticed) {
    TempDir dir;
    WriteFile(dir / "one.zip", PhotoLikeBytes(3000, 1));
    WriteFile(dir / "two.jpg", std::string(5000, 't'));
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    ASSERT_EQ(writer.AddFile("one.zip", dir / "one.zip"), zip::ZipStatus::Ok);
    ASSERT_EQ(writer.AddFile("two.jpg", dir / "two.jpg"), zip::ZipStatus::Ok);
    ASSERT_EQ(writer.Close(), zip::ZipStatus::Ok);
    const std::string base = ReadFile(dir / "a.zip");
    ASSERT_TRUE(AllOk(base));
    std::vector<bool> ignorable(base.size());
    const auto ignore = [&](size_t at, size_t count) {
        std::fill_n(ignorable.begin() + long(at), count, true);
    };
    const size_t central = base.size() - 22 - 2 * 62;  // two central headers, then the end record
    for (const size_t local : {size_t{0}, size_t{3054}}) {
        ignore(local + 4, 2), ignore(local + 10, 4), ignore(local + 37, 17);  // version, time and date, times
    }
    for (const size_t header : {central, central + 62}) {
        ignore(header + 4, 4), ignore(header + 12, 4), ignore(header + 36, 6);  // versions, time, attributes
        ignore(header + 53, 9);                                                 // the time of its extra field
    }
    for (size_t at = 0; at < base.size(); ++at) {
        EXPECT_FALSE(AllOk(base.substr(0, at)) || AllOk(base.substr(at + 1))) << "cut at " << at;
        std::string flipped = base;
        flipped[at] = static_cast<char>(flipped[at] ^ 0xFF);
        EXPECT_TRUE(ignorable[at] || !AllOk(flipped)) << "byte " << at << " flipped";
    }
}

// A direct source reads through an aligned window of 4 MiB: reads that leave it, go back before it or span
// several must still give the file's bytes.
TEST(ZipReader, DirectReadsAcrossTheWindow) {
    TempDir dir;
    const std::string bytes = PhotoLikeBytes((9 << 20) + 123, 5);
    WriteFile(dir / "big", bytes);
    auto source = zip::DirectFileByteSource::Open(dir / "big");
    if (!source && errno == EINVAL) {
        GTEST_SKIP() << "no direct reads on the file system of " << dir.Path();
    }
    ASSERT_TRUE(source);
    const size_t reads[][2] = {{(4 << 20) - 10, 20}, {10, (8 << 20) + 5}, {bytes.size() - 5, 5}, {4095, 2}};
    for (const auto& [offset, count] : reads) {
        std::string got(count, '\0');
        EXPECT_TRUE(source->ReadAt(offset, got.data(), count) && got == bytes.substr(offset, count))
            << offset;
    }
}

}  // namespace

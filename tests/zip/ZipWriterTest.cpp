// ZipWriter and CompressorPool end to end: golden bytes, every kind of member through AddFile and through the
// pool, read back by readers we did not write, every failure of a member, and the 32-bit limits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/Sys.h"
#include "tests/zip/ZipCheck.h"
#include "zip/CompressorPool.h"
#include "zip/ZipReader.h"

using namespace testsupport;
using namespace zipcheck;
using zip::ZipStatus;

namespace {

constexpr ZipStatus kOk = ZipStatus::Ok, kWrite = ZipStatus::WriteFailed, kOpen = ZipStatus::CannotOpenFile;
using Outcomes = std::vector<zip::CompressorPool::Outcome>;

// A source whose times no read changes (its access time lies ahead), so that archives of it are alike.
void WriteSource(const std::string& path, const std::string& contents, mode_t mode = 0644,
                 time_t modified = 1700000000) {
    WriteFile(path, contents);
    const timespec times[2] = {{1893456000, 0}, {modified, 0}};
    ASSERT_EQ(::chmod(path.c_str(), mode) | ::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The call of the chosen kind numbered g_failAt fails; a write puts out half its bytes first, and every later
// write fails too (the disk is full). statx also gives the birth time of the golden archive.
enum Call { kNone, kWrites, kSeeks, kReads, kStatx };
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
        const int result =
            Count(kStatx) == g_failAt ? (errno = EIO, -1) : ::statx(dirfd, path, flags, mask, out);
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
    WriteSource(dir / "a.jpg", "", 0644, 1623760496);
    {
        platform::ScopedSysCalls seam(Faulty(kNone, 0));
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        ASSERT_EQ(writer.AddFile("a.jpg", dir / "a.jpg"), kOk);
        ASSERT_EQ(writer.Close(), kOk);
    }
    EXPECT_EQ(
        ReadFile(dir / "a.zip"),
        // Local header: signature, version 2.0, flags (deflated at a high level), deflated, DOS time
        // 07:34:56 and date 2021-06-15, CRC-32, compressed size 2, size 0, name length 5, extra length 17.
        Hex("504B0304 1400 0200 0800 5C3C CF52 00000000 02000000 00000000 0500 1100") + "a.jpg" +
            // Extended timestamp: modified 2021-06-15 12:34:56, accessed 2030-01-01, created.
            Hex("5554 0D00 07 709EC860 80D8DB70 FEFA5A5E") +
            // Member data at 52: an empty final block with fixed codes.
            Hex("0300") +
            // Central header at 54: made by, then as the local header, extra length 9, no comment, disk
            // 0, internal attributes, external ones (archive, regular file, owner read and write), local
            // header at 0.
            Hex("504B0102 170B 1400 0200 0800 5C3C CF52 00000000 02000000 00000000 0500 0900 0000 0000 "
                "0000 2000 8081 00000000") +
            "a.jpg" + Hex("5554 0500 07 709EC860") +
            // End record at 114: one entry on this disk and in all, directory of 60 bytes at 54.
            Hex("504B0506 0000 0000 0100 0100 3C000000 36000000 0000"));
    EXPECT_EQ(CheckWithReaders(dir / "a.zip", {{"a.jpg", dir / "a.jpg"}}), "");
}

// A DOS-style header that names `signature` as the newer header's.
std::string Program(const char* signature) {
    std::string bytes = "MZ" + std::string(198, '\0');
    bytes[0x3C] = '\x80';
    return bytes.replace(0x80, 2, signature);
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
    {"E:\\DCIM\\..\\IMG -1.jpg", "E:/DCIM/../IMG -1.jpg", PhotoLikeBytes(5 << 20, 1), 0644, 8, 0x81800020},
    {"photo.zip.jpg", "photo.zip.jpg", PhotoLikeBytes(16384, 2), 0444, 8, 0x81000021},
    {".hidden.tar.GZ", ".hidden.tar.GZ", PhotoLikeBytes(70000, 3), 0466, 0, 0x81000023},
    {"setup.exe", "setup.exe", Program("PE"), 0755, 8, 0x81C00020},
    {"unknown.exe", "unknown.exe", Program("XY"), 0644, 8, 0x81800020},
    {"notes.txt", "notes.txt", std::string(300000, 'n'), 0600, 8, 0x81800020},
};

// The file of kKinds[i], named as its member's last component (which gives the hidden attribute).
std::string SourceOf(const TempDir& dir, size_t i) {
    return dir / (std::to_string(i) + "/" + kKinds[i].stored.substr(kKinds[i].stored.rfind('/') + 1));
}

// The files of kKinds into `archive`: one AddFile each when `workers` is 0, else through a pool of that many
// workers that holds members of up to 1 MiB. The outcomes as they were reported.
Outcomes WriteKinds(const TempDir& dir, const std::string& archive, unsigned workers) {
    Outcomes outcomes;
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    zip::CompressorPool pool(
        writer, [&](const auto& outcome) { outcomes.push_back(outcome); }, workers, 1 << 20);
    for (size_t i = 0; i < std::size(kKinds); ++i) {
        const std::string source = kKinds[i].mode == 0 ? archive : SourceOf(dir, i);
        if (workers > 0) {
            pool.Submit(kKinds[i].name, zip::ZipWriter::OpenSource(source));
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
    for (size_t i = 0; i < std::size(kKinds); ++i) {
        if (kKinds[i].mode != 0) {
            MakeFolder(dir / std::to_string(i));
            WriteSource(SourceOf(dir, i), kKinds[i].contents, kKinds[i].mode);
            members.push_back({kKinds[i].stored, SourceOf(dir, i)});
        }
    }
    for (const unsigned workers : {0u, 1u, 4u}) {
        const std::string archive = dir / ("workers" + std::to_string(workers) + ".zip");
        const Outcomes outcomes = WriteKinds(dir, archive, workers);
        ASSERT_EQ(outcomes.size(), std::size(kKinds));
        for (size_t i = 0; i < outcomes.size(); ++i) {
            const Kind& k = kKinds[i];
            const zip::ZipEntry& e = outcomes[i].recorded;
            EXPECT_EQ(outcomes[i].sequence, i);
            EXPECT_EQ(outcomes[i].status, k.mode == 0 ? kOpen : kOk) << k.name;
            EXPECT_EQ(std::tie(e.name, e.method, e.externalAttributes, e.crc32, e.uncompressedSize),
                      std::make_tuple(k.stored, k.method, k.attributes, k.mode ? Crc32(k.contents) : 0u,
                                      k.mode ? uint32_t(k.contents.size()) : 0u))
                << k.name << " with " << workers << " workers";
        }
        EXPECT_EQ(CheckWithReaders(archive, members), "") << workers << " workers";
        EXPECT_TRUE(ReadFile(archive) == ReadFile(dir / "workers0.zip")) << workers << " workers";
    }
    // Read back on three threads, each through a source of its own, as the archive pass checks it.
    auto source = zip::FileByteSource::Open(dir / "workers4.zip");
    zip::ZipReader reader(*source);
    ASSERT_TRUE(reader.Open().Ok());
    std::vector<zip::MemberCheck> checks;
    for (const auto& member : members) {
        const std::string contents = ReadFile(member.second);
        checks.push_back({checks.size(), Crc32(contents), contents.size()});
    }
    checks[0].size = 1;  // not what the archive holds
    const auto results = reader.VerifyAll(
        checks,
        [&] {
            return std::make_unique<zip::FileByteSource>(*zip::FileByteSource::Open(dir / "workers4.zip"));
        },
        3);
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].status, i == 0 ? zip::ReadStatus::Mismatch : zip::ReadStatus::Ok)
            << results[i].reason;
    }
}

// How the member between two that are added fails.
enum class Way { Deflated, Stored, Pooled, Cancelled, NoCompressor, Missing, LinkToTheArchive, EmptyName };
struct FailureCase {
    const char* what;
    Way way;
    Call call;
    int failAt;
    ZipStatus want;
    bool latches = false;  // later members come back AlreadyFailed
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.what;
}
void* NoMemory(void*, unsigned, unsigned) {
    return nullptr;
}

using enum Way;
// Counted for a source of 1000 bytes: write 1 is its local header, 2 its data, 3 the header's rewrite; seek 1
// goes back to the header; read 1 takes the data.
const FailureCase kFailures[] = {
    {"local header cut short", Deflated, kWrites, 1, kWrite},
    {"deflated data cut short", Deflated, kWrites, 2, kWrite},
    {"stored data cut short", Stored, kWrites, 2, kWrite},
    {"local header rewrite cut short", Deflated, kWrites, 3, kWrite},
    {"no way back to the local header", Deflated, kSeeks, 1, ZipStatus::SeekFailed, true},
    {"source read fails part-way", Deflated, kReads, 2, kWrite},
    {"source information unreadable", Deflated, kStatx, 1, kOpen},
    {"compressor cannot start", NoCompressor, kNone, 0, kWrite},
    {"missing source", Missing, kNone, 0, kOpen},
    {"source is a link to the archive", LinkToTheArchive, kNone, 0, kOpen},
    {"empty name", EmptyName, kNone, 0, ZipStatus::BadArguments},
    {"pooled data cut short", Pooled, kWrites, 2, kWrite},
    {"pooled source read fails", Pooled, kReads, 1, kWrite},
    {"pool cancelled before it started", Cancelled, kNone, 0, ZipStatus::Cancelled},
};

class ZipWriterFailure : public ::testing::TestWithParam<FailureCase> {};

// The archive comes out byte for byte as if the failing member had never been tried.
TEST_P(ZipWriterFailure, LeavesTheArchiveAsItWas) {
    const FailureCase& c = GetParam();
    TempDir dir;
    const std::string before = dir / "before.jpg", after = dir / "after.jpg";
    const std::string source = dir / (c.way == Stored ? "failing.zip" : "failing.jpg");
    WriteSource(before, std::string(3000, 'b'));
    WriteSource(after, PhotoLikeBytes(50000, 8));
    if (c.way != Missing && c.way != LinkToTheArchive) {
        WriteSource(source, PhotoLikeBytes(1000, 9));
    }
    const auto write = [&](const std::string& archive, bool withTheFailing) {
        zip::ZipWriter writer = zip::ZipWriter::Create(archive);
        EXPECT_EQ(writer.AddFile(before, before), kOk);
        if (withTheFailing) {
            EXPECT_TRUE(c.way != LinkToTheArchive || ::link(archive.c_str(), source.c_str()) == 0);
            platform::ScopedSysCalls seam(Faulty(c.call, c.failAt));
            zip::ZipWriter::SetCompressorAllocatorForTesting(c.way == NoCompressor ? NoMemory : nullptr,
                                                             nullptr);
            if (c.way == Pooled || c.way == Cancelled) {
                zip::CompressorPool pool(
                    writer, [&](const auto& o) { EXPECT_EQ(o.status, c.want); }, 1);
                if (c.way == Cancelled) {
                    pool.Cancel();
                }
                pool.Submit(source, zip::ZipWriter::OpenSource(source));
                pool.Finish();
            } else {
                EXPECT_EQ(writer.AddFile(c.way == EmptyName ? "" : source, source), c.want);
            }
            zip::ZipWriter::SetCompressorAllocatorForTesting(nullptr, nullptr);
        }
        if (!c.latches || withTheFailing) {
            EXPECT_EQ(writer.AddFile(after, after), c.latches ? ZipStatus::AlreadyFailed : kOk);
        }
        EXPECT_EQ(writer.Close(), kOk);
        return ReadFile(archive);
    };
    EXPECT_TRUE(write(dir / "a.zip", true) == write(dir / "without.zip", false));
    EXPECT_EQ(CheckWithReaders(dir / "a.zip", {{before, before}, {after, after}}).empty(), !c.latches);
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

}  // namespace

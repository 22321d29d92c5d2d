// The ZIP layer end to end: golden bytes; every kind of member through ZipWriter::AddFile and through the
// CompressorPool, read back by readers we did not write and checked on several threads; every failure of a
// member; the 32-bit limits; and the reader over archives of other writers, every cut and every flipped byte
// of ours (through the fuzz target's check), and direct reads across its window.
#include <gtest/gtest.h>
#include <unistd.h>
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

namespace {

using namespace testsupport;

constexpr ZipStatus kOk = ZipStatus::Ok, kWrite = ZipStatus::WriteFailed, kOpen = ZipStatus::CannotOpenFile;
// Name in the archive, and the file that holds the member's bytes.
using Members = std::vector<std::pair<std::string, std::string>>;

// `size` bytes of noise that does not compress, as most of a JPEG's data is; but the second and the fourth
// MiB compress a little, and the fourth begins with the end of the second, one MiB of noise away.
std::string PhotoLikeBytes(size_t size, uint32_t seed) {
    std::independent_bits_engine<std::mt19937, 8, unsigned> noise(seed);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        const size_t mebibyte = i >> 20;
        bytes[i] = static_cast<char>(mebibyte % 2 == 0 || mebibyte > 3       ? noise()
                                     : mebibyte == 3 && (i & 0xFFFFF) < 4096 ? bytes[i - (1 << 20) - 4096]
                                                                             : noise() % 200);
    }
    return bytes;
}

// Python's zipfile finds every member whole, and exactly `members` in order; `unzip -tq` passes too. Empty
// when so, else what went wrong. The expected members go beside the archive, in a file of NUL-separated
// fields: there may be tens of thousands.
std::string CheckWithReaders(const std::string& archive, const Members& members) {
    static const char* kScript = R"(import sys, zipfile
fields, z = open(sys.argv[1] + '.expected', 'rb').read().split(b'\0')[:-1], zipfile.ZipFile(sys.argv[1])
names = [i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437') for i in z.infolist()]
assert z.testzip() is None and names == fields[0::2]
assert all(z.read(i) == open(f, 'rb').read() for i, f in zip(z.infolist(), fields[1::2])))";
    std::string listing, output;
    for (const auto& [name, source] : members) {
        listing += name + '\0' + source + '\0';
    }
    WriteFile(archive + ".expected", listing);
    const std::string args = " " + ShellQuote(archive) + " 2>&1";
    const std::string command = "python3 -c " + ShellQuote(kScript) + args + " && unzip -tq" + args;
    return RunCommand(command, &output) == 0 ? "" : output;
}

// A source whose times no read changes (its access time lies ahead), so that archives of it are alike.
void WriteSource(const std::string& path, const std::string& contents, mode_t mode = 0644) {
    WriteFile(path, contents);
    const timespec times[2] = {{1893456000, 0}, {1700000000, 0}};
    ASSERT_EQ(::chmod(path.c_str(), mode) | ::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The call of the chosen kind numbered g_failAt fails; a write puts out half its bytes first, and every later
// write fails too (the disk is full). statx also gives the birth time of the golden archive.
enum Call { kNone, kWrites, kSeeks, kReads };
int g_call = kNone, g_failAt = 0, g_calls = 0;

platform::SysCalls Faulty(Call call, int failAt) {
    g_call = call, g_failAt = failAt, g_calls = 0;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
        const int n = g_call == kWrites ? ++g_calls : -1;
        return n > g_failAt ? (errno = ENOSPC, -1) : ::write(fd, buffer, n == g_failAt ? count / 2 : count);
    };
    calls.lseek = [](int fd, off_t offset, int whence) -> off_t {
        return g_call == kSeeks && ++g_calls == g_failAt ? (errno = EIO, -1) : ::lseek(fd, offset, whence);
    };
    calls.read = [](int fd, void* buffer, size_t count) -> ssize_t {
        return g_call == kReads && ++g_calls == g_failAt ? (errno = EIO, -1) : ::read(fd, buffer, count);
    };
    calls.statx = [](int dirfd, const char* path, int flags, unsigned mask, struct statx* out) {
        const int result = ::statx(dirfd, path, flags, mask, out);
        // 2020-02-29 23:59:58 UTC: Linux cannot set a birth time.
        out->stx_btime = {1583020798, 0, 0}, out->stx_mask |= STATX_BTIME;
        return result;
    };
    return calls;
}

// Bytes from hex digits; spaces only separate fields.
std::string Hex(std::string digits) {
    std::erase(digits, ' ');
    std::string bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// (The archive without members: the archive pass's test.)
TEST(ZipGolden, AnEmptySourceNamedAJpg) {
    TempDir dir;
    ::setenv("TZ", "EST5", 1);  // DOS stamps are local time: five hours behind UTC here, all year
    ::tzset();
    WriteSource(dir / "a.jpg", "");
    platform::ScopedSysCalls birthTime(Faulty(kNone, 0));
    ZipWriter writer = ZipWriter::Create(dir / "a.zip");
    ASSERT_EQ(writer.AddFile("a.jpg", dir / "a.jpg"), kOk);
    ASSERT_EQ(writer.Close(), kOk);
    // Local header: signature, version 2.0, flags (deflated at a high level), deflated, DOS time 17:13:20 and
    // date 2023-11-14, CRC-32, compressed size 2, size 0, name length 5, extra length 17; the extended
    // timestamp: modified 2023-11-14 22:13:20, accessed 2030-01-01, created. The member data at 52: an empty
    // final block with fixed codes. The central header at 54: made by, then as the local header, extra length
    // 9, no comment, disk 0, internal attributes, external ones (archive, regular file, owner read and
    // write), local header at 0; its timestamp. The end record at 114: one entry on this disk and in all,
    // directory of 60 bytes at 54.
    EXPECT_EQ(ReadFile(dir / "a.zip"),
              Hex("504B0304 1400 0200 0800 AA89 6E57 00000000 02000000 00000000 0500 1100") + "a.jpg" +
                  Hex("5554 0D00 07 00F15365 80D8DB70 FEFA5A5E 0300 504B0102 170B 1400 0200 0800 AA89 6E57 "
                      "00000000 02000000 00000000 0500 0900 0000 0000 0000 2000 8081 00000000") +
                  "a.jpg" + Hex("5554 0500 07 00F15365 504B0506 0000 0000 0100 0100 3C000000 36000000 0000"));
}

// Every kind of member: name (also of its source file, whose last component gives the hidden attribute),
// contents, mode of its file, the method, flags and attributes recorded for it, and the name as stored where
// that differs.
const struct Kind {
    std::string name, contents;
    unsigned mode, method, flags, attributes;
    std::string stored = name;
} kKinds[] = {
    // A UTF-8 name that is not plain ASCII says so; bytes that are no UTF-8 do not.
    {"M\xC3\xBCller.jpg", "", 0644, 8, 0x0802, 0x81800020},
    {"M\xFCller.jpg", "noise", 0644, 8, 0x0002, 0x81800020},
    // Backslashes become slashes, nothing else changes; cut into blocks of which the last ends exactly at the
    // end of the file.
    {"E:\\DCIM\\..\\IMG -1.jpg", PhotoLikeBytes(8 << 20, 1), 0644, 8, 2, 0x81800020, "E:/DCIM/../IMG -1.jpg"},
    // Read-only; three blocks, the last one short; the suffix of the whole name counts.
    {"photo.zip.jpg", PhotoLikeBytes((9 << 20) + 16384, 2), 0444, 8, 2, 0x81000021},
    {".hidden.tar.GZ", PhotoLikeBytes(70000, 3), 0466, 0, 0, 0x81000023},
    // Its first block's data ends 1 byte past a multiple of 16 KiB: where the room left decided how a flush
    // was marked, the writer's 16 KiB buffer and the pool's 1 MiB chunks gave two different streams.
    {"flush.jpg", PhotoLikeBytes(306076, 10) + std::string((4 << 20) + 1 - 306076, 'x'), 0644, 8, 2,
     0x81800020},
};

// In each mode, one folder through AddFile and through pools of 1 and 4 workers gives one archive, byte for
// byte, that readers we did not write read back whole; each member is reported in order with what it holds.
TEST(ZipWriter, EveryKindOfMemberThroughAddFileAndThroughThePool) {
    TempDir dir;
    Members members;
    for (const Kind& k : kKinds) {
        WriteSource(dir / k.name, k.contents, k.mode);
        members.push_back({k.stored, dir / k.name});
    }
    for (const Compression mode : {Compression::Standard, Compression::Fast}) {
        std::string first;
        for (const unsigned workers : {0u, 1u, 4u}) {
            SCOPED_TRACE(testing::Message() << "mode " << int(mode) << ", workers " << workers);
            const std::string archive = dir / "a.zip";
            std::vector<CompressorPool::Outcome> outcomes;
            ZipWriter writer = ZipWriter::Create(archive);
            writer.SetCompression(mode);
            CompressorPool pool(
                writer, [&](const auto& o) { outcomes.push_back(o); }, workers);
            for (size_t i = 0; i < std::size(kKinds); ++i) {
                if (workers > 0) {
                    pool.Submit(kKinds[i].name, *platform::File::OpenRegularForReading(members[i].second));
                } else {
                    auto& added = outcomes.emplace_back(CompressorPool::Outcome{i, kOk, {}, {}});
                    added.status = writer.AddFile(kKinds[i].name, members[i].second, &added.recorded);
                }
            }
            pool.Finish();
            ASSERT_EQ(writer.Close(), kOk);
            ASSERT_EQ(outcomes.size(), std::size(kKinds));
            for (size_t i = 0; i < outcomes.size(); ++i) {
                const auto& [sequence, status, e, error] = outcomes[i];
                const Kind& k = kKinds[i];
                EXPECT_EQ(std::tie(sequence, status, e.name, e.method, e.flags, e.externalAttributes),
                          std::tie(i, kOk, k.stored, k.method, k.flags, k.attributes));
            }
            first = workers == 0 ? ReadFile(archive) : first;
            EXPECT_TRUE(ReadFile(archive) == first);
            EXPECT_EQ(CheckWithReaders(archive, members), "");
            const std::string quoted = ShellQuote(archive);  // and two more readers test every member
            EXPECT_EQ(RunCommand("7zz t -bso0 -bsp0 " + quoted + " && bsdtar -xOf " + quoted + " >/dev/null"),
                      0);
        }
    }
}

// How the member between two that are added fails, in each mode, with the system's error beside the status;
// the archive comes out byte for byte as if it had never been tried. Counted for a source of 1000 bytes:
// write 1 is its local header, 2 its data, 3 the header's rewrite; seek 1 goes back to the header; read 1
// takes the data (the test whether it is a program reads at an offset: no read). link.jpg is a link to the
// archive.
TEST(ZipWriter, AFailingMemberLeavesTheArchiveAsItWas) {
    // The failing member's source, whether it goes through the pool, the call that fails and which one, the
    // status, the call and the errno reported. SeekFailed latches: later members come back AlreadyFailed.
    const std::tuple<const char*, bool, Call, int, ZipStatus, const char*, int> cases[] = {
        {"failing.jpg", false, kWrites, 1, kWrite, "write", ENOSPC},  // the local header cut short
        {"failing.jpg", false, kWrites, 2, kWrite, "write", ENOSPC},  // the deflated data
        {"failing.zip", false, kWrites, 2, kWrite, "write", ENOSPC},  // the stored data
        {"failing.jpg", false, kWrites, 3, kWrite, "write", ENOSPC},  // the header's rewrite
        {"failing.jpg", false, kSeeks, 1, ZipStatus::SeekFailed, "lseek", EIO},
        {"failing.jpg", false, kReads, 1, kWrite, "read", EIO},  // the source, part-way
        {"missing.jpg", false, kNone, 0, kOpen, "open", ENOENT},
        {"link.jpg", false, kNone, 0, kOpen, "-", 0},  // a link to the archive
        {"failing.jpg", true, kWrites, 2, kWrite, "write", ENOSPC},
    };
    for (const auto& [file, pooled, call, failAt, want, failed, errorNumber] : cases) {
        for (const Compression mode : {Compression::Standard, Compression::Fast}) {
            SCOPED_TRACE(testing::Message() << file << pooled << call << failAt);
            const bool latches = want == ZipStatus::SeekFailed;
            TempDir dir;
            const std::string before = dir / "before.jpg", after = dir / "after.jpg", source = dir / file;
            WriteSource(before, std::string(3000, 'b'));
            WriteSource(after, PhotoLikeBytes(50000, 8));
            for (const char* failing : {"failing.jpg", "failing.zip"}) {
                WriteSource(dir / failing, PhotoLikeBytes(1000, 9));
            }
            const auto write = [&](const std::string& archive, bool withTheFailing) {
                ZipWriter writer = ZipWriter::Create(archive);
                writer.SetCompression(mode);
                EXPECT_EQ(writer.AddFile(before, before), kOk);
                if (withTheFailing) {
                    EXPECT_EQ(::link(archive.c_str(), (dir / "link.jpg").c_str()), 0);
                    platform::ScopedSysCalls seam(Faulty(call, failAt));
                    SystemError error;
                    ZipStatus status = kOk;
                    if (pooled) {
                        CompressorPool pool(
                            writer, [&](const auto& o) { error = o.error, status = o.status; }, 1);
                        pool.Submit(source, *platform::File::OpenRegularForReading(source));
                        pool.Finish();
                    } else {
                        status = writer.AddFile(source, source);
                        error = writer.LastError();
                    }
                    EXPECT_EQ(std::tuple(status, std::string(error.call ? error.call : "-"), error.error),
                              std::tuple(want, failed, errorNumber));
                }
                if (!latches || withTheFailing) {
                    EXPECT_EQ(writer.AddFile(after, after), latches ? ZipStatus::AlreadyFailed : kOk);
                }
                EXPECT_EQ(writer.Close(), kOk);
                return ReadFile(archive);
            };
            EXPECT_TRUE(write(dir / "a.zip", true) == write(dir / "without.zip", false));
        }
    }
}

// The 32-bit records: an archive may reach but not pass 4 GiB (the test hook starts it near there, after a
// hole, so that takes no gigabytes of disk), and it holds at most 65,535 members.
TEST(ZipWriter, TheLimitsOf32BitRecords) {
    TempDir dir;
    WriteSource(dir / "m.zip", PhotoLikeBytes(1000, 12));
    const uint64_t lastStart = 0xFFFFFFFF - (30 + 5 + 17 + 1000 + 46 + 5 + 9 + 22);
    for (const uint64_t start : {lastStart + 1, lastStart}) {
        ZipWriter writer = ZipWriter::Create(dir / "a.zip");
        ASSERT_TRUE(writer.StartAtOffsetForTesting(start));
        EXPECT_EQ(writer.AddFile("m.zip", dir / "m.zip"), start == lastStart ? kOk : ZipStatus::TooLarge);
        ASSERT_EQ(writer.Close(), kOk);
        EXPECT_EQ(std::filesystem::file_size(dir / "a.zip"), start == lastStart ? 0xFFFFFFFF : start + 22);
    }
    EXPECT_EQ(CheckWithReaders(dir / "a.zip", {{"m.zip", dir / "m.zip"}}), "");
    // 4 GiB less one byte is the mark of 64-bit records; 5 GiB would pass for 1 GiB in 32 bits.
    ZipWriter writer = ZipWriter::Create(dir / "c.zip");
    for (const uint64_t size : {uint64_t{0xFFFFFFFF}, uint64_t{5} << 30}) {
        std::filesystem::resize_file(dir / "m.zip", size);
        EXPECT_EQ(writer.AddFile("m.jpg", dir / "m.zip"), ZipStatus::TooLarge) << size;
    }
    WriteSource(dir / "e.gz", "");
    for (int i = 0; i < 65535; ++i) {
        ASSERT_EQ(writer.AddFile("e.gz", dir / "e.gz"), kOk) << i;
    }
    EXPECT_EQ(writer.AddFile("e.gz", dir / "e.gz"), ZipStatus::TooLarge);
    ASSERT_EQ(writer.Close(), kOk);
    EXPECT_EQ(CheckWithReaders(dir / "c.zip", Members(65535, {"e.gz", dir / "e.gz"})), "");
}

bool AllOk(const std::string& bytes) {
    const auto check = fuzz::CheckArchive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return check.open.Ok() && std::ranges::all_of(check.members, &ReadResult::Ok);
}

// Whole archives verify, ours in both modes and two other writers' (streamed members with data descriptors; a
// comment that holds an end record's signature). Cut anywhere, ours fails to open (the front part) or fails
// somewhere (the back part); a flipped byte fails something unless its field describes the data without
// taking part in reading it.
TEST(ZipReader, WholeArchivesVerifyAndEveryCutAndFlippedByteIsNoticed) {
    TempDir dir;
    ASSERT_EQ(
        RunCommand("python3 '" TOVARO_SOURCE_DIR "/tests/fuzz/make_seeds.py' " + ShellQuote(dir.Path())), 0);
    EXPECT_TRUE(AllOk(ReadFile(dir / "python.zip")) && AllOk(ReadFile(dir / "infozip-streamed.zip")));
    WriteFile(dir / "one.zip", PhotoLikeBytes(3000, 1));
    WriteFile(dir / "two.jpg", std::string(5000, 't'));
    for (const Compression mode : {Compression::Standard, Compression::Fast}) {
        ZipWriter writer = ZipWriter::Create(dir / "a.zip");
        writer.SetCompression(mode);
        ASSERT_EQ(writer.AddFile("one.zip", dir / "one.zip"), kOk);
        ASSERT_EQ(writer.AddFile("two.jpg", dir / "two.jpg"), kOk);
        ASSERT_EQ(writer.Close(), kOk);
        const std::string base = ReadFile(dir / "a.zip");
        ASSERT_TRUE(AllOk(base));
        std::vector<bool> ignorable(base.size());
        const auto ignore = [&](size_t at, size_t n) { std::fill_n(ignorable.begin() + long(at), n, true); };
        const size_t central = base.size() - 22 - 2 * 62;  // two central headers, then the end record
        // In each member's local header (at 0 and 3054): version, time and date, the times of its extra
        // field; in its central header: versions, time, attributes, the time of its extra field.
        for (const size_t m : {0, 1}) {
            const size_t local = m * 3054, header = central + m * 62;
            ignore(local + 4, 2), ignore(local + 10, 4), ignore(local + 37, 17);
            ignore(header + 4, 4), ignore(header + 12, 4), ignore(header + 36, 6), ignore(header + 53, 9);
        }
        for (size_t at = 0; at < base.size(); ++at) {
            EXPECT_FALSE(AllOk(base.substr(0, at)) || AllOk(base.substr(at + 1))) << at;
            std::string flipped = base;
            flipped[at] = static_cast<char>(~flipped[at]);
            EXPECT_TRUE(ignorable[at] || !AllOk(flipped)) << at;
        }
    }
}

// A direct source reads through an aligned window of 4 MiB: reads that leave it, go back before it or span
// several must still give the file's bytes.
TEST(ZipReader, DirectReadsAcrossTheWindow) {
    TempDir dir;
    const std::string bytes = PhotoLikeBytes((9 << 20) + 123, 5);
    WriteFile(dir / "big", bytes);
    auto source = DirectFileByteSource::Open(dir / "big");
    ASSERT_TRUE(source || errno == EINVAL);
    if (!source) {
        GTEST_SKIP() << "no direct reads in " << dir.Path();
    }
    const size_t reads[][2] = {{(4 << 20) - 10, 20}, {10, (8 << 20) + 5}, {bytes.size() - 5, 5}, {4095, 2}};
    for (const auto& [at, count] : reads) {
        std::string got(count, '\0');
        EXPECT_TRUE(source->ReadAt(at, got.data(), count) && got == bytes.substr(at, count)) << at;
    }
}

}  // namespace
}  // namespace zip

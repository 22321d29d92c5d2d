// ZipWriter end to end: archives checked by readers we did not write, every failure status, the 32-bit
// limits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/Sys.h"
#include "tests/support/TempDir.h"
#include "tests/zip/ZipCheck.h"
#include "zip/ZipWriter.h"

using namespace testsupport;
using namespace zipcheck;
using zip::ZipStatus;

namespace {

// Faults injected through the system-call table.
struct Faults {
    int failWriteAt = 0;          // this write puts out half its bytes, and every later one fails (disk full)
    int failWritesAfterSeek = 0;  // every write after this many repositionings fails
    int failSeekAt = 0;           // this repositioning fails...
    bool seeksStayFailed = false;  // ...and so does every later one
    int failReadAt = 0;            // this read fails with EIO
    bool failStatx = false;
    size_t extraAtEnd = 0;  // bytes a source yields after its real end, as if it grew while read
    int writes = 0, seeks = 0, reads = 0, opens = 0;
    bool diskFull = false;
};
Faults g_faults;

platform::SysCalls Faulty(const Faults& faults) {
    g_faults = faults;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
        Faults& f = g_faults;
        ++f.writes;
        if (!f.diskFull &&
            (f.writes == f.failWriteAt || (f.failWritesAfterSeek > 0 && f.seeks >= f.failWritesAfterSeek))) {
            f.diskFull = true;
            if (count > 1) {
                return ::write(fd, buffer, count / 2);
            }
        }
        return f.diskFull ? (errno = ENOSPC, -1) : ::write(fd, buffer, count);
    };
    calls.lseek = [](int fd, off_t offset, int whence) -> off_t {
        Faults& f = g_faults;
        ++f.seeks;
        if (f.failSeekAt > 0 && (f.seeks == f.failSeekAt || (f.seeksStayFailed && f.seeks > f.failSeekAt))) {
            return errno = EIO, -1;
        }
        return ::lseek(fd, offset, whence);
    };
    calls.read = [](int fd, void* buffer, size_t count) -> ssize_t {
        Faults& f = g_faults;
        if (++f.reads == f.failReadAt) {
            return errno = EIO, -1;
        }
        const ssize_t n = ::read(fd, buffer, count);
        if (n == 0 && f.extraAtEnd > 0) {
            const size_t extra = std::min(count, f.extraAtEnd);
            std::memset(buffer, 'x', extra);
            f.extraAtEnd -= extra;
            return static_cast<ssize_t>(extra);
        }
        return n;
    };
    calls.statx = [](int dirfd, const char* path, int flags, unsigned int mask, struct statx* out) {
        return g_faults.failStatx ? (errno = EIO, -1)
                                  : platform::RealSysCalls().statx(dirfd, path, flags, mask, out);
    };
    calls.open = [](const char* path, int flags, mode_t mode) {
        ++g_faults.opens;
        return platform::RealSysCalls().open(path, flags, mode);
    };
    return calls;
}

void SetFixedTimes(const std::string& path) {
    const timespec times[2] = {{1700000000, 0}, {1690000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void MakeSparseFile(const std::string& path, uint64_t size) {
    WriteFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

// Writes an archive of `members` and returns its bytes.
std::string ArchiveOf(const std::string& archive, const std::vector<ExpectedMember>& members) {
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    for (const auto& m : members) {
        SetFixedTimes(m.sourcePath);
        EXPECT_EQ(writer.AddFile(m.name, m.sourcePath), ZipStatus::Ok) << m.name;
    }
    EXPECT_EQ(writer.Close(), ZipStatus::Ok);
    return ReadFile(archive);
}

// The offset of each central header of an archive without a comment.
std::vector<size_t> CentralHeaders(const std::string& a) {
    const size_t end = a.size() - 22;
    EXPECT_EQ(Le32(a, end), 0x06054B50u);
    std::vector<size_t> headers;
    for (size_t i = 0, at = Le32(a, end + 16); i < Le16(a, end + 10); ++i) {
        EXPECT_EQ(Le32(a, at), 0x02014B50u);
        headers.push_back(at);
        at += 46 + Le16(a, at + 28) + Le16(a, at + 30) + Le16(a, at + 32);
    }
    return headers;
}

TEST(ZipWriter, ManyKindsOfMembersReadBackEqualToTheirSources) {
    TempDir dir;
    const struct {
        const char* name;
        std::string contents;
        bool stored;
    } cases[] = {
        {"empty.jpg", "", false},
        {"small.jpg", "a few bytes of a picture", false},
        {"big-photo.jpg", PhotoLikeBytes(5 * 1024 * 1024 + 123, 1), false},
        {"big-text.txt", CompressibleBytes(3 * 1024 * 1024 + 7), false},
        {"exact-buffer.jpg", PhotoLikeBytes(16384, 2), false},
        {"bundle.zip", PhotoLikeBytes(1024 * 1024 + 1, 3), true},
        {"notes.TXT.GZ", CompressibleBytes(40000), true},
        {"empty.tgz", "", true},
        {"small.jpg", "the same name a second time", false},
        // Backslashes become slashes and nothing else changes; the suffix is read after the conversion.
        {"E:\\DCIM\\100MEDIA\\..\\IMG_0001 -41.jpg", "picture", false},
        {"\\leading\\backslash.ZIP", "picture", true},
    };
    std::vector<ExpectedMember> expected;
    std::vector<zip::ZipEntry> recorded(std::size(cases));
    const std::string archive = dir / "out.zip";
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string source = dir / std::to_string(i);
        WriteFile(source, cases[i].contents);
        ASSERT_EQ(writer.AddFile(cases[i].name, source, &recorded[i]), ZipStatus::Ok) << cases[i].name;
        std::string name = cases[i].name;
        std::replace(name.begin(), name.end(), '\\', '/');
        expected.push_back({name, source});
    }
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(CheckWithReaders(archive, expected), "");

    // What AddFile reported is what the archive holds, local and central headers agree, and the members lie
    // end to end.
    const std::string a = ReadFile(archive);
    const std::vector<size_t> central = CentralHeaders(a);
    ASSERT_EQ(central.size(), std::size(cases));
    uint64_t offset = 0, directory = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto& e = recorded[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(e.name, expected[i].name);
        EXPECT_EQ(a.substr(offset + 30, e.name.size()), e.name);
        EXPECT_EQ(e.crc32, Crc32(c.contents));
        EXPECT_EQ(e.uncompressedSize, c.contents.size());
        EXPECT_EQ(e.localHeaderOffset, offset);
        EXPECT_EQ(e.method, c.stored ? 0 : 8);
        EXPECT_EQ(e.flags, c.stored ? 0 : 2);
        if (c.stored) {
            EXPECT_EQ(e.compressedSize, e.uncompressedSize);
            EXPECT_EQ(a.substr(offset + 30 + e.name.size() + 17, c.contents.size()), c.contents);
        }
        const size_t h = central[i];
        EXPECT_EQ(a.substr(offset + 6, 20), a.substr(h + 8, 20));  // flags to uncompressed size
        EXPECT_EQ(Le32(a, h + 16), e.crc32);
        EXPECT_EQ(Le32(a, h + 20), e.compressedSize);
        EXPECT_EQ(Le32(a, h + 24), e.uncompressedSize);
        EXPECT_EQ(Le32(a, h + 42), offset);
        EXPECT_EQ(a.substr(h + 46, e.name.size()), e.name);
        offset += 30 + e.name.size() + 17 + e.compressedSize;
        directory += 46 + e.name.size() + 9;
    }
    EXPECT_EQ(a.size(), offset + directory + 22);
}

TEST(ZipWriter, AttributesOfRealFiles) {
    TempDir dir;
    std::string program(200, '\0');
    program.replace(0, 2, "MZ");
    program[0x3C] = static_cast<char>(0x80);
    const auto withNewHeader = [&](const char* signature) {
        return std::string(program).replace(0x80, 2, signature);
    };
    std::string farOffset = program;
    farOffset[0x3D] = 0x10;  // 0x1080: past the end of the file
    std::string sixtyFour = program.substr(0, 64);
    sixtyFour[0x3C] = 0x10;  // points inside, but the file is no longer than its DOS header
    sixtyFour.replace(0x10, 2, "PE");

    const struct {
        const char* fileName;
        std::string contents;
        mode_t mode;
        uint32_t want;
    } cases[] = {
        {"IMG.jpg", PhotoLikeBytes(5000, 4), 0644, 0x81800020},
        {"RO.jpg", PhotoLikeBytes(5000, 5), 0444, 0x81000021},
        {"others-may-write.jpg", "x", 0466, 0x81000021},
        {".hidden.jpg", "x", 0644, 0x81800022},
        {".hidden-ro.jpg", "x", 0400, 0x81000023},
        {"empty.jpg", "", 0600, 0x81800020},
        {"setup.exe", withNewHeader("PE"), 0644, 0x81C00020},
        {"old.exe", withNewHeader("NE"), 0644, 0x81C00020},
        {"vxd.386", withNewHeader("LE"), 0644, 0x81C00020},
        {"stub.exe", withNewHeader("MZ"), 0644, 0x81C00020},
        {"unknown-header.exe", withNewHeader("XY"), 0644, 0x81800020},
        {"header-beyond-the-end.exe", farOffset, 0644, 0x81800020},
        {"only-a-dos-header.exe", sixtyFour, 0644, 0x81800020},
        {"unix-program", "#!/bin/sh\n" + std::string(100, '#'), 0755, 0x81800020},
    };
    const std::string archive = dir / "attributes.zip";
    std::vector<ExpectedMember> expected;
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    for (const auto& c : cases) {
        const std::string source = dir / c.fileName;
        WriteFile(source, c.contents);
        ASSERT_EQ(::chmod(source.c_str(), c.mode), 0);
        zip::ZipEntry entry;
        ASSERT_EQ(writer.AddFile(c.fileName, source, &entry), ZipStatus::Ok) << c.fileName;
        EXPECT_EQ(entry.externalAttributes, c.want) << c.fileName;
        expected.push_back({c.fileName, source});
    }
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    const std::string a = ReadFile(archive);
    const auto central = CentralHeaders(a);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Le32(a, central[i] + 38), cases[i].want) << cases[i].fileName;
    }
    EXPECT_EQ(CheckWithReaders(archive, expected), "");
}

// A device is archived as a non-regular file dated now; a source that grows while read gives the bytes
// actually read, not the size it had when opened.
TEST(ZipWriter, DevicesAndGrowingFilesGiveTheBytesActuallyRead) {
    TempDir dir;
    const std::string contents = PhotoLikeBytes(300000, 6);
    const std::string source = dir / "IMG.jpg", grown = dir / "grown.jpg";
    WriteFile(source, contents);
    WriteFile(grown, contents + std::string(20000, 'x'));
    const time_t before = ::time(nullptr);
    zip::ZipEntry nothing, growing;
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "s.zip");
    EXPECT_EQ(writer.AddFile("null.jpg", "/dev/null", &nothing), ZipStatus::Ok);
    {
        platform::ScopedSysCalls seam(Faulty({.extraAtEnd = 20000}));
        EXPECT_EQ(writer.AddFile("growing.jpg", source, &growing), ZipStatus::Ok);
    }
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(nothing.uncompressedSize, 0u);
    EXPECT_EQ(nothing.externalAttributes, 0x80000000u);
    EXPECT_EQ(growing.uncompressedSize, 320000u);
    EXPECT_EQ(growing.crc32, Crc32(contents + std::string(20000, 'x')));
    const uint32_t dated = Le32(ReadFile(dir / "s.zip"), 30 + 8 + 5);
    EXPECT_GE(dated, static_cast<uint32_t>(before));
    EXPECT_LE(dated, static_cast<uint32_t>(::time(nullptr)));
    EXPECT_EQ(CheckWithReaders(dir / "s.zip", {{"null.jpg", "/dev/null"}, {"growing.jpg", grown}}), "");
}

TEST(ZipWriter, NoWriterTouchesNoFile) {
    TempDir dir;
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, "picture");
    ZipStatus status = ZipStatus::Ok;
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "missing-folder/ArchivePics.zip", &status);
    EXPECT_EQ(status, ZipStatus::CannotOpenFile);
    EXPECT_FALSE(writer.IsOpen());
    zip::ZipWriter neverCreated;
    platform::ScopedSysCalls seam(Faulty({}));
    for (zip::ZipWriter* w : {&writer, &neverCreated}) {
        EXPECT_EQ(w->AddFile(source, source), ZipStatus::BadArguments);
        EXPECT_EQ(w->Close(), ZipStatus::BadArguments);
        EXPECT_EQ(w->AddFile(source, source), ZipStatus::BadArguments);
    }
    EXPECT_EQ(g_faults.opens, 0);
    EXPECT_EQ(g_faults.writes, 0);
    EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"IMG.jpg"});
}

TEST(ZipWriter, CreateRefusesWhatItMayNotReplaceAndChangesNothing) {
    TempDir dir;
    const struct {
        const char* name;
        std::function<void(const std::string&)> prepare;
    } cases[] = {
        {"missing/a.zip", [](const std::string&) {}},
        {"folder.zip", [](const std::string& p) { MakeFolder(p); }},
        {"read-only.zip", [](const std::string& p) { WriteFile(p, "before"), ::chmod(p.c_str(), 0444); }},
        {"pipe.zip", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }},
    };
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        c.prepare(path);
        const bool existed = Exists(path);
        ZipStatus status = ZipStatus::Ok;
        EXPECT_FALSE(zip::ZipWriter::Create(path, &status).IsOpen()) << c.name;
        EXPECT_EQ(status, ZipStatus::CannotOpenFile) << c.name;
        EXPECT_EQ(Exists(path), existed) << c.name;
    }
    EXPECT_EQ(ReadFile(dir / "read-only.zip"), "before");
}

TEST(ZipWriter, TheArchiveIsLockedWhileTheWriterHasIt) {
    TempDir dir;
    const std::string path = dir / "a.zip";
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, "picture");
    // Another program holds the file locked: refused, and the file keeps its contents.
    WriteFile(path, "someone else's");
    int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(zip::ZipWriter::Create(path).IsOpen());
    EXPECT_EQ(ReadFile(path), "someone else's");
    ::close(other);

    // Our writer holds it: nobody else gets the lock, a second writer is refused, and the first is unharmed.
    zip::ZipWriter writer = zip::ZipWriter::Create(path);
    ASSERT_EQ(writer.AddFile("IMG.jpg", source), ZipStatus::Ok);
    other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_NE(::flock(other, LOCK_SH | LOCK_NB), 0);
    ::close(other);
    ZipStatus second = ZipStatus::Ok;
    EXPECT_FALSE(zip::ZipWriter::Create(path, &second).IsOpen());
    EXPECT_EQ(second, ZipStatus::CannotOpenFile);
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(CheckWithReaders(path, {{"IMG.jpg", source}}), "");
}

TEST(ZipWriter, CreateReplacesAnEarlierFileAndNothingButAlreadyClosedAfterClose) {
    TempDir dir;
    WriteFile(dir / "a.zip", std::string(5000, 'o'));
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(writer.AddFile("a.zip", dir / "a.zip"), ZipStatus::AlreadyClosed);
    EXPECT_EQ(writer.Close(), ZipStatus::AlreadyClosed);
    EXPECT_EQ(ReadFile(dir / "a.zip").size(), 22u);
}

// ---- Failures of one member ----

// What the failing add is given: its source, or a bad name, or a compressor that cannot start.
enum class Kind {
    Deflated,
    Stored,
    Missing,
    Folder,
    TheArchive,
    LinkToTheArchive,
    EmptyName,
    LongName,
    NoCompressor
};
// What the failure leaves: later adds work, later adds return AlreadyFailed, or nothing was written at all.
enum class After { Continues, Latches, WroteNothing };

struct FailureCase {
    const char* what;
    Kind kind;
    Faults faults;
    ZipStatus want;
    After after;
};

void* NoMemory(void*, unsigned, unsigned) {
    return nullptr;
}
void NoFree(void*, void*) {}
// The first repositioning rewinds the probe of the source's first bytes; the second goes back to the header.
constexpr Faults kRewriteFault{.failWritesAfterSeek = 2};
constexpr ZipStatus kWrite = ZipStatus::WriteFailed, kSeek = ZipStatus::SeekFailed,
                    kOpen = ZipStatus::CannotOpenFile, kBad = ZipStatus::BadArguments;
using enum Kind;
using enum After;

// clang-format off
const FailureCase kFailures[] = {
    {"local header cut short", Deflated, {.failWriteAt = 1}, kWrite, Continues},
    {"deflated data cut short", Deflated, {.failWriteAt = 3}, kWrite, Continues},
    {"stored copy cut short", Stored, {.failWriteAt = 2}, kWrite, Continues},
    {"rewrite of the local header fails", Deflated, kRewriteFault, kWrite, Continues},
    {"rewrite of a stored member's header fails", Stored, kRewriteFault, kWrite, Continues},
    {"cannot go back to the local header", Deflated, {.failSeekAt = 2}, kSeek, Latches},
    {"cannot return to the end", Stored, {.failSeekAt = 3}, kSeek, Latches},
    {"source read fails part-way", Deflated, {.failReadAt = 3}, kWrite, Continues},
    {"stored source read fails part-way", Stored, {.failReadAt = 4}, kWrite, Continues},
    {"compressor cannot start", NoCompressor, {}, kWrite, Continues},
    {"source read fails at once", Deflated, {.failReadAt = 1}, kOpen, WroteNothing},
    {"source cannot be rewound", Deflated, {.failSeekAt = 1}, kOpen, WroteNothing},
    {"source information unreadable", Deflated, {.failStatx = true}, kOpen, WroteNothing},
    {"missing source", Missing, {}, kOpen, WroteNothing},
    {"source is a folder", Folder, {}, kOpen, WroteNothing},
    {"source is the archive", TheArchive, {}, kOpen, WroteNothing},
    {"source is a link to the archive", LinkToTheArchive, {}, kOpen, WroteNothing},
    {"empty name", EmptyName, {}, kBad, WroteNothing},
    {"name of 65,536 bytes", LongName, {}, kBad, WroteNothing},
};
// clang-format on

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.what;
}

class ZipMemberFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ZipMemberFailure, LeavesTheArchiveAsIfTheAddHadNotHappened) {
    const FailureCase& c = GetParam();
    TempDir dir;
    const std::string before = dir / "before.jpg", after = dir / "after.jpg", archive = dir / "test.zip";
    WriteFile(before, CompressibleBytes(3000));
    WriteFile(after, PhotoLikeBytes(50000, 8));
    const std::string source =
        c.kind == TheArchive ? archive : dir / (c.kind == Stored ? "failing.zip" : "failing.jpg");
    if (c.kind == Folder) {
        MakeFolder(source);
    } else if (c.kind != Missing && c.kind != TheArchive && c.kind != LinkToTheArchive) {
        WriteFile(source, PhotoLikeBytes(200000, 9));
    }
    SetFixedTimes(before);
    SetFixedTimes(after);
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    ASSERT_TRUE(writer.IsOpen());
    if (c.kind == LinkToTheArchive) {
        ASSERT_EQ(::link(archive.c_str(), source.c_str()), 0);
    }
    ASSERT_EQ(writer.AddFile(before, before), ZipStatus::Ok);
    const std::string bytesBefore = ReadFile(archive);
    {
        platform::ScopedSysCalls seam(Faulty(c.faults));
        if (c.kind == NoCompressor) {
            zip::ZipWriter::SetCompressorAllocatorForTesting(NoMemory, NoFree);
        }
        zip::ZipEntry untouched;
        untouched.name = "untouched";
        const std::string name = c.kind == EmptyName  ? ""
                                 : c.kind == LongName ? std::string(65536, 'n')
                                                      : source;
        EXPECT_EQ(writer.AddFile(name, source, &untouched), c.want);
        EXPECT_EQ(untouched.name, "untouched");
        zip::ZipWriter::SetCompressorAllocatorForTesting(nullptr, nullptr);
    }
    if (c.after == WroteNothing) {
        EXPECT_EQ(ReadFile(archive), bytesBefore) << "a refused member writes nothing";
    }
    EXPECT_EQ(writer.AddFile(after, after), c.after == Latches ? ZipStatus::AlreadyFailed : ZipStatus::Ok);
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);

    // Byte for byte the archive that the successful adds alone make.
    std::vector<ExpectedMember> good = {{before, before}};
    if (c.after != Latches) {
        good.push_back({after, after});
    }
    EXPECT_EQ(ReadFile(archive), ArchiveOf(dir / "reference.zip", good));
    EXPECT_EQ(CheckWithReaders(archive, good), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, ZipMemberFailure, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<FailureCase>& param) {
                             std::string name = param.param.what;
                             std::erase_if(
                                 name, [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); });
                             return name;
                         });

// ---- Failures of the output as a whole ----

TEST(ZipWriter, FailuresOfTheCloseAreReported) {
    TempDir dir;
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, PhotoLikeBytes(1000, 11));
    // Counted from the start of Close: the first central header, the second, the end record.
    for (const int failingWrite : {1, 2, 3}) {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        ASSERT_EQ(writer.AddFile("one.jpg", source), ZipStatus::Ok);
        ASSERT_EQ(writer.AddFile("two.jpg", source), ZipStatus::Ok);
        platform::ScopedSysCalls seam(Faulty({.failWriteAt = failingWrite}));
        EXPECT_EQ(writer.Close(), ZipStatus::WriteFailed) << failingWrite;
        EXPECT_FALSE(writer.IsOpen()) << failingWrite;
    }
    // An output that cannot be repositioned at all.
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    platform::ScopedSysCalls seam(Faulty({.failSeekAt = 2, .seeksStayFailed = true}));
    EXPECT_EQ(writer.AddFile("IMG.jpg", source), ZipStatus::SeekFailed);
    EXPECT_EQ(writer.AddFile("IMG.jpg", source), ZipStatus::AlreadyFailed);
    EXPECT_EQ(writer.Close(), ZipStatus::SeekFailed);
    EXPECT_EQ(writer.Close(), ZipStatus::AlreadyClosed);
}

// ---- The 32-bit limits ----

TEST(ZipWriter, NamesUpToTheFieldsLimitAreWrittenWhole) {
    TempDir dir;
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, "picture");
    const std::string longest = "folder\\" + std::string(65535 - 11, 'n') + ".jpg";
    const std::string stored = "folder/" + longest.substr(7);
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    ASSERT_EQ(writer.AddFile(longest, source), ZipStatus::Ok);
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    const std::string a = ReadFile(dir / "a.zip");
    EXPECT_EQ(Le16(a, 26), 65535);
    EXPECT_EQ(a.substr(30, 65535), stored);
    EXPECT_EQ(CheckWithPython(dir / "a.zip", {{stored, source}}), "");
}

// Bytes of archive a stored member named m.zip takes, directory and end record included.
constexpr uint64_t StoredMemberFootprint(uint64_t size) {
    return 30 + 5 + 17 + size + 46 + 5 + 9 + 22;
}

TEST(ZipWriter, AnArchiveMayReachButNotPass4GiB) {
    TempDir dir;
    const std::string source = dir / "m.zip";
    WriteFile(source, PhotoLikeBytes(1000, 12));
    const uint64_t lastStart = 0xFFFFFFFFull - StoredMemberFootprint(1000);

    // One byte too far: refused before anything is written; only the end record, where the writer started.
    zip::ZipWriter over = zip::ZipWriter::Create(dir / "over.zip");
    ASSERT_TRUE(over.StartAtOffsetForTesting(lastStart + 1));
    EXPECT_EQ(over.AddFile("m.zip", source), ZipStatus::TooLarge);
    EXPECT_EQ(over.AddFile("x.jpg", source), ZipStatus::TooLarge) << "deflated needs even more room";
    ASSERT_EQ(over.Close(), ZipStatus::Ok);
    const std::string end = ReadRange(dir / "over.zip", lastStart + 1, 100);
    ASSERT_EQ(end.size(), 22u);
    EXPECT_EQ(Le32(end, 0), 0x06054B50u);
    EXPECT_EQ(Le16(end, 10), 0);
    EXPECT_EQ(Le32(end, 16), lastStart + 1);

    // Exactly up to the last byte a 32-bit offset can name.
    zip::ZipWriter full = zip::ZipWriter::Create(dir / "full.zip");
    ASSERT_TRUE(full.StartAtOffsetForTesting(lastStart));
    zip::ZipEntry entry;
    ASSERT_EQ(full.AddFile("m.zip", source, &entry), ZipStatus::Ok);
    EXPECT_EQ(entry.localHeaderOffset, lastStart);
    EXPECT_EQ(full.AddFile("z.gz", "/dev/null"), ZipStatus::TooLarge) << "no room for anything more";
    ASSERT_EQ(full.Close(), ZipStatus::Ok);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "full.zip").c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 0xFFFFFFFFull);
    EXPECT_EQ(CheckWithReaders(dir / "full.zip", {{"m.zip", source}}), "");
}

TEST(ZipWriter, SourcesOf4GiBOrMoreAreRefused) {
    TempDir dir;
    // 4 GiB less one is the mark of 64-bit records; 5 GiB would pass as 1 GiB if cut to 32 bits.
    for (const uint64_t size : {uint64_t{1} << 32, uint64_t{0xFFFFFFFF}, uint64_t{5} << 30}) {
        const std::string source = dir / "huge.zip";
        MakeSparseFile(source, size);
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        EXPECT_EQ(writer.AddFile("huge.zip", source), ZipStatus::TooLarge) << size;
        EXPECT_EQ(writer.AddFile("huge.jpg", source), ZipStatus::TooLarge) << size;
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
        EXPECT_EQ(ReadFile(dir / "a.zip").size(), 22u) << size;
    }
}

TEST(ZipWriter, ASourceGrowingPastTheLimitIsCutOffAgain) {
    TempDir dir;
    const std::string source = dir / "m.zip", small = dir / "small.zip";
    WriteFile(source, PhotoLikeBytes(1000, 13));
    WriteFile(small, "s");
    const uint64_t start = 0xFFFFFFFFull - StoredMemberFootprint(1000) - 100;
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    ASSERT_TRUE(writer.StartAtOffsetForTesting(start));
    {
        platform::ScopedSysCalls seam(Faulty({.extraAtEnd = 200}));  // more than the 100 bytes to spare
        EXPECT_EQ(writer.AddFile("m.zip", source), ZipStatus::TooLarge);
    }
    zip::ZipEntry entry;
    ASSERT_EQ(writer.AddFile("small.zip", small, &entry), ZipStatus::Ok);
    EXPECT_EQ(entry.localHeaderOffset, start) << "placed where the refused member began";
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(CheckWithReaders(dir / "a.zip", {{"small.zip", small}}), "");
}

TEST(ZipWriter, The65536thMemberIsRefused) {
    TempDir dir;
    const std::string source = dir / "e.gz";
    WriteFile(source, "");
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    for (int i = 0; i < 65535; ++i) {
        ASSERT_EQ(writer.AddFile("e.gz", source), ZipStatus::Ok) << i;
    }
    EXPECT_EQ(writer.AddFile("e.gz", source), ZipStatus::TooLarge);
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    const std::string a = ReadFile(dir / "a.zip");
    EXPECT_EQ(Le16(a, a.size() - 12), 65535);
    EXPECT_EQ(Le16(a, a.size() - 14), 65535);
    EXPECT_EQ(CheckWithReaders(dir / "a.zip", std::vector<ExpectedMember>(65535, {"e.gz", source})), "");
}

}  // namespace

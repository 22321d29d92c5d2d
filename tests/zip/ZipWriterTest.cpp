// ZipWriter end to end: archives checked by readers we did not write, every failure status, the 32-bit
// limits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Sys.h"
#include "tests/support/TempDir.h"
#include "tests/zip/ZipCheck.h"
#include "zip/ZipWriter.h"

using namespace testsupport;
using namespace zipcheck;
using zip::ZipStatus;


namespace {

// ---- Faults injected through the system-call table ----

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

ssize_t FaultyWrite(int fd, const void* buffer, size_t count) {
    Faults& f = g_faults;
    ++f.writes;
    if (!f.diskFull &&
        (f.writes == f.failWriteAt || (f.failWritesAfterSeek > 0 && f.seeks >= f.failWritesAfterSeek))) {
        f.diskFull = true;
        if (count > 1) {
            return ::write(fd, buffer, count / 2);
        }
    }
    if (f.diskFull) {
        errno = ENOSPC;
        return -1;
    }
    return ::write(fd, buffer, count);
}

off_t FaultyLseek(int fd, off_t offset, int whence) {
    Faults& f = g_faults;
    ++f.seeks;
    if (f.failSeekAt > 0 && (f.seeks == f.failSeekAt || (f.seeksStayFailed && f.seeks > f.failSeekAt))) {
        errno = EIO;
        return -1;
    }
    return ::lseek(fd, offset, whence);
}

ssize_t FaultyRead(int fd, void* buffer, size_t count) {
    Faults& f = g_faults;
    if (++f.reads == f.failReadAt) {
        errno = EIO;
        return -1;
    }
    const ssize_t n = ::read(fd, buffer, count);
    if (n == 0 && f.extraAtEnd > 0) {
        const size_t extra = std::min(count, f.extraAtEnd);
        std::memset(buffer, 'x', extra);
        f.extraAtEnd -= extra;
        return static_cast<ssize_t>(extra);
    }
    return n;
}

int FaultyStatx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* out) {
    if (g_faults.failStatx) {
        errno = EIO;
        return -1;
    }
    return platform::RealSysCalls().statx(dirfd, path, flags, mask, out);
}

int CountingOpen(const char* path, int flags, mode_t mode) {
    ++g_faults.opens;
    return platform::RealSysCalls().open(path, flags, mode);
}

platform::SysCalls Faulty(const Faults& faults) {
    g_faults = faults;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.write = FaultyWrite;
    calls.lseek = FaultyLseek;
    calls.read = FaultyRead;
    calls.statx = FaultyStatx;
    calls.open = CountingOpen;
    return calls;
}

// ---- Helpers ----

void SetFixedTimes(const std::string& path) {
    const timespec times[2] = {{1700000000, 0}, {1690000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void MakeSparseFile(const std::string& path, uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
}

// Writes an archive of `sources` (each added under its own path) and returns its bytes.
std::string ArchiveOf(const std::string& archive, const std::vector<std::string>& sources) {
    for (const auto& s : sources) {
        SetFixedTimes(s);
    }
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    for (const auto& s : sources) {
        EXPECT_EQ(writer.AddFile(s, s), ZipStatus::Ok) << s;
    }
    EXPECT_EQ(writer.Close(), ZipStatus::Ok);
    return ReadFile(archive);
}

std::vector<ExpectedMember> SameNames(const std::vector<std::string>& sources) {
    std::vector<ExpectedMember> members;
    for (const auto& s : sources) {
        members.push_back({s, s});
    }
    return members;
}

// The central directory of a small archive read back: offset of each central header.
std::vector<size_t> CentralHeaders(const std::string& a) {
    const size_t end = a.size() - 22;
    EXPECT_EQ(Le32(a, end), 0x06054B50u);
    std::vector<size_t> headers;
    size_t at = Le32(a, end + 16);
    for (int i = 0; i < Le16(a, end + 10); ++i) {
        EXPECT_EQ(Le32(a, at), 0x02014B50u);
        headers.push_back(at);
        at += 46 + Le16(a, at + 28) + Le16(a, at + 30) + Le16(a, at + 32);
    }
    return headers;
}

// ---- Archives read back by other readers ----

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
    };
    std::vector<ExpectedMember> expected;
    std::vector<zip::ZipEntry> recorded;
    const std::string archive = dir / "out.zip";
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(archive);
        int i = 0;
        for (const auto& c : cases) {
            const std::string source = dir / (std::to_string(i++) + "-" + c.name);
            WriteFile(source, c.contents);
            zip::ZipEntry entry;
            ASSERT_EQ(writer.AddFile(c.name, source, &entry), ZipStatus::Ok) << c.name;
            expected.push_back({c.name, source});
            recorded.push_back(entry);
        }
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    }
    EXPECT_EQ(CheckWithReaders(archive, expected), "");

    // What AddFile reported is what the archive holds, and the members lie end to end.
    const std::string a = ReadFile(archive);
    const std::vector<size_t> central = CentralHeaders(a);
    ASSERT_EQ(central.size(), std::size(cases));
    uint64_t offset = 0, directory = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto& e = recorded[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.crc32, Crc32(c.contents));
        EXPECT_EQ(e.uncompressedSize, c.contents.size());
        EXPECT_EQ(e.localHeaderOffset, offset);
        EXPECT_EQ(e.method, c.stored ? 0 : 8);
        EXPECT_EQ(e.flags, c.stored ? 0 : 2);
        if (c.stored) {
            EXPECT_EQ(e.compressedSize, e.uncompressedSize);
            EXPECT_EQ(a.substr(offset + 30 + e.name.size() + 17, c.contents.size()), c.contents);
        }
        // Local and central header agree on every shared field.
        const size_t h = central[i];
        EXPECT_EQ(Le16(a, offset + 6), Le16(a, h + 8));    // flags
        EXPECT_EQ(Le16(a, offset + 8), Le16(a, h + 10));   // method
        EXPECT_EQ(Le32(a, offset + 10), Le32(a, h + 12));  // time and date
        EXPECT_EQ(Le32(a, offset + 14), e.crc32);          // CRC-32
        EXPECT_EQ(Le32(a, h + 16), e.crc32);
        EXPECT_EQ(Le32(a, offset + 18), e.compressedSize);  // sizes
        EXPECT_EQ(Le32(a, h + 20), e.compressedSize);
        EXPECT_EQ(Le32(a, offset + 22), e.uncompressedSize);
        EXPECT_EQ(Le32(a, h + 24), e.uncompressedSize);
        EXPECT_EQ(Le32(a, h + 42), offset);
        EXPECT_EQ(a.substr(h + 46, e.name.size()), c.name);
        offset += 30 + e.name.size() + 17 + e.compressedSize;
        directory += 46 + e.name.size() + 9;
    }
    EXPECT_EQ(a.size(), offset + directory + 22);
}

TEST(ZipWriter, BackslashesBecomeSlashesAndNothingElseChanges) {
    TempDir dir;
    const std::string source = dir / "IMG.JPG";
    WriteFile(source, "picture");
    const std::string name = "E:\\DCIM\\100MEDIA\\..\\IMG_0001 -41.jpg";
    const std::string stored = "E:/DCIM/100MEDIA/../IMG_0001 -41.jpg";
    zip::ZipEntry entry;
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        ASSERT_EQ(writer.AddFile(name, source, &entry), ZipStatus::Ok);
        ASSERT_EQ(writer.AddFile("\\leading\\backslash.ZIP", source), ZipStatus::Ok);
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    }
    EXPECT_EQ(entry.name, stored);
    const std::string a = ReadFile(dir / "a.zip");
    EXPECT_EQ(Le16(a, 26), name.size());
    EXPECT_EQ(a.substr(30, name.size()), stored);
    const auto central = CentralHeaders(a);
    EXPECT_EQ(Le16(a, central[0] + 28), name.size());
    EXPECT_EQ(a.substr(central[0] + 46, name.size()), stored);
    EXPECT_EQ(Le16(a, central[1] + 10), 0) << "stored: the suffix is read after the conversion";
    EXPECT_EQ(CheckWithPython(dir / "a.zip", {{stored, source}, {"/leading/backslash.ZIP", source}}), "");
}

TEST(ZipWriter, AbsolutePathsAsNamesAsTheArchivePassGivesThem) {
    TempDir dir;
    std::vector<std::string> sources;
    for (int i = 0; i < 3; ++i) {
        sources.push_back(dir / ("IMG_000" + std::to_string(i) + ".jpg"));
        WriteFile(sources.back(), PhotoLikeBytes(20000 + i, 10 + i));
    }
    ArchiveOf(dir / "ArchivePics.zip", sources);
    EXPECT_EQ(CheckWithReaders(dir / "ArchivePics.zip", SameNames(sources)), "");
}

TEST(ZipWriter, AttributesOfRealFiles) {
    TempDir dir;
    std::string program(200, '\0');
    program.replace(0, 2, "MZ");
    program[0x3C] = static_cast<char>(0x80);
    const auto withNewHeader = [&](const char* signature) {
        std::string p = program;
        p.replace(0x80, 2, signature);
        return p;
    };
    std::string farOffset = program;
    farOffset[0x3D] = 0x10;  // 0x1080: past the end of the file
    std::string sixtyFour = program.substr(0, 64);
    sixtyFour[0x3C] = 0x10;  // points inside, but the file is no longer than its DOS header
    sixtyFour.replace(0x10, 2, "PE");

    const struct {
        const char* what;
        const char* fileName;
        std::string contents;
        mode_t mode;
        uint32_t want;
    } cases[] = {
        {"picture", "IMG.jpg", PhotoLikeBytes(5000, 4), 0644, 0x81800020},
        {"read-only picture", "RO.jpg", PhotoLikeBytes(5000, 5), 0444, 0x81000021},
        {"hidden picture", ".hidden.jpg", "x", 0644, 0x81800022},
        {"empty file", "empty.jpg", "", 0600, 0x81800020},
        {"program with a PE header", "setup.exe", withNewHeader("PE"), 0644, 0x81C00020},
        {"program with an NE header", "old.exe", withNewHeader("NE"), 0644, 0x81C00020},
        {"program with an LE header", "vxd.386", withNewHeader("LE"), 0644, 0x81C00020},
        {"program with an MZ header", "stub.exe", withNewHeader("MZ"), 0644, 0x81C00020},
        {"DOS header pointing at nothing known", "odd.exe", withNewHeader("XY"), 0644, 0x81800020},
        {"newer header beyond the end", "cut.exe", farOffset, 0644, 0x81800020},
        {"no longer than a DOS header", "tiny.exe", sixtyFour, 0644, 0x81800020},
        {"unix program", "tool", "#!/bin/sh\n" + std::string(100, '#'), 0755, 0x81800020},
    };
    const std::string archive = dir / "attributes.zip";
    std::vector<ExpectedMember> expected;
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(archive);
        for (const auto& c : cases) {
            const std::string source = dir / c.fileName;
            WriteFile(source, c.contents);
            ASSERT_EQ(::chmod(source.c_str(), c.mode), 0);
            zip::ZipEntry entry;
            ASSERT_EQ(writer.AddFile(c.fileName, source, &entry), ZipStatus::Ok) << c.what;
            EXPECT_EQ(entry.externalAttributes, c.want) << c.what;
            expected.push_back({c.fileName, source});
        }
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    }
    const std::string a = ReadFile(archive);
    const auto central = CentralHeaders(a);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Le32(a, central[i] + 38), cases[i].want) << cases[i].what;
    }
    EXPECT_EQ(CheckWithReaders(archive, expected), "");
}

TEST(ZipWriter, StreamSourcesAreReadToTheirEndAndDatedNow) {
    TempDir dir;
    const std::string contents = PhotoLikeBytes(300000, 6);
    const std::string copy = dir / "copy.jpg";
    WriteFile(copy, contents);
    const std::string fifo = dir / "pipe.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // Held open for writing before the writer opens it, so its reads wait for the data and then see the end.
    const int writeEnd = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writeEnd, 0);
    std::thread feeder([&] {
        size_t done = 0;
        while (done < contents.size()) {
            const ssize_t n = ::write(writeEnd, contents.data() + done, contents.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::close(writeEnd);
    });
    const time_t before = ::time(nullptr);
    zip::ZipEntry piped, nothing;
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "s.zip");
        EXPECT_EQ(writer.AddFile("pipe.jpg", fifo, &piped), ZipStatus::Ok);
        feeder.join();
        EXPECT_EQ(writer.AddFile("null.jpg", "/dev/null", &nothing), ZipStatus::Ok);
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    }
    EXPECT_EQ(piped.uncompressedSize, contents.size());
    EXPECT_EQ(piped.crc32, Crc32(contents));
    EXPECT_EQ(piped.externalAttributes, 0x80000000u);
    EXPECT_EQ(nothing.uncompressedSize, 0u);
    EXPECT_EQ(nothing.externalAttributes, 0x80000000u);
    const std::string a = ReadFile(dir / "s.zip");
    const uint32_t dated = Le32(a, 30 + 8 + 5);
    EXPECT_GE(dated, static_cast<uint32_t>(before));
    EXPECT_LE(dated, static_cast<uint32_t>(::time(nullptr)));
    EXPECT_EQ(CheckWithReaders(dir / "s.zip", {{"pipe.jpg", copy}, {"null.jpg", "/dev/null"}}), "");
}

TEST(ZipWriter, ASourceThatGrowsWhileReadGivesTheBytesActuallyRead) {
    TempDir dir;
    const std::string original = PhotoLikeBytes(50000, 7);
    const std::string source = dir / "growing.jpg";
    WriteFile(source, original);
    const std::string grown = dir / "grown.jpg";
    WriteFile(grown, original + std::string(20000, 'x'));
    zip::ZipEntry entry;
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "g.zip");
        Faults grows;
        grows.extraAtEnd = 20000;
        platform::ScopedSysCalls seam(Faulty(grows));
        ASSERT_EQ(writer.AddFile("growing.jpg", source, &entry), ZipStatus::Ok);
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    }
    EXPECT_EQ(entry.uncompressedSize, 70000u);
    EXPECT_EQ(CheckWithReaders(dir / "g.zip", {{"growing.jpg", grown}}), "");
}

// ---- Creating ----

TEST(ZipWriter, NoWriterTouchesNoFile) {
    TempDir dir;
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, "picture");
    ZipStatus status = ZipStatus::Ok;
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "missing-folder/ArchivePics.zip", &status);
    EXPECT_EQ(status, ZipStatus::CannotOpenFile);
    EXPECT_FALSE(writer.IsOpen());

    platform::ScopedSysCalls seam(Faulty({}));
    EXPECT_EQ(writer.AddFile(source, source), ZipStatus::BadArguments);
    EXPECT_EQ(writer.Close(), ZipStatus::BadArguments);
    EXPECT_EQ(writer.AddFile(source, source), ZipStatus::BadArguments);
    EXPECT_EQ(g_faults.opens, 0);
    EXPECT_EQ(g_faults.writes, 0);
    EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"IMG.jpg"});

    zip::ZipWriter neverCreated;
    EXPECT_EQ(neverCreated.AddFile(source, source), ZipStatus::BadArguments);
    EXPECT_EQ(neverCreated.Close(), ZipStatus::BadArguments);
}

TEST(ZipWriter, CreateRefusesWhatItMayNotReplaceAndChangesNothing) {
    TempDir dir;
    const std::string old = "an archive from before";
    const struct {
        const char* what;
        const char* name;
        std::function<void(const std::string&)> prepare;
    } cases[] = {
        {"folder missing", "missing/a.zip", [](const std::string&) {}},
        {"path is a folder", "folder.zip", [](const std::string& p) { MakeFolder(p); }},
        {"read-only file", "ro.zip",
         [&](const std::string& p) {
             WriteFile(p, old);
             ::chmod(p.c_str(), 0444);
         }},
        {"file is a pipe", "pipe.zip", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }},
    };
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        c.prepare(path);
        const bool existed = Exists(path);
        ZipStatus status = ZipStatus::Ok;
        zip::ZipWriter writer = zip::ZipWriter::Create(path, &status);
        EXPECT_EQ(status, ZipStatus::CannotOpenFile) << c.what;
        EXPECT_FALSE(writer.IsOpen()) << c.what;
        EXPECT_EQ(Exists(path), existed) << c.what;
        if (existed && std::string(c.name) == "ro.zip") {
            EXPECT_EQ(ReadFile(path), old) << c.what;
        }
    }
}

TEST(ZipWriter, TheArchiveIsLockedWhileTheWriterHasIt) {
    TempDir dir;
    const std::string path = dir / "a.zip";
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, "picture");

    // Another program holds the file locked: refused, and the file keeps its contents.
    WriteFile(path, "someone else's");
    {
        const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        EXPECT_FALSE(zip::ZipWriter::Create(path).IsOpen());
        EXPECT_EQ(ReadFile(path), "someone else's");
        ::close(other);
    }

    // Our writer holds it: nobody else gets the lock, a second writer is refused, and the first is unharmed.
    zip::ZipWriter writer = zip::ZipWriter::Create(path);
    ASSERT_TRUE(writer.IsOpen());
    ASSERT_EQ(writer.AddFile("IMG.jpg", source), ZipStatus::Ok);
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_NE(::flock(other, LOCK_SH | LOCK_NB), 0);
    ::close(other);
    ZipStatus second = ZipStatus::Ok;
    EXPECT_FALSE(zip::ZipWriter::Create(path, &second).IsOpen());
    EXPECT_EQ(second, ZipStatus::CannotOpenFile);
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(CheckWithReaders(path, {{"IMG.jpg", source}}), "");
}

TEST(ZipWriter, CreateReplacesAnEarlierFile) {
    TempDir dir;
    WriteFile(dir / "a.zip", std::string(5000, 'o'));
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    ASSERT_TRUE(writer.IsOpen());
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(ReadFile(dir / "a.zip").size(), 22u);
}

// ---- Failures of one member ----

enum class SourceKind { Deflated, Stored, Missing, Folder, TheArchive, LinkToTheArchive, FourGiB };

struct FailureCase {
    const char* what;
    SourceKind source;
    Faults faults;
    ZipStatus want;
    bool latches = false;        // later adds return AlreadyFailed
    bool writesNothing = false;  // refused before anything is written
    const char* name = nullptr;  // the member name; the source path when null
    bool failCompressor = false;
};

Faults WriteFault(int at) {
    Faults f;
    f.failWriteAt = at;
    return f;
}
Faults RewriteFault() {
    Faults f;
    f.failWritesAfterSeek = 2;  // the first repositioning rewinds the probe of the source's first bytes
    return f;
}
Faults SeekFault(int at, bool stays = false) {
    Faults f;
    f.failSeekAt = at;
    f.seeksStayFailed = stays;
    return f;
}
Faults ReadFault(int at) {
    Faults f;
    f.failReadAt = at;
    return f;
}
Faults StatxFault() {
    Faults f;
    f.failStatx = true;
    return f;
}

void* NoMemory(void*, unsigned, unsigned) {
    return nullptr;
}
void NoFree(void*, void*) {}

const std::string kLongName(65536, 'n');

const FailureCase kFailures[] = {
    {"local header cut short", SourceKind::Deflated, WriteFault(1), ZipStatus::WriteFailed},
    {"deflated data cut short", SourceKind::Deflated, WriteFault(3), ZipStatus::WriteFailed},
    {"stored copy cut short", SourceKind::Stored, WriteFault(2), ZipStatus::WriteFailed},
    {"rewrite of the local header fails", SourceKind::Deflated, RewriteFault(), ZipStatus::WriteFailed},
    {"rewrite of a stored member's header fails", SourceKind::Stored, RewriteFault(), ZipStatus::WriteFailed},
    {"cannot go back to the local header", SourceKind::Deflated, SeekFault(2), ZipStatus::SeekFailed, true},
    {"cannot return to the end", SourceKind::Stored, SeekFault(3), ZipStatus::SeekFailed, true},
    {"source read fails part-way", SourceKind::Deflated, ReadFault(3), ZipStatus::WriteFailed},
    {"stored source read fails part-way", SourceKind::Stored, ReadFault(4), ZipStatus::WriteFailed},
    {"source read fails at once", SourceKind::Deflated, ReadFault(1), ZipStatus::CannotOpenFile, false, true},
    {"source cannot be rewound", SourceKind::Deflated, SeekFault(1), ZipStatus::CannotOpenFile, false, true},
    {"source information unreadable", SourceKind::Deflated, StatxFault(), ZipStatus::CannotOpenFile, false,
     true},
    {"missing source", SourceKind::Missing, {}, ZipStatus::CannotOpenFile, false, true},
    {"source is a folder", SourceKind::Folder, {}, ZipStatus::CannotOpenFile, false, true},
    {"source is the archive", SourceKind::TheArchive, {}, ZipStatus::CannotOpenFile, false, true},
    {"source is a link to the archive",
     SourceKind::LinkToTheArchive,
     {},
     ZipStatus::CannotOpenFile,
     false,
     true},
    {"empty name", SourceKind::Deflated, {}, ZipStatus::BadArguments, false, true, ""},
    {"name of 65,536 bytes",
     SourceKind::Deflated,
     {},
     ZipStatus::BadArguments,
     false,
     true,
     kLongName.c_str()},
    {"source of 4 GiB", SourceKind::FourGiB, {}, ZipStatus::TooLarge, false, true},
    {"compressor cannot start",
     SourceKind::Deflated,
     {},
     ZipStatus::WriteFailed,
     false,
     false,
     nullptr,
     true},
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.what; }

class ZipMemberFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ZipMemberFailure, LeavesTheArchiveAsIfTheAddHadNotHappened) {
    const FailureCase& c = GetParam();
    TempDir dir;
    const std::string before = dir / "before.jpg";
    const std::string after = dir / "after.jpg";
    WriteFile(before, CompressibleBytes(3000));
    WriteFile(after, PhotoLikeBytes(50000, 8));
    const std::string archive = dir / "test.zip";

    std::string source;
    switch (c.source) {
        case SourceKind::Deflated:
            source = dir / "failing.jpg";
            WriteFile(source, PhotoLikeBytes(200000, 9));
            break;
        case SourceKind::Stored:
            source = dir / "failing.zip";
            WriteFile(source, PhotoLikeBytes(200000, 9));
            break;
        case SourceKind::Missing:
            source = dir / "nothing-here.jpg";
            break;
        case SourceKind::Folder:
            source = dir / "holiday.jpg";
            MakeFolder(source);
            break;
        case SourceKind::TheArchive:
            source = archive;
            break;
        case SourceKind::LinkToTheArchive:
            source = dir / "link.jpg";
            break;
        case SourceKind::FourGiB:
            source = dir / "huge.jpg";
            MakeSparseFile(source, uint64_t{1} << 32);
            break;
    }
    const std::string name = c.name != nullptr ? c.name : source;

    SetFixedTimes(before);
    SetFixedTimes(after);
    zip::ZipWriter writer = zip::ZipWriter::Create(archive);
    ASSERT_TRUE(writer.IsOpen());
    if (c.source == SourceKind::LinkToTheArchive) {
        ASSERT_EQ(::link(archive.c_str(), source.c_str()), 0);
    }
    ASSERT_EQ(writer.AddFile(before, before), ZipStatus::Ok);
    const std::string bytesBefore = ReadFile(archive);
    {
        platform::ScopedSysCalls seam(Faulty(c.faults));
        if (c.failCompressor) {
            zip::ZipWriter::SetCompressorAllocatorForTesting(NoMemory, NoFree);
        }
        zip::ZipEntry untouched;
        untouched.name = "untouched";
        EXPECT_EQ(writer.AddFile(name, source, &untouched), c.want);
        EXPECT_EQ(untouched.name, "untouched");
        zip::ZipWriter::SetCompressorAllocatorForTesting(nullptr, nullptr);
    }
    if (c.writesNothing) {
        EXPECT_EQ(ReadFile(archive), bytesBefore) << "a refused member writes nothing";
    }
    EXPECT_EQ(writer.AddFile(after, after), c.latches ? ZipStatus::AlreadyFailed : ZipStatus::Ok);
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);

    // Byte for byte the archive that the successful adds alone make.
    std::vector<std::string> good = {before};
    if (!c.latches) {
        good.push_back(after);
    }
    const std::string reference = ArchiveOf(dir / "reference.zip", good);
    EXPECT_EQ(ReadFile(archive), reference);
    EXPECT_EQ(CheckWithReaders(archive, SameNames(good)), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, ZipMemberFailure, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<FailureCase>& param) {
                             std::string name;
                             for (const char* p = param.param.what; *p != '\0'; ++p) {
                                 if (std::isalnum(static_cast<unsigned char>(*p))) {
                                     name += *p;
                                 }
                             }
                             return name;
                         });

// ---- Failures of the output as a whole ----

TEST(ZipWriter, AnOutputThatCannotBeRepositionedAtAllFailsTheCloseToo) {
    TempDir dir;
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, PhotoLikeBytes(1000, 11));
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    platform::ScopedSysCalls seam(Faulty(SeekFault(2, true)));
    EXPECT_EQ(writer.AddFile("IMG.jpg", source), ZipStatus::SeekFailed);
    EXPECT_EQ(writer.AddFile("IMG.jpg", source), ZipStatus::AlreadyFailed);
    EXPECT_EQ(writer.Close(), ZipStatus::SeekFailed);
    EXPECT_EQ(writer.Close(), ZipStatus::AlreadyClosed);
}

TEST(ZipWriter, DirectoryWritesThatFailAreReported) {
    const struct {
        const char* what;
        int failingWrite;  // counted from the start of Close
    } cases[] = {{"first central header", 1}, {"second central header", 2}, {"end record", 3}};
    for (const auto& c : cases) {
        TempDir dir;
        const std::string source = dir / "IMG.jpg";
        WriteFile(source, "picture");
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        ASSERT_EQ(writer.AddFile("one.jpg", source), ZipStatus::Ok);
        ASSERT_EQ(writer.AddFile("two.jpg", source), ZipStatus::Ok);
        platform::ScopedSysCalls seam(Faulty(WriteFault(c.failingWrite)));
        EXPECT_EQ(writer.Close(), ZipStatus::WriteFailed) << c.what;
        EXPECT_FALSE(writer.IsOpen()) << c.what;
    }
}

TEST(ZipWriter, NothingButAlreadyClosedAfterClose) {
    TempDir dir;
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, "picture");
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(writer.AddFile("IMG.jpg", source), ZipStatus::AlreadyClosed);
    EXPECT_EQ(writer.Close(), ZipStatus::AlreadyClosed);
    EXPECT_EQ(ReadFile(dir / "a.zip").size(), 22u);
}

// ---- The 32-bit limits ----

TEST(ZipWriter, NamesUpToTheFieldsLimitAreWrittenWhole) {
    TempDir dir;
    const std::string source = dir / "IMG.jpg";
    WriteFile(source, "picture");
    const std::string longest = "folder\\" + std::string(65535 - 11, 'n') + ".jpg";
    std::string stored = longest;
    stored[6] = '/';
    zip::ZipEntry entry;
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        ASSERT_EQ(writer.AddFile(longest, source, &entry), ZipStatus::Ok);
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    }
    EXPECT_EQ(entry.name, stored);
    const std::string a = ReadFile(dir / "a.zip");
    EXPECT_EQ(Le16(a, 26), 65535);
    EXPECT_EQ(a.substr(30, 65535), stored);
    EXPECT_EQ(CheckWithPython(dir / "a.zip", {{stored, source}}), "");
}

// A stored member of `size` bytes named m.zip needs this many bytes of archive, directory and end record
// included.
constexpr uint64_t kNameLength = 5;
uint64_t StoredMemberFootprint(uint64_t size) {
    return 30 + kNameLength + 17 + size + 46 + kNameLength + 9 + 22;
}

TEST(ZipWriter, AnArchiveMayReachButNotPass4GiB) {
    TempDir dir;
    const std::string source = dir / "m.zip";
    const std::string contents = PhotoLikeBytes(1000, 12);
    WriteFile(source, contents);
    const uint64_t lastStart = 0xFFFFFFFFull - StoredMemberFootprint(contents.size());

    // One byte too far: refused before anything is written.
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "over.zip");
        ASSERT_TRUE(writer.StartAtOffsetForTesting(lastStart + 1));
        EXPECT_EQ(writer.AddFile("m.zip", source), ZipStatus::TooLarge);
        EXPECT_EQ(writer.AddFile("x.jpg", source), ZipStatus::TooLarge) << "deflated needs even more room";
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
        // Only the end record, at the offset the writer started from.
        const std::string end = ReadRange(dir / "over.zip", lastStart + 1, 100);
        ASSERT_EQ(end.size(), 22u);
        EXPECT_EQ(Le32(end, 0), 0x06054B50u);
        EXPECT_EQ(Le16(end, 10), 0);
        EXPECT_EQ(Le32(end, 16), lastStart + 1);
    }
    // Exactly up to the last byte a 32-bit offset can name.
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "full.zip");
        ASSERT_TRUE(writer.StartAtOffsetForTesting(lastStart));
        zip::ZipEntry entry;
        ASSERT_EQ(writer.AddFile("m.zip", source, &entry), ZipStatus::Ok);
        EXPECT_EQ(entry.localHeaderOffset, lastStart);
        EXPECT_EQ(writer.AddFile("z.gz", "/dev/null"), ZipStatus::TooLarge) << "no room for anything more";
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
        struct stat st {};
        ASSERT_EQ(::stat((dir / "full.zip").c_str(), &st), 0);
        EXPECT_EQ(static_cast<uint64_t>(st.st_size), 0xFFFFFFFFull);
        EXPECT_EQ(CheckWithReaders(dir / "full.zip", {{"m.zip", source}}), "");
    }
}

TEST(ZipWriter, SourcesOf4GiBOrMoreAreRefused) {
    TempDir dir;
    const struct {
        const char* what;
        uint64_t size;
    } cases[] = {
        {"4 GiB", uint64_t{1} << 32},
        {"4 GiB less one: that size is the mark of 64-bit records", 0xFFFFFFFFull},
        {"5 GiB", uint64_t{5} << 30},
    };
    for (const auto& c : cases) {
        const std::string source = dir / "huge.zip";
        MakeSparseFile(source, c.size);
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        EXPECT_EQ(writer.AddFile("huge.zip", source), ZipStatus::TooLarge) << c.what;
        EXPECT_EQ(writer.AddFile("huge.jpg", source), ZipStatus::TooLarge) << c.what;
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
        EXPECT_EQ(ReadFile(dir / "a.zip").size(), 22u) << c.what;
    }
}

TEST(ZipWriter, ASourceGrowingPastTheLimitIsCutOffAgain) {
    TempDir dir;
    const std::string source = dir / "m.zip";
    WriteFile(source, PhotoLikeBytes(1000, 13));
    const std::string small = dir / "small.zip";
    WriteFile(small, "s");
    const uint64_t start = 0xFFFFFFFFull - StoredMemberFootprint(1000) - 100;
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
    ASSERT_TRUE(writer.StartAtOffsetForTesting(start));
    {
        Faults grows;
        grows.extraAtEnd = 200;  // more than the 100 bytes to spare
        platform::ScopedSysCalls seam(Faulty(grows));
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

// Byte-exact archives and the conversions that fill the header fields.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/File.h"
#include "platform/Sys.h"
#include "tests/support/TempDir.h"
#include "tests/zip/ZipCheck.h"
#include "zip/ZipFormat.h"
#include "zip/ZipWriter.h"

using namespace testsupport;
using namespace zipcheck;
using zip::ZipStatus;


namespace {

// A fixed time zone five hours behind UTC without daylight saving, so that expected DOS stamps are fixed and
// show that they come from local time.
class FixedTimeZone : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        m_oldTz = old != nullptr ? old : "";
        m_hadTz = old != nullptr;
        ::setenv("TZ", "EST5", 1);
        ::tzset();
    }
    void TearDown() override {
        if (m_hadTz) {
            ::setenv("TZ", m_oldTz.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::string m_oldTz;
    bool m_hadTz = false;
};

// Linux cannot set a file's birth time, so tests that need a fixed one report it through the statx seam.
time_t g_birthTime = 0;
int StatxWithBirthTime(int dirfd, const char* path, int flags, unsigned int mask, struct statx* out) {
    const int result = platform::RealSysCalls().statx(dirfd, path, flags, mask, out);
    if (result == 0) {
        out->stx_mask |= STATX_BTIME;
        out->stx_btime.tv_sec = g_birthTime;
        out->stx_btime.tv_nsec = 0;
    }
    return result;
}

platform::SysCalls WithBirthTime(time_t birth) {
    g_birthTime = birth;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.statx = StatxWithBirthTime;
    return calls;
}

void SetTimes(const std::string& path, time_t accessed, time_t modified) {
    const timespec times[2] = {{accessed, 0}, {modified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values) {
        bytes += static_cast<char>(v);
    }
    return bytes;
}

std::string U32(uint32_t v) {
    return Bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)});
}

constexpr time_t kModified = 1623760496;  // 2021-06-15 12:34:56 UTC, 07:34:56 local
constexpr time_t kAccessed = 1641092645;  // 2022-01-02 03:04:05 UTC
constexpr time_t kBorn = 1583020798;      // 2020-02-29 23:59:58 UTC

using ZipGolden = FixedTimeZone;

TEST_F(ZipGolden, CloseRightAfterCreateGivesTheEmptyArchive) {
    TempDir dir;
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "empty.zip");
    ASSERT_TRUE(writer.IsOpen());
    EXPECT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(ReadFile(dir / "empty.zip"), "PK\x05\x06" + std::string(18, '\0'));
    EXPECT_EQ(CheckWithPython(dir / "empty.zip", {}), "");
}

TEST_F(ZipGolden, EmptySourceNamedAJpgGivesThe136ByteArchive) {
    TempDir dir;
    const std::string source = dir / "a.jpg";
    WriteFile(source, "");
    ::chmod(source.c_str(), 0644);
    SetTimes(source, kAccessed, kModified);

    zip::ZipEntry recorded;
    {
        platform::ScopedSysCalls seam(WithBirthTime(kBorn));
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "a.zip");
        ASSERT_EQ(writer.AddFile("a.jpg", source, &recorded), ZipStatus::Ok);
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    }
    const std::string dosTime = Bytes({0x5C, 0x3C});  // 07:34:56 local
    const std::string dosDate = Bytes({0xCF, 0x52});  // 2021-06-15
    const std::string expected =
        // local header at 0
        Bytes({0x50, 0x4B, 0x03, 0x04}) +  // signature
        Bytes({20, 0}) +                   // version needed to extract
        Bytes({0x02, 0x00}) +              // flags: deflated at a high level
        Bytes({8, 0}) +                    // method: deflated
        dosTime + dosDate +                // last modification
        U32(0) +                           // CRC-32 of nothing
        U32(2) +                           // compressed size
        U32(0) +                           // uncompressed size
        Bytes({5, 0}) +                    // name length
        Bytes({17, 0}) +                   // extra length
        "a.jpg" +                          // name
        Bytes({0x55, 0x54, 13, 0, 0x07}) + U32(kModified) + U32(kAccessed) + U32(kBorn) +
        // member data at 52: an empty final block with fixed codes
        Bytes({0x03, 0x00}) +
        // central header at 54
        Bytes({0x50, 0x4B, 0x01, 0x02}) +  // signature
        Bytes({0x17, 0x0B}) +              // version made by
        Bytes({20, 0}) +                   // version needed
        Bytes({0x02, 0x00}) +              // flags
        Bytes({8, 0}) +                    // method
        dosTime + dosDate +                //
        U32(0) + U32(2) + U32(0) +         // CRC-32, compressed and uncompressed size
        Bytes({5, 0}) +                    // name length
        Bytes({9, 0}) +                    // extra length
        Bytes({0, 0}) +                    // comment length
        Bytes({0, 0}) +                    // disk number start
        Bytes({0, 0}) +                    // internal attributes
        U32(0x81800020) +                  // external attributes: archive, regular file, owner read and write
        U32(0) +                           // offset of the local header
        "a.jpg" +                          //
        Bytes({0x55, 0x54, 5, 0, 0x07}) + U32(kModified) +
        // end record at 114
        Bytes({0x50, 0x4B, 0x05, 0x06}) +  // signature
        Bytes({0, 0, 0, 0}) +              // disk numbers
        Bytes({1, 0, 1, 0}) +              // entries on this disk, in all
        U32(60) +                          // directory size
        U32(54) +                          // directory offset
        Bytes({0, 0});                     // comment length
    ASSERT_EQ(expected.size(), 136u);
    EXPECT_EQ(ReadFile(dir / "a.zip"), expected);

    EXPECT_EQ(recorded.name, "a.jpg");
    EXPECT_EQ(recorded.crc32, 0u);
    EXPECT_EQ(recorded.compressedSize, 2u);
    EXPECT_EQ(recorded.uncompressedSize, 0u);
    EXPECT_EQ(recorded.localHeaderOffset, 0u);
    EXPECT_EQ(recorded.method, zip::kMethodDeflated);
    EXPECT_EQ(CheckWithReaders(dir / "a.zip", {{"a.jpg", source}}), "");
}

TEST_F(ZipGolden, CreationTimeIsTheFilesOwnBirthTimeWithoutTheSeam) {
    TempDir dir;
    const std::string source = dir / "b.jpg";
    WriteFile(source, "x");
    SetTimes(source, kAccessed, kModified);
    const auto info = platform::InfoOfPath(source);
    ASSERT_TRUE(info);
    const time_t born = info->bornKnown ? info->born.tv_sec : kModified;
    {
        zip::ZipWriter writer = zip::ZipWriter::Create(dir / "b.zip");
        ASSERT_EQ(writer.AddFile("b.jpg", source), ZipStatus::Ok);
        ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    }
    const std::string archive = ReadFile(dir / "b.zip");
    // Local extra field after the 30 fixed bytes and the 5-byte name: ID, size, flags, then three times.
    EXPECT_EQ(Le32(archive, 35 + 5), static_cast<uint32_t>(kModified));
    EXPECT_EQ(Le32(archive, 35 + 9), static_cast<uint32_t>(kAccessed));
    EXPECT_EQ(Le32(archive, 35 + 13), static_cast<uint32_t>(zip::ClampedUnixTime(born)));
}

// Times outside 1970..2037 keep their time of day; each of the three is limited by its own year.
TEST_F(ZipGolden, TimeClamps) {
    const struct {
        const char* what;
        time_t modified, accessed, born;
        uint32_t wantModified, wantAccessed, wantBorn;
        uint16_t wantDosDate, wantDosTime;
    } cases[] = {
        {"written 1965", -152391233 /* 1965-03-04 05:06:07 */, kAccessed, kBorn,
         18367 /* 1970-01-01 05:06:07 */, static_cast<uint32_t>(kAccessed), static_cast<uint32_t>(kBorn),
         0x0021 /* 1980-01-01 */, 0x0000},
        {"written 2050", 2540884211 /* 2050-07-08 09:10:11 */, kAccessed, kBorn,
         2145863411 /* 2037-12-31 09:10:11 */, static_cast<uint32_t>(kAccessed), static_cast<uint32_t>(kBorn),
         0x8CE8 /* 2050-07-08 */, 0x2145 /* 04:10:11 local */},
        {"accessed 2050, born 1965", kModified, 2540884211, -152391233, static_cast<uint32_t>(kModified),
         2145863411, 18367, 0x52CF, 0x3C5C},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string source = dir / "t.jpg";
        WriteFile(source, "data");
        SetTimes(source, c.accessed, c.modified);
        {
            platform::ScopedSysCalls seam(WithBirthTime(c.born));
            zip::ZipWriter writer = zip::ZipWriter::Create(dir / "t.zip");
            ASSERT_EQ(writer.AddFile("t.jpg", source), ZipStatus::Ok) << c.what;
            ASSERT_EQ(writer.Close(), ZipStatus::Ok) << c.what;
        }
        const std::string a = ReadFile(dir / "t.zip");
        const size_t localExtra = 30 + 5;
        EXPECT_EQ(Le16(a, 10), c.wantDosTime) << c.what;
        EXPECT_EQ(Le16(a, 12), c.wantDosDate) << c.what;
        EXPECT_EQ(Le32(a, localExtra + 5), c.wantModified) << c.what;
        EXPECT_EQ(Le32(a, localExtra + 9), c.wantAccessed) << c.what;
        EXPECT_EQ(Le32(a, localExtra + 13), c.wantBorn) << c.what;
        const size_t central = Le32(a, a.size() - 6);
        EXPECT_EQ(Le16(a, central + 12), c.wantDosTime) << c.what;
        EXPECT_EQ(Le16(a, central + 14), c.wantDosDate) << c.what;
        EXPECT_EQ(Le32(a, central + 46 + 5 + 5), c.wantModified) << c.what;
        EXPECT_EQ(CheckWithReaders(dir / "t.zip", {{"t.jpg", source}}), "") << c.what;
    }
}

TEST(ZipTimes, UnixTimeLimitsKeepTheTimeOfDay) {
    const struct {
        time_t in;
        int32_t out;
    } cases[] = {
        {0, 0},
        {-1, 86399},                      // 1969-12-31 23:59:59
        {-86400 * 365, 0},                // 1969-01-01 00:00:00
        {2145916799, 2145916799},         // 2037-12-31 23:59:59 stays
        {2145916800, 2145830400},         // 2038-01-01 00:00:00
        {2145916800 + 3661, 2145834061},  // 2038-01-01 01:01:01
        {kModified, static_cast<int32_t>(kModified)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zip::ClampedUnixTime(c.in), c.out) << c.in;
    }
}

TEST_F(ZipGolden, DosStampsComeFromLocalTime) {
    const struct {
        time_t in;
        uint32_t out;
    } cases[] = {
        {kModified, 0x52CF3C5Cu},
        {315550800, (0x0021u << 16) | 0},  // 1980-01-01 00:00:00 local, the first stamp
        {315550799, (0x0021u << 16) | 0},  // one second earlier, held at the first stamp
        {0, (0x0021u << 16) | 0},          // 1969-12-31 19:00 local
        {315550801, (0x0021u << 16) | 0},  // odd seconds are dropped
        {315550802, (0x0021u << 16) | 1},  // two seconds
        {4354855200, 0xFF9FBF7Du},         // 2108-01-01 00:00 local: past the last stamp
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zip::DosDateTime(c.in), c.out) << c.in;
    }
}

TEST(ZipFormat, ArchiveSuffixes) {
    const struct {
        const char* name;
        bool stored;
    } cases[] = {
        {"x.zip", true},         {"X.ZIP", true},          {"a.tar.gz", true}, {".gz", true},
        {"b.Gz", true},          {"c.TGZ", true},          {"d.Z", true},      {"d.z", true},
        {"e.Zoo", true},         {"f.arc", true},          {"g.LZH", true},    {"h.ArJ", true},
        {"C:/a.b/c.zip", true},  {"photo.zip.jpg", false}, {"README", false},  {"IMG_0001.JPG", false},
        {"dir.zip/file", false}, {"x.zipx", false},        {"x.gzz", false},   {"zip", false},
        {"x.", false},           {"x.tar", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zip::HasArchiveSuffix(c.name), c.stored) << c.name;
    }
}

TEST(ZipFormat, PutCursorIsLittleEndianAndStopsAtItsEnd) {
    std::array<uint8_t, 7> buffer{};
    zip::PutCursor out(buffer);
    out.Put16(0x1234);
    out.Put32(0xA1B2C3D4);
    EXPECT_TRUE(out.Ok());
    out.Put16(0xFFFF);  // does not fit: nothing written, error sticks
    out.Put8(0x77);     // would fit, but the record is already broken
    EXPECT_FALSE(out.Ok());
    EXPECT_EQ(out.Size(), 6u);
    EXPECT_EQ(buffer, (std::array<uint8_t, 7>{0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0x00}));
}

TEST(ZipFormat, ExternalAttributes) {
    const struct {
        const char* what;
        mode_t mode;
        const char* fileName;
        bool executable;
        uint32_t want;
    } cases[] = {
        {"picture", S_IFREG | 0644, "IMG.JPG", false, 0x81800020},
        {"read-only picture", S_IFREG | 0444, "IMG.JPG", false, 0x81000021},
        {"owner may not write, others may", S_IFREG | 0466, "IMG.JPG", false, 0x81000021},
        {"hidden", S_IFREG | 0644, ".IMG.JPG", false, 0x81800022},
        {"hidden and read-only", S_IFREG | 0400, ".x", false, 0x81000023},
        {"executable program", S_IFREG | 0644, "SETUP.EXE", true, 0x81C00020},
        {"folder", S_IFDIR | 0755, "DCIM", false, 0x41800010},
        {"unix execute bit alone is no program", S_IFREG | 0755, "run.sh", false, 0x81800020},
    };
    for (const auto& c : cases) {
        platform::FileInfo info;
        info.mode = c.mode;
        EXPECT_EQ(zip::ExternalAttributesOf(info, c.fileName, c.executable), c.want) << c.what;
    }
}

}  // namespace

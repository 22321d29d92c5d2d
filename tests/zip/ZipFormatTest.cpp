// Byte-exact archives and the conversions that fill the header fields.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdlib>
#include <ctime>
#include <optional>
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
class ZipGolden : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* old = std::getenv("TZ")) {
            m_oldTz = old;
        }
        ::setenv("TZ", "EST5", 1);
        ::tzset();
    }
    void TearDown() override {
        m_oldTz ? ::setenv("TZ", m_oldTz->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> m_oldTz;
};

// Linux cannot set a file's birth time, so tests that need a fixed one report it through the statx seam.
time_t g_birthTime = 0;
platform::SysCalls WithBirthTime(time_t birth) {
    g_birthTime = birth;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.statx = [](int dirfd, const char* path, int flags, unsigned int mask, struct statx* out) {
        const int result = platform::RealSysCalls().statx(dirfd, path, flags, mask, out);
        out->stx_mask |= STATX_BTIME;
        out->stx_btime = {g_birthTime, 0, 0};
        return result;
    };
    return calls;
}

// Archives `source` as `name` with the given times and birth time; the archive's bytes.
std::string ArchiveWithTimes(const std::string& source, const std::string& name, time_t accessed,
                             time_t modified, time_t born) {
    const timespec times[2] = {{accessed, 0}, {modified, 0}};
    EXPECT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0) << source;
    platform::ScopedSysCalls seam(WithBirthTime(born));
    zip::ZipWriter writer = zip::ZipWriter::Create(source + ".zip");
    EXPECT_EQ(writer.AddFile(name, source), ZipStatus::Ok);
    EXPECT_EQ(writer.Close(), ZipStatus::Ok);
    return ReadFile(source + ".zip");
}

// Bytes from hex digits; spaces only separate fields.
std::string Hex(const char* digits) {
    std::string bytes;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p != ' ') {
            bytes += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
            ++p;
        }
    }
    return bytes;
}

std::string U32(uint32_t v) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) {
        bytes += static_cast<char>(v >> (8 * i) & 0xFF);
    }
    return bytes;
}

constexpr time_t kModified = 1623760496;  // 2021-06-15 12:34:56 UTC, 07:34:56 local
constexpr time_t kAccessed = 1641092645;  // 2022-01-02 03:04:05 UTC
constexpr time_t kBorn = 1583020798;      // 2020-02-29 23:59:58 UTC

TEST_F(ZipGolden, CloseRightAfterCreateGivesTheEmptyArchive) {
    TempDir dir;
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "empty.zip");
    EXPECT_EQ(writer.Close(), ZipStatus::Ok);
    EXPECT_EQ(ReadFile(dir / "empty.zip"), "PK\x05\x06" + std::string(18, '\0'));
    EXPECT_EQ(CheckWithPython(dir / "empty.zip", {}), "");
}

TEST_F(ZipGolden, EmptySourceNamedAJpgGivesThe136ByteArchive) {
    TempDir dir;
    const std::string source = dir / "a.jpg";
    WriteFile(source, "");
    ::chmod(source.c_str(), 0644);
    const std::string expected =
        // Local header: signature, version 2.0, flags (deflated at a high level), deflated, DOS time 07:34:56
        // and date 2021-06-15, CRC-32, compressed size 2, size 0, name length 5, extra length 17.
        Hex("504B0304 1400 0200 0800 5C3C CF52 00000000 02000000 00000000 0500 1100") + "a.jpg" +
        // Extended timestamp: modified, accessed, created.
        Hex("5554 0D00 07") + U32(kModified) + U32(kAccessed) + U32(kBorn) +
        // Member data at 52: an empty final block with fixed codes.
        Hex("0300") +
        // Central header at 54: signature, made by, version needed, the fields the local header has, extra
        // length 9, comment length, disk, internal attributes, external attributes (archive, regular file,
        // owner read and write), local header at 0.
        Hex("504B0102 170B 1400 0200 0800 5C3C CF52 00000000 02000000 00000000 0500 0900 0000 0000 0000") +
        Hex("2000 8081 00000000") + "a.jpg" + Hex("5554 0500 07") + U32(kModified) +
        // End record at 114: signature, disks, one entry here and in all, directory size 60 at offset 54.
        Hex("504B0506 0000 0000 0100 0100 3C000000 36000000 0000");
    ASSERT_EQ(expected.size(), 136u);
    EXPECT_EQ(ArchiveWithTimes(source, "a.jpg", kAccessed, kModified, kBorn), expected);
    EXPECT_EQ(CheckWithReaders(source + ".zip", {{"a.jpg", source}}), "");
}

TEST_F(ZipGolden, CreationTimeIsTheFilesOwnBirthTimeWithoutTheSeam) {
    TempDir dir;
    const std::string source = dir / "b.jpg";
    WriteFile(source, "x");
    const timespec times[2] = {{kAccessed, 0}, {kModified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    const auto info = platform::InfoOfPath(source);
    ASSERT_TRUE(info);
    zip::ZipWriter writer = zip::ZipWriter::Create(dir / "b.zip");
    ASSERT_EQ(writer.AddFile("b.jpg", source), ZipStatus::Ok);
    ASSERT_EQ(writer.Close(), ZipStatus::Ok);
    const uint32_t born = Le32(ReadFile(dir / "b.zip"), 30 + 5 + 13);
    EXPECT_EQ(born, uint32_t(zip::ClampedUnixTime(info->bornKnown ? info->born.tv_sec : kModified)));
}

// Times outside 1970..2037 keep their time of day; each of the three is limited by its own year.
TEST_F(ZipGolden, TimeClamps) {
    constexpr time_t k1965 = -152391233, k2050 = 2540884211;   // 1965-03-04 05:06:07, 2050-07-08 09:10:11
    constexpr uint32_t kTo1970 = 18367, kTo2037 = 2145863411;  // 1970-01-01 05:06:07, 2037-12-31 09:10:11
    const struct {
        time_t modified, accessed, born;
        uint32_t wantModified, wantAccessed, wantBorn;
        uint16_t wantDosDate, wantDosTime;
    } cases[] = {
        {k1965, kAccessed, kBorn, kTo1970, uint32_t(kAccessed), uint32_t(kBorn), 0x0021 /* 1980-01-01 */, 0},
        {k2050, kAccessed, kBorn, kTo2037, uint32_t(kAccessed), uint32_t(kBorn), 0x8CE8,
         0x2145 /* 04:10:11 */},
        {kModified, k2050, k1965, uint32_t(kModified), kTo2037, kTo1970, 0x52CF, 0x3C5C},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modified);
        TempDir dir;
        const std::string source = dir / "t.jpg";
        WriteFile(source, "data");
        const std::string a = ArchiveWithTimes(source, "t.jpg", c.accessed, c.modified, c.born);
        const size_t central = Le32(a, a.size() - 6);
        for (const size_t dos : {size_t{10}, central + 12}) {
            EXPECT_EQ(Le16(a, dos), c.wantDosTime);
            EXPECT_EQ(Le16(a, dos + 2), c.wantDosDate);
        }
        EXPECT_EQ(Le32(a, 35 + 5), c.wantModified);
        EXPECT_EQ(Le32(a, 35 + 9), c.wantAccessed);
        EXPECT_EQ(Le32(a, 35 + 13), c.wantBorn);
        EXPECT_EQ(Le32(a, central + 46 + 5 + 5), c.wantModified);
        EXPECT_EQ(CheckWithReaders(source + ".zip", {{"t.jpg", source}}), "");
    }
}

TEST_F(ZipGolden, UnixTimeLimitsAndDosStamps) {
    const struct {
        time_t in;
        int32_t out;
    } unixTimes[] = {
        {0, 0},
        {-1, 86399},                      // 1969-12-31 23:59:59
        {-86400 * 365, 0},                // 1969-01-01 00:00:00
        {2145916799, 2145916799},         // 2037-12-31 23:59:59 stays
        {2145916800, 2145830400},         // 2038-01-01 00:00:00
        {2145916800 + 3661, 2145834061},  // 2038-01-01 01:01:01
    };
    for (const auto& c : unixTimes) {
        EXPECT_EQ(zip::ClampedUnixTime(c.in), c.out) << c.in;
    }
    const struct {
        time_t in;
        uint32_t out;
    } dosStamps[] = {
        {kModified, 0x52CF3C5Cu},  {315550800, 0x00210000u},  // 1980-01-01 00:00:00 local, the first stamp
        {315550799, 0x00210000u},                             // one second earlier, held at the first stamp
        {0, 0x00210000u},                                     // 1969-12-31 19:00 local
        {315550801, 0x00210000u},                             // odd seconds are dropped
        {315550802, 0x00210001u},                             // two seconds
        {4354855200, 0xFF9FBF7Du},                            // 2108-01-01 00:00 local: past the last stamp
    };
    for (const auto& c : dosStamps) {
        EXPECT_EQ(zip::DosDateTime(c.in), c.out) << c.in;
    }
}

TEST(ZipFormat, ArchiveSuffixesInAnyCase) {
    for (const char* name : {"x.zip", "X.ZIP", "a.tar.gz", ".gz", "b.Gz", "c.TGZ", "d.Z", "d.z", "e.Zoo",
                             "f.arc", "g.LZH", "h.ArJ", "C:/a.b/c.zip"}) {
        EXPECT_TRUE(zip::HasArchiveSuffix(name)) << name;
    }
    for (const char* name : {"photo.zip.jpg", "README", "IMG_0001.JPG", "dir.zip/file", "x.zipx", "x.gzz",
                             "zip", "x.", "x.tar"}) {
        EXPECT_FALSE(zip::HasArchiveSuffix(name)) << name;
    }
}

}  // namespace

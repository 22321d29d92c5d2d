// The reader against archives from writers we did not write, against the layout Tovaro writes, and through
// a file whose reads fail.
#include <gtest/gtest.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "platform/Sys.h"
#include "tests/support/TempDir.h"
#include "tests/zip/ZipCheck.h"
#include "zip/ZipReader.h"

namespace {

using namespace testsupport;
using zip::ReadStatus;
using zipcheck::Crc32;

// Python's zipfile, writing to a file or, with "-", to a pipe it cannot seek back in.
const char* kPythonZip =
    "import sys, zipfile\n"
    "out = sys.stdout.buffer if sys.argv[1] == '-' else sys.argv[1]\n"
    "method = zipfile.ZIP_STORED if sys.argv[2] == 'stored' else zipfile.ZIP_DEFLATED\n"
    "with zipfile.ZipFile(out, 'w', method) as z:\n"
    "    for name in sys.argv[3:]:\n"
    "        z.write(name)\n";

struct ForeignWriter {
    const char* label;
    const char* command;  // run in the folder of the files; %s stands for the list of names
    bool stored;
};

class ForeignArchives : public testing::TestWithParam<ForeignWriter> {};

TEST_P(ForeignArchives, ReadBackAndVerify) {
    const ForeignWriter& writer = GetParam();
    TempDir dir;
    // None, one byte, and several read chunks, compressible or not.
    const std::map<std::string, std::string> files = {{"empty.jpg", ""},
                                                      {"one.bmp", "x"},
                                                      {"photo.jpg", zipcheck::PhotoLikeBytes(150000, 7)},
                                                      {"text.gif", zipcheck::CompressibleBytes(200000)}};
    std::string names;
    for (const auto& [name, contents] : files) {
        WriteFile(dir / name, contents);
        names += " " + name;
    }
    std::string command = writer.command;
    command.replace(command.find("%s"), 2, names);
    const std::string script =
        "PYZIP=" + ShellQuote(kPythonZip) + "; cd " + ShellQuote(dir.Path()) + " && " + command;
    std::string output;
    ASSERT_EQ(RunCommand("bash -c " + ShellQuote(script) + " 2>&1", &output), 0) << output;

    auto source = zip::FileByteSource::Open(dir / "out.zip");
    ASSERT_TRUE(source.has_value());
    zip::ZipReader reader(*source);
    const zip::ReadResult opened = reader.Open();
    ASSERT_TRUE(opened.Ok()) << opened.reason;
    ASSERT_EQ(reader.Members().size(), files.size());
    for (const auto& [name, contents] : files) {
        SCOPED_TRACE(name);
        const size_t index = reader.Find(name);
        ASSERT_NE(index, zip::ZipReader::kNotFound);
        const zip::MemberInfo& member = reader.Members()[index];
        EXPECT_EQ(member.uncompressedSize, contents.size());
        if (writer.stored || name == "text.gif") {
            EXPECT_EQ(member.method, writer.stored ? 0 : 8);
        }
        const zip::ReadResult verified = reader.Verify(index, Crc32(contents), contents.size());
        EXPECT_TRUE(verified.Ok()) << verified.reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, ForeignArchives,
    testing::Values(ForeignWriter{"python_stored", "python3 -c \"$PYZIP\" out.zip stored %s", true},
                    ForeignWriter{"python_deflated", "python3 -c \"$PYZIP\" out.zip deflated %s", false},
                    ForeignWriter{"python_streamed", "python3 -c \"$PYZIP\" - deflated %s | cat >out.zip",
                                  false},
                    ForeignWriter{"infozip_deflated", "zip -q -X out.zip %s", false},
                    ForeignWriter{"infozip_stored", "zip -q -X -0 out.zip %s", true},
                    ForeignWriter{"infozip_streamed", "zip -q -X - %s | cat >out.zip", false}),
    [](const testing::TestParamInfo<ForeignWriter>& p) { return std::string(p.param.label); });

TEST(OwnLayout, EveryCentralFieldIsRead) {
    // The archive Tovaro writes for one empty source named a.jpg.
    const std::string bytes(
        "PK\x03\x04\x14\x00\x02\x00\x08\x00\x00\x60\x85\x5b\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00"
        "\x05\x00\x11\x00"
        "a.jpgUT\x0d\x00\x07\x00\xf1\x53\x65\x00\xf1\x53\x65\x00\xf1\x53\x65\x03\x00"
        "PK\x01\x02\x17\x0b\x14\x00\x02\x00\x08\x00\x00\x60\x85\x5b\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00"
        "\x00\x00\x05\x00\x09\x00\x00\x00\x00\x00\x00\x00\x20\x00\x80\x81\x00\x00\x00\x00"
        "a.jpgUT\x05\x00\x07\x00\xf1\x53\x65"
        "PK\x05\x06\x00\x00\x00\x00\x01\x00\x01\x00\x3c\x00\x00\x00\x36\x00\x00\x00\x00\x00",
        136);
    zip::MemoryByteSource source(bytes);
    zip::ZipReader reader(source);
    ASSERT_TRUE(reader.Open().Ok());
    ASSERT_EQ(reader.Members().size(), 1u);
    const zip::MemberInfo& m = reader.Members()[0];
    EXPECT_EQ(m.name, "a.jpg");
    EXPECT_EQ(std::tie(m.versionMadeBy, m.versionNeeded, m.flags, m.method, m.dosTime, m.dosDate),
              std::make_tuple(0x0B17, 20, 2, 8, 0x6000, 0x5B85));
    EXPECT_EQ(
        std::tie(m.crc32, m.compressedSize, m.uncompressedSize, m.externalAttributes, m.localHeaderOffset),
        std::make_tuple(0u, 2u, 0u, 0x81800020u, 0u));
    EXPECT_TRUE(reader.Verify(0, 0, 0).Ok());
    EXPECT_EQ(reader.Find("a.jp"), zip::ZipReader::kNotFound);
}

// The caller's own record of a member must agree with the data, not just the archive with itself.
TEST(ExpectedValues, AWrongCrcOrSizeIsAMismatch) {
    const std::string contents[] = {zipcheck::PhotoLikeBytes(100000, 3), std::string(90000, 'z')};
    const auto archive =
        zipcheck::BuildArchive({{"stored.zip", contents[0], 0}, {"deflated.jpg", contents[1]}});
    zip::MemoryByteSource source(archive.bytes);
    zip::ZipReader reader(source);
    ASSERT_TRUE(reader.Open().Ok());
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(reader.Members()[i].name);
        const uint32_t crc = Crc32(contents[i]);
        const uint64_t size = contents[i].size();
        EXPECT_TRUE(reader.Verify(i, crc, size).Ok());
        EXPECT_TRUE(reader.Verify(i).Ok());
        const zip::ReadResult wrongCrc = reader.Verify(i, crc ^ 0x80000000u, size);
        EXPECT_EQ(wrongCrc.status, ReadStatus::Mismatch);
        EXPECT_NE(wrongCrc.reason.find("expected CRC-32"), std::string::npos) << wrongCrc.reason;
        for (const uint64_t wrongSize : {size + 1, size - 1, size + (uint64_t{1} << 32)}) {
            EXPECT_EQ(reader.Verify(i, crc, wrongSize).status, ReadStatus::Mismatch) << wrongSize;
        }
    }
}

// Reads that fail (or, with g_endEarly, find the end) once `g_readsLeft` have passed, or that only count.
int g_readsLeft = 0;
bool g_endEarly = false;
ssize_t ReadThenFail(int fd, void* buffer, size_t count) {
    if (g_readsLeft-- <= 0) {
        return g_endEarly ? 0 : (errno = EIO, -1);
    }
    return ::read(fd, buffer, count);
}
ssize_t ReadAndCount(int fd, void* buffer, size_t count) {
    ++g_readsLeft;
    return ::read(fd, buffer, count);
}

// Opens the archive and verifies every member; the first result that is not Ok, or Ok.
zip::ReadResult OpenAndVerifyAll(const std::string& path) {
    auto source = zip::FileByteSource::Open(path);
    if (!source) {
        return {ReadStatus::ReadFailed, "cannot open"};
    }
    zip::ZipReader reader(*source);
    zip::ReadResult result = reader.Open();
    for (size_t i = 0; result.Ok() && i < reader.Members().size(); ++i) {
        result = reader.Verify(i);
    }
    return result;
}

class FileFaults : public testing::Test {
  protected:
    void SetUp() override {
        WriteFile(m_path, zipcheck::BuildArchive({{"a.jpg", zipcheck::PhotoLikeBytes(150000, 1)},
                                                  {"b.zip", zipcheck::PhotoLikeBytes(140000, 2), 0},
                                                  {"c.jpg", std::string(300000, 'c')}})
                              .bytes);
    }
    platform::SysCalls With(ssize_t (*read)(int, void*, size_t)) {
        platform::SysCalls calls = platform::RealSysCalls();
        calls.read = read;
        return calls;
    }

    TempDir m_dir;
    std::string m_path = m_dir / "ArchivePics.zip";
};

// Whichever read fails, the failure comes back as a read failure: never as Ok, and never mistaken for
// damage in the archive.
TEST_F(FileFaults, EveryFailedReadIsReported) {
    g_readsLeft = 0;
    {
        platform::ScopedSysCalls scoped(With(ReadAndCount));
        ASSERT_TRUE(OpenAndVerifyAll(m_path).Ok());
    }
    const int reads = g_readsLeft;
    ASSERT_GT(reads, 8);
    for (const bool endEarly : {false, true}) {
        for (int failAt = 0; failAt < reads; ++failAt) {
            SCOPED_TRACE(failAt);
            g_readsLeft = failAt;
            g_endEarly = endEarly;
            platform::ScopedSysCalls scoped(With(ReadThenFail));
            const zip::ReadResult result = OpenAndVerifyAll(m_path);
            EXPECT_EQ(result.status, ReadStatus::ReadFailed) << result.reason;
        }
    }
}

TEST_F(FileFaults, FailedSeekOrUnknownSizeIsReported) {
    EXPECT_FALSE(zip::FileByteSource::Open(m_dir / "none.zip").has_value());
    EXPECT_FALSE(zip::FileByteSource::FromFile(platform::File()).has_value());
    platform::SysCalls calls = platform::RealSysCalls();
    calls.lseek = [](int, off_t, int) -> off_t { return errno = EIO, -1; };
    {
        platform::ScopedSysCalls scoped(calls);
        EXPECT_EQ(OpenAndVerifyAll(m_path).status, ReadStatus::ReadFailed);
    }
    calls = platform::RealSysCalls();
    calls.statx = [](int, const char*, int, unsigned, struct statx*) -> int { return errno = EIO, -1; };
    platform::ScopedSysCalls scoped(calls);
    EXPECT_FALSE(zip::FileByteSource::Open(m_path).has_value());
}

// The caller's own file, flushed and out of the cache; cut short after opening, it reads as a failure.
TEST_F(FileFaults, AFileTheCallerOpenedAndThatIsCutShortLater) {
    platform::File file = platform::File::OpenForReadWrite(m_path);
    ASSERT_TRUE(file.IsOpen() && file.Sync() && file.DropCache());
    auto source = zip::FileByteSource::FromFile(std::move(file));
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->Size(), ReadFile(m_path).size());
    zip::ZipReader reader(*source);
    ASSERT_TRUE(reader.Open().Ok());
    EXPECT_TRUE(reader.Verify(2, Crc32(std::string(300000, 'c')), 300000).Ok());
    std::filesystem::resize_file(m_path, 200000);
    EXPECT_TRUE(reader.Verify(0).Ok());
    EXPECT_EQ(reader.Verify(2).status, ReadStatus::ReadFailed);
}

}  // namespace

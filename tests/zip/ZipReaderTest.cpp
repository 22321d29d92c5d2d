// The reader against archives from writers we did not write, against the layout Tovaro writes, and through
// a file whose reads fail.
#include <gtest/gtest.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "platform/Sys.h"
#include "tests/support/TempDir.h"
#include "tests/zip/TestArchive.h"
#include "zip/ZipReader.h"

namespace {

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::ShellQuote;
using testsupport::TempDir;
using testsupport::WriteFile;
using zip::ReadStatus;

// Files of the sizes that matter: none, one byte, and several read chunks, compressible or not.
std::map<std::string, std::string> SampleFiles() {
    std::string text;
    while (text.size() < 200000) {
        text += "IMG_" + std::to_string(text.size()) + " a picture of the harbour at dusk\n";
    }
    return {{"empty.jpg", ""},
            {"one.bmp", "x"},
            {"photo.jpg", ziptest::NoiseBytes(150000, 7)},
            {"text.gif", text}};
}

std::string NameList(const std::map<std::string, std::string>& files) {
    std::string names;
    for (const auto& [name, contents] : files) {
        names += " " + ShellQuote(name);
    }
    return names;
}

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

void PrintTo(const ForeignWriter& writer, std::ostream* out) {
    *out << writer.label;
}

class ForeignArchives : public testing::TestWithParam<ForeignWriter> {};

TEST_P(ForeignArchives, ReadBackAndVerify) {
    const ForeignWriter& writer = GetParam();
    TempDir dir;
    const auto files = SampleFiles();
    for (const auto& [name, contents] : files) {
        WriteFile(dir / name, contents);
    }
    std::string command = writer.command;
    command.replace(command.find("%s"), 2, NameList(files));
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
        if (writer.stored) {
            EXPECT_EQ(member.method, 0);
        } else if (name == "text.gif") {
            EXPECT_EQ(member.method, 8);
        }
        const zip::ReadResult verified = reader.Verify(index, ziptest::Crc32(contents), contents.size());
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

// The archive Tovaro writes for one empty source named a.jpg, byte for byte.
const std::string kOwnLayout(
    "\x50\x4b\x03\x04\x14\x00\x02\x00\x08\x00\x00\x60\x85\x5b\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00"
    "\x05"
    "\x00\x11\x00\x61\x2e\x6a\x70\x67\x55\x54\x0d\x00\x07\x00\xf1\x53\x65\x00\xf1\x53\x65\x00\xf1\x53\x65\x03"
    "\x00"
    "\x50\x4b\x01\x02\x17\x0b\x14\x00\x02\x00\x08\x00\x00\x60\x85\x5b\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00"
    "\x00"
    "\x00\x05\x00\x09\x00\x00\x00\x00\x00\x00\x00\x20\x00\x80\x81\x00\x00\x00\x00\x61\x2e\x6a\x70\x67\x55\x54"
    "\x05"
    "\x00\x07\x00\xf1\x53\x65\x50\x4b\x05\x06\x00\x00\x00\x00\x01\x00\x01\x00\x3c\x00\x00\x00\x36\x00\x00\x00"
    "\x00"
    "\x00",
    136);

TEST(OwnLayout, EveryCentralFieldIsRead) {
    zip::MemoryByteSource source(kOwnLayout);
    zip::ZipReader reader(source);
    ASSERT_TRUE(reader.Open().Ok());
    ASSERT_EQ(reader.Members().size(), 1u);
    const zip::MemberInfo& m = reader.Members()[0];
    EXPECT_EQ(m.name, "a.jpg");
    EXPECT_EQ(m.versionMadeBy, 0x0B17);
    EXPECT_EQ(m.versionNeeded, 20);
    EXPECT_EQ(m.flags, 0x0002);
    EXPECT_EQ(m.method, 8);
    EXPECT_EQ(m.dosTime, 0x6000);
    EXPECT_EQ(m.dosDate, 0x5B85);
    EXPECT_EQ(m.crc32, 0u);
    EXPECT_EQ(m.compressedSize, 2u);
    EXPECT_EQ(m.uncompressedSize, 0u);
    EXPECT_EQ(m.externalAttributes, 0x81800020u);
    EXPECT_EQ(m.localHeaderOffset, 0u);
    EXPECT_TRUE(reader.Verify(0, 0, 0).Ok());
    EXPECT_EQ(reader.Find("a.jpg"), 0u);
    EXPECT_EQ(reader.Find("a.jp"), zip::ZipReader::kNotFound);
}

TEST(OwnLayout, EmptyArchiveHasNoMembers) {
    const std::string empty = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    zip::MemoryByteSource source(empty);
    zip::ZipReader reader(source);
    ASSERT_TRUE(reader.Open().Ok());
    EXPECT_TRUE(reader.Members().empty());
    EXPECT_EQ(reader.Verify(0).status, ReadStatus::NoSuchMember);
}

// The caller's own record of a member must agree with the data, not just the archive with itself.
TEST(ExpectedValues, AWrongCrcOrSizeIsAMismatch) {
    const std::string photo = ziptest::NoiseBytes(100000, 3);
    const std::string text(90000, 'z');
    const auto archive = ziptest::BuildArchive({{"stored.zip", photo, 0}, {"deflated.jpg", text, 8}});
    zip::MemoryByteSource source(archive.bytes);
    zip::ZipReader reader(source);
    ASSERT_TRUE(reader.Open().Ok());
    const std::string* contents[] = {&photo, &text};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(reader.Members()[i].name);
        const uint32_t crc = ziptest::Crc32(*contents[i]);
        const uint64_t size = contents[i]->size();
        EXPECT_TRUE(reader.Verify(i, crc, size).Ok());
        EXPECT_TRUE(reader.Verify(i).Ok());
        const zip::ReadResult wrongCrc = reader.Verify(i, crc ^ 0x80000000u, size);
        EXPECT_EQ(wrongCrc.status, ReadStatus::Mismatch);
        EXPECT_NE(wrongCrc.reason.find("expected CRC-32"), std::string::npos) << wrongCrc.reason;
        EXPECT_EQ(reader.Verify(i, crc, size + 1).status, ReadStatus::Mismatch);
        EXPECT_EQ(reader.Verify(i, crc, size - 1).status, ReadStatus::Mismatch);
        EXPECT_EQ(reader.Verify(i, crc, size + (uint64_t{1} << 32)).status, ReadStatus::Mismatch);
    }
}

// Faults injected below the file source. The replacement calls read their state from here.
int g_readsLeft = 0;
ssize_t (*g_realRead)(int, void*, size_t) = nullptr;

ssize_t ReadThenFail(int fd, void* buffer, size_t count) {
    if (g_readsLeft-- <= 0) {
        errno = EIO;
        return -1;
    }
    return g_realRead(fd, buffer, count);
}

ssize_t ReadThenEnd(int fd, void* buffer, size_t count) {
    if (g_readsLeft-- <= 0) {
        return 0;
    }
    return g_realRead(fd, buffer, count);
}

ssize_t ReadAndCount(int fd, void* buffer, size_t count) {
    ++g_readsLeft;
    return g_realRead(fd, buffer, count);
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
        g_realRead = platform::RealSysCalls().read;
        const auto archive = ziptest::BuildArchive({{"a.jpg", ziptest::NoiseBytes(150000, 1), 8},
                                                    {"b.zip", ziptest::NoiseBytes(140000, 2), 0},
                                                    {"c.jpg", std::string(300000, 'c'), 8}});
        m_path = m_dir / "ArchivePics.zip";
        WriteFile(m_path, archive.bytes);
    }

    TempDir m_dir;
    std::string m_path;
};

// Whichever read fails, the failure comes back as a read failure: never as Ok, and never mistaken for
// damage in the archive.
TEST_F(FileFaults, EveryFailedReadIsReported) {
    g_readsLeft = 0;
    platform::SysCalls counting = platform::RealSysCalls();
    counting.read = ReadAndCount;
    {
        platform::ScopedSysCalls scoped(counting);
        ASSERT_TRUE(OpenAndVerifyAll(m_path).Ok());
    }
    const int reads = g_readsLeft;
    ASSERT_GT(reads, 8);
    for (auto* replacement : {ReadThenFail, ReadThenEnd}) {
        for (int failAt = 0; failAt < reads; ++failAt) {
            SCOPED_TRACE(failAt);
            platform::SysCalls calls = platform::RealSysCalls();
            calls.read = replacement;
            g_readsLeft = failAt;
            platform::ScopedSysCalls scoped(calls);
            const zip::ReadResult result = OpenAndVerifyAll(m_path);
            EXPECT_EQ(result.status, ReadStatus::ReadFailed) << result.reason;
        }
    }
}

TEST_F(FileFaults, FailedSeekIsReported) {
    platform::SysCalls calls = platform::RealSysCalls();
    calls.lseek = [](int, off_t, int) -> off_t {
        errno = EIO;
        return -1;
    };
    platform::ScopedSysCalls scoped(calls);
    EXPECT_EQ(OpenAndVerifyAll(m_path).status, ReadStatus::ReadFailed);
}

TEST_F(FileFaults, UnknownSizeMeansNoSource) {
    platform::SysCalls calls = platform::RealSysCalls();
    calls.statx = [](int, const char*, int, unsigned, struct statx*) -> int {
        errno = EIO;
        return -1;
    };
    platform::ScopedSysCalls scoped(calls);
    EXPECT_FALSE(zip::FileByteSource::Open(m_path).has_value());
}

TEST_F(FileFaults, MissingFileMeansNoSource) {
    EXPECT_FALSE(zip::FileByteSource::Open(m_dir / "none.zip").has_value());
    EXPECT_FALSE(zip::FileByteSource::FromFile(platform::File()).has_value());
}

TEST_F(FileFaults, FileCutShortAfterOpeningIsAReadFailure) {
    auto source = zip::FileByteSource::Open(m_path);
    ASSERT_TRUE(source.has_value());
    zip::ZipReader reader(*source);
    ASSERT_TRUE(reader.Open().Ok());
    std::filesystem::resize_file(m_path, 200000);
    EXPECT_TRUE(reader.Verify(0).Ok());
    EXPECT_EQ(reader.Verify(2).status, ReadStatus::ReadFailed);
}

TEST_F(FileFaults, ReadsAFileTheCallerOpened) {
    platform::File file = platform::File::OpenForReadWrite(m_path);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.Sync());
    ASSERT_TRUE(file.DropCache());
    auto source = zip::FileByteSource::FromFile(std::move(file));
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->Size(), ReadFile(m_path).size());
    zip::ZipReader reader(*source);
    ASSERT_TRUE(reader.Open().Ok());
    EXPECT_TRUE(reader.Verify(2, ziptest::Crc32(std::string(300000, 'c')), 300000).Ok());
}

}  // namespace

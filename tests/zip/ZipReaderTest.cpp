// The reader: archives of other writers, every cut and every flipped byte of our own through the fuzz
// target's check, and direct reads across its window.
#include <gtest/gtest.h>
#include <algorithm>
#include <cerrno>

#include "tests/fuzz/ZipReaderFuzz.h"
#include "tests/zip/ZipCheck.h"

using namespace testsupport;

namespace {

bool AllOk(const std::string& bytes) {
    const auto check = fuzz::CheckArchive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return check.open.Ok() && std::all_of(check.members.begin(), check.members.end(),
                                          [](const zip::ReadResult& r) { return r.Ok(); });
}

TEST(ZipReader, EveryMemberOfTwoOtherWritersArchivesVerifies) {
    TempDir dir;
    const std::string script = std::string(TOVARO_SOURCE_DIR) + "/tests/fuzz/make_seeds.py";
    ASSERT_EQ(RunCommand("python3 " + ShellQuote(script) + " " + ShellQuote(dir.Path())), 0);
    ASSERT_EQ(ListNames(dir.Path()), (std::vector<std::string>{"infozip-streamed.zip", "python.zip"}));
    for (const std::string& name : ListNames(dir.Path())) {
        EXPECT_TRUE(AllOk(ReadFile(dir / name))) << name;
    }
}

// Cut anywhere, an archive fails to open (the front part) or fails somewhere (the back part). A flipped byte
// fails something unless its field describes the data without taking part in reading it.
TEST(ZipReader, EveryCutAndEveryFlippedByteIsNoticed) {
    TempDir dir;
    WriteFile(dir / "one.zip", zipcheck::PhotoLikeBytes(3000, 1));
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
    const std::string bytes = zipcheck::PhotoLikeBytes((9 << 20) + 123, 5);
    WriteFile(dir / "big", bytes);
    auto source = zip::DirectFileByteSource::Open(dir / "big");
    if (!source && errno == EINVAL) {
        GTEST_SKIP() << "no direct reads on the file system of " << dir.Path();
    }
    ASSERT_TRUE(source);
    constexpr size_t kWindow = 4 << 20;
    const size_t reads[][2] = {{kWindow - 10, 20}, {10, 2 * kWindow + 5}, {bytes.size() - 5, 5}, {4095, 2}};
    for (const auto& [offset, count] : reads) {
        std::string got(count, '\0');
        EXPECT_TRUE(source->ReadAt(offset, got.data(), count) && got == bytes.substr(offset, count))
            << offset;
    }
    char past = 0;
    EXPECT_FALSE(source->ReadAt(bytes.size(), &past, 1));
}

}  // namespace

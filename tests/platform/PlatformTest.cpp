#include <gtest/gtest.h>
#include <unistd.h>
#include <clocale>
#include <cstdlib>
#include <ctime>

#include "platform/ExecutablePath.h"
#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Path.h"
#include "platform/Time.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

TEST(Path, JoinAlwaysAddsOneSlash) {
    EXPECT_EQ(platform::JoinPath("/media/card", "IMG.JPG"), "/media/card/IMG.JPG");
    EXPECT_EQ(platform::JoinPath("/media/card/", "IMG.JPG"), "/media/card//IMG.JPG");
    EXPECT_EQ(platform::JoinPath("~", "a.jpg"), "~/a.jpg");
    EXPECT_EQ(platform::FolderOf("/a/b.jpg"), "/a");
    EXPECT_EQ(platform::FolderOf("/b.jpg"), "/");
    EXPECT_EQ(platform::FolderOf("b.jpg"), ".");
    EXPECT_EQ(platform::NameOf("/a/b.jpg"), "b.jpg");
}

TEST(ExecutablePath, IsFoundAndNamesTheApplication) {
    EXPECT_EQ(platform::ApplicationNameFor("/usr/bin/tovaro"), "tovaro");
    EXPECT_EQ(platform::ApplicationNameFor("C/PROG.EXE"), "PROG");
    EXPECT_FALSE(platform::ExecutablePath().empty());
}

TEST(ListFolder, TakesEveryEntryIncludingHiddenAndDots) {
    TempDir dir;
    WriteFile(dir / ".hidden.jpg", "");
    WriteFile(dir / "README", "");
    MakeFolder(dir / "holiday.jpg");
    const auto entries = platform::ListFolder(dir.Path());
    ASSERT_EQ(entries.size(), 5u);
    int dots = 0;
    for (const auto& e : entries) {
        dots += e.isDots;
        EXPECT_EQ(e.isDirectory, e.isDots || e.name == "holiday.jpg") << e.name;
    }
    EXPECT_EQ(dots, 2);
    EXPECT_TRUE(platform::ListFolder(dir / "missing").empty());
}

TEST(LocalDate, IsMonthDayYearInLocalTimeWhateverTheLocale) {
    const char* saved = std::getenv("TZ");
    const std::string savedTz = saved != nullptr ? saved : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const time_t dec5 = 1796428800;  // 2026-12-05 00:00:00 UTC
    EXPECT_EQ(platform::LocalDateMMDDYY(dec5), "12/05/26");
    for (const char* locale : {"de_DE.UTF-8", "en_GB.UTF-8", "C.UTF-8"}) {
        std::setlocale(LC_ALL, locale);  // may not exist here; the result must not depend on it either way
        EXPECT_EQ(platform::LocalDateMMDDYY(dec5), "12/05/26") << locale;
    }
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    EXPECT_EQ(platform::LocalDateMMDDYY(dec5), "12/04/26");  // still the evening before, locally
    EXPECT_EQ(platform::LocalDateMMDDYY(0), "12/31/69");
    saved != nullptr ? ::setenv("TZ", savedTz.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    std::setlocale(LC_ALL, "C");
}

TEST(ReplaceFileContents, ReplacesWholeAndLeavesNoTemporaryFile) {
    TempDir dir;
    WriteFile(dir / "s.ini", "old contents that are longer");
    EXPECT_TRUE(platform::ReplaceFileContents(dir / "s.ini", "new"));
    EXPECT_EQ(ReadFile(dir / "s.ini"), "new");
    EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"s.ini"});
    EXPECT_TRUE(platform::ReplaceFileContents(dir / "fresh.ini", "made"));
    EXPECT_EQ(ReadFile(dir / "fresh.ini"), "made");
    EXPECT_FALSE(platform::ReplaceFileContents(dir / "missing/x.ini", "x"));
}

TEST(ReplaceFileContents, AFailedWriteOrFlushKeepsTheOldFile) {
    TempDir dir;
    WriteFile(dir / "s.ini", "old");
    platform::SysCalls calls = platform::RealSysCalls();
    calls.write = Fail<ENOSPC>;
    {
        platform::ScopedSysCalls scoped(calls);
        EXPECT_FALSE(platform::ReplaceFileContents(dir / "s.ini", "new"));
    }
    EXPECT_EQ(ReadFile(dir / "s.ini"), "old");
    calls = platform::RealSysCalls();
    calls.fsync = Fail<EIO>;
    platform::ScopedSysCalls scoped(calls);
    EXPECT_FALSE(platform::ReplaceFileContents(dir / "s.ini", "flushed"));
    EXPECT_EQ(ReadFile(dir / "s.ini"), "old");
    EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"s.ini"});
}

TEST(ReplaceFileContents, ReplacesTheTargetOfALinkAndKeepsTheLink) {
    TempDir dir;
    WriteFile(dir / "real.ini", "old");
    ASSERT_EQ(::symlink("real.ini", (dir / "link.ini").c_str()), 0);
    EXPECT_TRUE(platform::ReplaceFileContents(dir / "link.ini", "new"));
    EXPECT_EQ(ReadFile(dir / "real.ini"), "new");
    const auto link = platform::InfoOfPath(dir / "link.ini", /*followLinks=*/false);
    ASSERT_TRUE(link.has_value());
    EXPECT_TRUE(link->IsSymlink());
}

TEST(File, ReadsAndWritesAtAnOffsetWithoutMovingThePosition) {
    TempDir dir;
    WriteFile(dir / "s.ini", "counter=0042\n");
    platform::File file = platform::File::OpenForReadWrite(dir / "s.ini");
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.WriteAt(10, "77", 2));
    char buffer[4] = {};
    EXPECT_TRUE(file.ReadAt(8, buffer, 4));
    EXPECT_EQ(std::string(buffer, 4), "0077");
    EXPECT_FALSE(file.ReadAt(11, buffer, 4));  // only three bytes are left there
    EXPECT_EQ(errno, ENODATA);
    char start[7] = {};
    EXPECT_EQ(file.Read(start, 7), 7);  // still at the start
    EXPECT_EQ(std::string(start, 7), "counter");
    file.Close();
    EXPECT_EQ(ReadFile(dir / "s.ini"), "counter=0077\n");
}

}  // namespace

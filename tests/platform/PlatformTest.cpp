#include <gtest/gtest.h>
#include <unistd.h>
#include <clocale>
#include <cstdlib>
#include <ctime>

#include "platform/ExecutablePath.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Time.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

TEST(Path, JoinAlwaysAddsOneSlashAndTheProgramNamesItself) {
    EXPECT_EQ(platform::JoinPath("/media/card/", "IMG.JPG"), "/media/card//IMG.JPG");
    EXPECT_EQ(platform::FolderOf("/b.jpg"), "/");
    EXPECT_EQ(platform::FolderOf("b.jpg"), ".");
    EXPECT_EQ(platform::ApplicationNameFor("C/PROG.EXE"), "PROG");
    EXPECT_EQ(platform::ApplicationNameFor(platform::ExecutablePath()), "platform_tests");
}

// (Each test runs in a process of its own: the time zone and locale set here go no further.)
TEST(LocalDate, IsMonthDayYearInLocalTimeWhateverTheLocale) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const time_t dec5 = 1796428800;  // 2026-12-05 00:00:00 UTC
    for (const char* locale : {"de_DE.UTF-8", "en_GB.UTF-8", "C"}) {
        std::setlocale(LC_ALL, locale);  // may not exist here; the result must not depend on it either way
        EXPECT_EQ(platform::LocalDateMMDDYY(dec5), "12/05/26") << locale;
    }
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    EXPECT_EQ(platform::LocalDateMMDDYY(dec5), "12/04/26");  // still the evening before, locally
}

// Temporary files left by a killed run of this machine go: of an earlier boot, or of a process that is gone,
// and not locked. Nothing else does: a running process's, even before it is locked; another machine's; a
// locked one; a file of the user's named much like ours.
TEST(File, StaleTemporaryFilesAreSweptAndNothingElse) {
    TempDir dir;
    std::string held;
    const auto holding = platform::CreateTemporaryBeside(dir / "x.jpg", &held);
    ASSERT_TRUE(holding);
    const std::string name = platform::NameOf(held);  // .tovaro-MACHINE-BOOT-PID-RANDOM.part
    const std::string machine = name.substr(8, 32), boot = name.substr(41, 32);
    const auto named = [&](const std::string& m, const std::string& b, const std::string& pid) {
        return ".tovaro-" + m + "-" + b + "-" + pid + "-0123456789abcdef.part";
    };
    const std::string other(32, 'e'), gone = "999999999", alive = std::to_string(::getpid());
    const std::vector<std::pair<std::string, bool>> files = {
        {named(machine, other, alive), false}, {named(machine, boot, gone), false},
        {named(machine, boot, alive), true},   {named(other, other, gone), true},
        {named(machine, other, "1"), true},    {".tovaro-0123456789abcdef.part", true},
        {".tovaro-notes.txt", true},
    };
    for (const auto& [file, stays] : files) {
        WriteFile(dir / file, "x");
    }
    // The last of an earlier boot is held by someone.
    auto locked = platform::File::OpenForReadWrite(dir / files[4].first);
    ASSERT_TRUE(locked->TryLockExclusive().Ok());
    platform::RemoveStaleTemporaries(dir.Path());
    EXPECT_EQ(ListNames(dir.Path()).size(), 6u);
    EXPECT_TRUE(Exists(held));
    for (const auto& [file, stays] : files) {
        EXPECT_EQ(Exists(dir / file), stays) << file;
    }
}

}  // namespace

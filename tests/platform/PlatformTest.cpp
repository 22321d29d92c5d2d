#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/Path.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

// The folder whose flush makes a name durable, for a name at the root or without a folder.
TEST(Path, FolderOf) {
    EXPECT_EQ(platform::FolderOf("/b.jpg"), "/");
    EXPECT_EQ(platform::FolderOf("b.jpg"), ".");
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
    EXPECT_TRUE(Exists(held));
    for (const auto& [file, stays] : files) {
        EXPECT_EQ(Exists(dir / file), stays) << file;
    }
}

}  // namespace

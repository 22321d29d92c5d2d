#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>

#include "platform/File.h"
#include "platform/Move.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"

using namespace testsupport;
using platform::MoveNoReplace;
using platform::MoveOutcome;
using Names = std::vector<std::string>;

namespace {

TEST(MoveNoReplace, WithinOneFileSystemNeverReplaces) {
    for (const bool withFlag : {true, false}) {  // some file systems refuse RENAME_NOREPLACE
        SCOPED_TRACE(withFlag ? "with the no-replace flag" : "without it");
        platform::SysCalls calls = platform::RealSysCalls();
        if (!withFlag) {
            calls.renameat2 = Fail<EINVAL>;
        }
        platform::ScopedSysCalls scoped(calls);
        TempDir dir;
        WriteFile(dir / "a.jpg", "picture");
        WriteFile(dir / "old.jpg", "old");
        EXPECT_EQ(MoveNoReplace(dir / "a.jpg", dir / "old.jpg").Error(), EEXIST);
        EXPECT_EQ(ReadFile(dir / "old.jpg"), "old");
        EXPECT_TRUE(MoveNoReplace(dir / "a.jpg", dir / "b.jpg").Moved());
        EXPECT_EQ(ReadFile(dir / "b.jpg"), "picture");
        EXPECT_EQ(MoveNoReplace(dir / "none.jpg", dir / "c.jpg").Error(), ENOENT);
        MakeFolder(dir / "holiday.jpg");
        EXPECT_TRUE(MoveNoReplace(dir / "holiday.jpg", dir / "trip.jpg").Moved());
        EXPECT_EQ(ListNames(dir.Path()), (Names{"b.jpg", "old.jpg", "trip.jpg"}));
    }
    TempDir dir;
    WriteFile(dir / "b.jpg", "b");
    EXPECT_TRUE(MoveNoReplace(dir / "b.jpg", dir / "b.jpg").Moved());  // onto itself: kept
    ASSERT_EQ(::link((dir / "b.jpg").c_str(), (dir / "B.JPG").c_str()), 0);
    EXPECT_EQ(MoveNoReplace(dir / "B.JPG", dir / "b.jpg").Error(), EEXIST);  // two links: no change of case
    EXPECT_TRUE(Exists(dir / "B.JPG"));
}

int g_reads = 0;
std::atomic<bool> g_cancel{false}, g_stopOnSecondRead{false};

// On the copy's second read the user stops the transfer, where the row says so.
ssize_t ReadAndStop(int fd, void* buffer, size_t count) {
    g_cancel = g_cancel || (++g_reads == 2 && g_stopOnSecondRead);
    return ::read(fd, buffer, count);
}

// Across file systems a folder or a pipe stays, and a name already taken there stays as it was. (That a
// link moves as a link: the sweep's MoveAcrossFileSystems rows.)
TEST(MoveNoReplace, AcrossFileSystemsFoldersAndPipesStayAndNothingIsReplaced) {
    TempDir local, other;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = RenameAcrossFileSystems;
    platform::ScopedSysCalls scoped(calls);
    ASSERT_EQ(::mkfifo((other / "pipe.jpg").c_str(), 0644), 0);
    MakeFolder(other / "holiday.jpg");
    WriteFile(local / "taken.jpg", "old");
    WriteFile(other / "taken.jpg", "new");
    EXPECT_EQ(MoveNoReplace(other / "taken.jpg", local / "taken.jpg").Error(), EEXIST);
    EXPECT_EQ(MoveNoReplace(other / "holiday.jpg", local / "holiday.jpg").reason,
              "a folder cannot be moved to another file system");
    EXPECT_NE(MoveNoReplace(other / "pipe.jpg", local / "pipe.jpg").reason.find("pipe"), std::string::npos);
    EXPECT_EQ(ReadFile(local / "taken.jpg"), "old");
    EXPECT_EQ(ListNames(other.Path()), (Names{"holiday.jpg", "pipe.jpg", "taken.jpg"}));
}

// A copy to another file system (from /dev/shm where that is one) keeps the mode and times; a stop leaves
// only the source. (A source that changes during the copy, each failing call, the fallbacks and a
// write-protected source: tests/sweep. One still being written: the end-to-end CLI table.)
TEST(MoveNoReplace, AcrossFileSystemsNoPictureIsLostAndNoPartialFileLeft) {
    for (const bool stop : {false, true}) {
        TempDir source("/dev/shm"), destination;
        const std::string from = source / "IMG.JPG", to = destination / "IMG.jpg";
        WriteFile(from, std::string(3 << 20, 'q'));
        ::chmod(from.c_str(), 0640);
        const timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
        ::utimensat(AT_FDCWD, from.c_str(), times, 0);
        platform::SysCalls calls = platform::RealSysCalls();
        if (platform::InfoOfPath(source.Path())->device == platform::InfoOfPath(destination.Path())->device) {
            calls.renameat2 = RenameAcrossFileSystems;
        }
        calls.read = ReadAndStop;
        g_reads = 0;
        g_cancel = false;
        g_stopOnSecondRead = stop;
        platform::MoveResult result;
        {
            platform::ScopedSysCalls scoped(calls);
            result = MoveNoReplace(from, to, &g_cancel);
        }
        EXPECT_EQ(result.outcome, stop ? MoveOutcome::NotMoved : MoveOutcome::Moved) << result.reason;
        EXPECT_EQ(result.reason.empty(), !stop);
        EXPECT_EQ(Exists(from), stop);
        EXPECT_EQ(ListNames(destination.Path()), stop ? Names{} : Names{"IMG.jpg"});
        if (!stop) {
            const auto copy = platform::InfoOfPath(to);
            EXPECT_EQ(copy->mode & 07777, 0640);
            EXPECT_EQ(copy->modified.tv_sec, 1200000000);
            EXPECT_EQ(ReadFile(to), std::string(3 << 20, 'q'));
        }
    }
}

}  // namespace

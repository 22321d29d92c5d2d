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
using Names = std::vector<std::string>;

namespace {

TEST(MoveNoReplace, WithinOneFileSystemNeverReplaces) {
    // Some file systems refuse RENAME_NOREPLACE.
    for (const bool withFlag : {true, false}) {
        SCOPED_TRACE(withFlag);
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
        EXPECT_TRUE(MoveNoReplace(dir / "b.jpg", dir / "b.jpg").Moved());  // onto itself: kept
        EXPECT_EQ(ReadFile(dir / "b.jpg"), "picture");
        EXPECT_EQ(MoveNoReplace(dir / "none.jpg", dir / "c.jpg").Error(), ENOENT);
        MakeFolder(dir / "holiday.jpg");
        EXPECT_TRUE(MoveNoReplace(dir / "holiday.jpg", dir / "trip.jpg").Moved());
        // Two links to one file: no change of case.
        ASSERT_EQ(::link((dir / "b.jpg").c_str(), (dir / "B.JPG").c_str()), 0);
        EXPECT_EQ(MoveNoReplace(dir / "B.JPG", dir / "b.jpg").Error(), EEXIST);
        EXPECT_EQ(ListNames(dir.Path()), (Names{"B.JPG", "b.jpg", "old.jpg", "trip.jpg"}));
    }
}

int g_reads = 0;
std::atomic<bool> g_cancel{false};

// On the copy's second read the user stops the transfer (seen where the move is given the flag).
ssize_t ReadAndStop(int fd, void* buffer, size_t count) {
    g_cancel = g_cancel || ++g_reads == 2;
    return ::read(fd, buffer, count);
}

// Across file systems a folder stays, and a name already taken there stays as it was. (That a link moves as
// a link and a pipe stays: the sweep's MoveAcrossFileSystems rows.)
TEST(MoveNoReplace, AcrossFileSystemsFoldersStayAndNothingIsReplaced) {
    TempDir local, other;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = RenameAcrossFileSystems;
    platform::ScopedSysCalls scoped(calls);
    MakeFolder(other / "holiday.jpg");
    WriteFile(local / "taken.jpg", "old");
    WriteFile(other / "taken.jpg", "new");
    EXPECT_EQ(MoveNoReplace(other / "taken.jpg", local / "taken.jpg").Error(), EEXIST);
    EXPECT_EQ(MoveNoReplace(other / "holiday.jpg", local / "holiday.jpg").reason,
              "a folder cannot be moved to another file system");
    EXPECT_EQ(ReadFile(local / "taken.jpg"), "old");
    EXPECT_EQ(ListNames(other.Path()), (Names{"holiday.jpg", "taken.jpg"}));
}

// A copy to another file system (every rename made to cross) keeps the mode and times; a stop leaves
// only the source. (A source that changes during the copy, each failing call, the fallbacks and a
// write-protected source: tests/sweep. One still being written: the end-to-end CLI table.)
TEST(MoveNoReplace, AcrossFileSystemsNoPictureIsLostAndNoPartialFileLeft) {
    for (const bool stop : {false, true}) {
        TempDir source, destination;
        const std::string from = source / "IMG.JPG", to = destination / "IMG.jpg", picture(3 << 20, 'q');
        WriteFile(from, picture);
        ::chmod(from.c_str(), 0640);
        const timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
        ::utimensat(AT_FDCWD, from.c_str(), times, 0);
        platform::SysCalls calls = platform::RealSysCalls();
        calls.renameat2 = RenameAcrossFileSystems;
        calls.read = ReadAndStop;
        g_reads = 0;
        g_cancel = false;
        platform::ScopedSysCalls scoped(calls);
        const platform::MoveResult result = MoveNoReplace(from, to, stop ? &g_cancel : nullptr);
        EXPECT_EQ(result.Moved(), !stop) << result.reason;
        EXPECT_EQ(result.reason.empty(), !stop);
        EXPECT_EQ(Exists(from), stop);
        EXPECT_EQ(ListNames(destination.Path()), stop ? Names{} : Names{"IMG.jpg"});
        if (!stop) {
            const auto copy = platform::InfoOfPath(to);
            EXPECT_EQ(copy->mode & 07777, 0640);
            EXPECT_EQ(copy->modified.tv_sec, 1200000000);
            EXPECT_EQ(ReadFile(to), picture);
        }
    }
}

}  // namespace

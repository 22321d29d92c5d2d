#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/Move.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

bool OnDifferentFileSystems(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev != sb.st_dev;
}

TEST(MoveNoReplace, WithinOneFileSystem) {
    TempDir dir;
    WriteFile(dir / "a.jpg", "picture");
    WriteFile(dir / "old.jpg", "old");
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "old.jpg"), EEXIST);  // never replaces
    EXPECT_EQ(ReadFile(dir / "old.jpg"), "old");
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "a.jpg"), 0);  // onto itself: kept
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "b.jpg"), 0);
    EXPECT_FALSE(Exists(dir / "a.jpg"));
    EXPECT_EQ(ReadFile(dir / "b.jpg"), "picture");
    // Two hard links of one file are not taken for a change of case.
    ASSERT_EQ(::link((dir / "b.jpg").c_str(), (dir / "A.JPG").c_str()), 0);
    EXPECT_EQ(platform::MoveNoReplace(dir / "A.JPG", dir / "b.jpg"), EEXIST);
    EXPECT_TRUE(Exists(dir / "A.JPG"));
    ASSERT_EQ(::link((dir / "b.jpg").c_str(), (dir / "B.JPG").c_str()), 0);
    EXPECT_EQ(platform::MoveNoReplace(dir / "B.JPG", dir / "b.jpg"), EEXIST);  // not a change of case
    EXPECT_TRUE(Exists(dir / "B.JPG"));
    EXPECT_EQ(platform::MoveNoReplace(dir / "none.jpg", dir / "c.jpg"), ENOENT);
    EXPECT_EQ(platform::MoveNoReplace(dir / "b.jpg", dir / "missing-folder/c.jpg"), ENOENT);
    MakeFolder(dir / "holiday.jpg");
    WriteFile(dir / "holiday.jpg/inner.txt", "in");
    EXPECT_EQ(platform::MoveNoReplace(dir / "holiday.jpg", dir / "trip.jpg"), 0);
    EXPECT_EQ(ReadFile(dir / "trip.jpg/inner.txt"), "in");
}

// File systems that refuse RENAME_NOREPLACE still must not replace.
TEST(MoveNoReplace, WithoutTheNoReplaceFlagStillNeverReplaces) {
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = Fail<EINVAL>;
    platform::ScopedSysCalls scoped(calls);
    TempDir dir;
    WriteFile(dir / "a.jpg", "a");
    WriteFile(dir / "c.jpg", "c");
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "c.jpg"), EEXIST);
    EXPECT_EQ(ReadFile(dir / "c.jpg"), "c");
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "b.jpg"), 0);
    EXPECT_EQ(ReadFile(dir / "b.jpg"), "a");
    EXPECT_FALSE(Exists(dir / "a.jpg"));
    MakeFolder(dir / "f.jpg");
    EXPECT_EQ(platform::MoveNoReplace(dir / "f.jpg", dir / "c.jpg"), EEXIST);
    EXPECT_EQ(platform::MoveNoReplace(dir / "f.jpg", dir / "g.jpg"), 0);
}

TEST(MoveNoReplace, CopiesAcrossRealFileSystemsKeepingModeAndTimes) {
    TempDir local;
    TempDir shm("/dev/shm");
    if (!OnDifferentFileSystems(local.Path(), shm.Path())) {
        GTEST_SKIP() << "/dev/shm and the temporary folder share a file system here";
    }
    WriteFile(shm / "IMG.JPG", std::string(300000, 'p'));
    ASSERT_EQ(::chmod((shm / "IMG.JPG").c_str(), 0640), 0);
    const timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (shm / "IMG.JPG").c_str(), times, 0), 0);
    ASSERT_EQ(::symlink("target/elsewhere", (shm / "link.jpg").c_str()), 0);

    EXPECT_EQ(platform::MoveNoReplace(shm / "IMG.JPG", local / "IMG.jpg"), 0);
    EXPECT_EQ(platform::MoveNoReplace(shm / "link.jpg", local / "link.jpg"), 0);

    EXPECT_FALSE(Exists(shm / "IMG.JPG"));
    struct stat st {};
    ASSERT_EQ(::stat((local / "IMG.jpg").c_str(), &st), 0);  // before reading it moves the access time
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(ReadFile(local / "IMG.jpg"), std::string(300000, 'p'));
    char target[64] = {};
    ASSERT_GT(::readlink((local / "link.jpg").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "target/elsewhere");
    EXPECT_EQ(ListNames(local.Path()), (std::vector<std::string>{"IMG.jpg", "link.jpg"}));

    // Across file systems too, an existing name is never replaced and no partial file is left.
    WriteFile(shm / "again.jpg", "new");
    WriteFile(local / "again.jpg", "old");
    EXPECT_EQ(platform::MoveNoReplace(shm / "again.jpg", local / "again.jpg"), EEXIST);
    EXPECT_EQ(ReadFile(local / "again.jpg"), "old");
    EXPECT_EQ(ReadFile(shm / "again.jpg"), "new");
    EXPECT_EQ(ListNames(local.Path()), (std::vector<std::string>{"IMG.jpg", "again.jpg", "link.jpg"}));

    MakeFolder(shm / "holiday.jpg");
    EXPECT_EQ(platform::MoveNoReplace(shm / "holiday.jpg", local / "holiday.jpg"), EXDEV);
    EXPECT_TRUE(Exists(shm / "holiday.jpg"));
}

int g_writes = 0;

// Pretends every rename but our own temporary file's crosses file systems, so the copy runs on one disk.
int RenameAcrossFileSystems(const char* from, const char* to, unsigned flags) {
    return std::string(from).find("/.tovaro-") == std::string::npos
               ? Fail<EXDEV, int>()
               : platform::RealSysCalls().renameat2(from, to, flags);
}

// A copy across file systems that fails part-way removes its partial file and keeps the source untouched;
// when only the source can't be removed afterwards, both stay and the move is reported as failed.
TEST(MoveNoReplace, AFailedCopyLeavesNoPartialFileAndKeepsTheSource) {
    const struct {
        const char* what;
        void (*install)(platform::SysCalls&);
        bool copyStays;
    } faults[] = {
        {"DiskFullAfterFirstWrite",
         [](platform::SysCalls& c) {
             c.write = [](int fd, const void* b, size_t n) {
                 return ++g_writes > 1 ? Fail<ENOSPC, ssize_t>() : ::write(fd, b, n);
             };
         },
         false},
        {"ShortWriteThenNoProgress",
         [](platform::SysCalls& c) {
             c.write = [](int fd, const void* b, size_t n) {
                 return ++g_writes == 1 ? ::write(fd, b, n / 2) : 0;
             };
         },
         false},
        {"FlushFails", [](platform::SysCalls& c) { c.fsync = Fail<EIO>; }, false},
        {"ReadFails", [](platform::SysCalls& c) { c.read = Fail<EIO>; }, false},
        {"SourceCannotBeRemoved", [](platform::SysCalls& c) { c.unlink = Fail<EBUSY>; }, true},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.what);
        TempDir source, destination;
        WriteFile(source / "IMG.JPG", std::string(400000, 'q'));
        platform::SysCalls calls = platform::RealSysCalls();
        calls.renameat2 = RenameAcrossFileSystems;
        fault.install(calls);
        g_writes = 0;
        {
            platform::ScopedSysCalls scoped(calls);
            EXPECT_NE(platform::MoveNoReplace(source / "IMG.JPG", destination / "IMG.jpg"), 0);
        }
        EXPECT_EQ(ReadFile(source / "IMG.JPG"), std::string(400000, 'q'));
        if (fault.copyStays) {
            EXPECT_EQ(ReadFile(destination / "IMG.jpg"), std::string(400000, 'q'));
        } else {
            EXPECT_EQ(ListNames(destination.Path()), std::vector<std::string>{});
        }
    }
}

}  // namespace

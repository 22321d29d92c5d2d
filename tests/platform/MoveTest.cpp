#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/Move.h"
#include "platform/Sys.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

bool OnDifferentFileSystems(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev != sb.st_dev;
}

TEST(MoveNoReplace, MovesWithinOneFileSystem) {
    TempDir dir;
    WriteFile(dir / "a.jpg", "picture");
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "b.jpg"), 0);
    EXPECT_FALSE(Exists(dir / "a.jpg"));
    EXPECT_EQ(ReadFile(dir / "b.jpg"), "picture");
}

TEST(MoveNoReplace, NeverReplacesAnExistingFile) {
    TempDir dir;
    WriteFile(dir / "a.jpg", "new");
    WriteFile(dir / "b.jpg", "old");
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "b.jpg"), EEXIST);
    EXPECT_EQ(ReadFile(dir / "a.jpg"), "new");
    EXPECT_EQ(ReadFile(dir / "b.jpg"), "old");
}

TEST(MoveNoReplace, MovingAFileOntoItselfSucceedsAndKeepsIt) {
    TempDir dir;
    WriteFile(dir / "a.jpg", "x");
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "a.jpg"), 0);
    EXPECT_EQ(ReadFile(dir / "a.jpg"), "x");
}

TEST(MoveNoReplace, HardLinksOfOneFileAreNotTakenForACaseChange) {
    TempDir dir;
    WriteFile(dir / "a.jpg", "x");
    ASSERT_EQ(::link((dir / "a.jpg").c_str(), (dir / "A.JPG").c_str()), 0);
    EXPECT_EQ(platform::MoveNoReplace(dir / "a.jpg", dir / "b.jpg"), 0);
    EXPECT_EQ(platform::MoveNoReplace(dir / "A.JPG", dir / "b.jpg"), EEXIST);
    EXPECT_TRUE(Exists(dir / "A.JPG"));
}

TEST(MoveNoReplace, MissingSourceIsReported) {
    TempDir dir;
    EXPECT_EQ(platform::MoveNoReplace(dir / "none.jpg", dir / "b.jpg"), ENOENT);
    EXPECT_EQ(platform::MoveNoReplace(dir / "none.jpg", dir / "missing-folder/b.jpg"), ENOENT);
}

TEST(MoveNoReplace, MovesAFolderWithItsContents) {
    TempDir dir;
    MakeFolder(dir / "holiday.jpg");
    WriteFile(dir / "holiday.jpg/inner.txt", "in");
    EXPECT_EQ(platform::MoveNoReplace(dir / "holiday.jpg", dir / "trip.jpg"), 0);
    EXPECT_EQ(ReadFile(dir / "trip.jpg/inner.txt"), "in");
}

// File systems that refuse RENAME_NOREPLACE still must not replace.
TEST(MoveNoReplace, WithoutTheNoReplaceFlagStillNeverReplaces) {
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = [](const char*, const char*, unsigned) -> int {
        errno = EINVAL;
        return -1;
    };
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

// A copy across file systems that fails part-way (here: the disk fills up after the first piece, or the
// flush fails) removes its partial file and keeps the source untouched.
struct CopyFault {
    const char* name;
    void (*install)(platform::SysCalls&);
};

int g_writes = 0;

class CopyFaultTest : public ::testing::TestWithParam<CopyFault> {};

TEST_P(CopyFaultTest, FailedCopyLeavesNoPartialFileAndKeepsTheSource) {
    TempDir source, destination;
    WriteFile(source / "IMG.JPG", std::string(400000, 'q'));
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = [](const char* from, const char* to, unsigned flags) -> int {
        // Pretend every rename crosses file systems, so the copy path runs on one disk.
        if (std::string(from).find("/.tovaro-") == std::string::npos) {
            errno = EXDEV;
            return -1;
        }
        return platform::RealSysCalls().renameat2(from, to, flags);
    };
    GetParam().install(calls);
    g_writes = 0;
    {
        platform::ScopedSysCalls scoped(calls);
        EXPECT_NE(platform::MoveNoReplace(source / "IMG.JPG", destination / "IMG.jpg"), 0);
    }
    EXPECT_EQ(ReadFile(source / "IMG.JPG"), std::string(400000, 'q'));
    EXPECT_EQ(ListNames(destination.Path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CopyFaultTest,
    ::testing::Values(
        CopyFault{"DiskFullAfterFirstWrite",
                  [](platform::SysCalls& c) {
                      c.write = [](int fd, const void* b, size_t n) -> ssize_t {
                          if (++g_writes > 1) {
                              errno = ENOSPC;
                              return -1;
                          }
                          return ::write(fd, b, n);
                      };
                  }},
        CopyFault{"ShortWriteThenNoProgress",
                  [](platform::SysCalls& c) {
                      c.write = [](int fd, const void* b, size_t n) -> ssize_t {
                          return ++g_writes == 1 ? ::write(fd, b, n / 2) : 0;
                      };
                  }},
        CopyFault{"FlushFails",
                  [](platform::SysCalls& c) {
                      c.fsync = [](int) -> int {
                          errno = EIO;
                          return -1;
                      };
                  }},
        CopyFault{"ReadFails",
                  [](platform::SysCalls& c) {
                      c.read = [](int, void*, size_t) -> ssize_t {
                          errno = EIO;
                          return -1;
                      };
                  }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(MoveNoReplace, SourceThatCannotBeRemovedAfterACopyIsReportedAndBothStay) {
    TempDir source, destination;
    WriteFile(source / "IMG.JPG", "data");
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = [](const char* from, const char* to, unsigned flags) -> int {
        if (std::string(from).find("/.tovaro-") == std::string::npos) {
            errno = EXDEV;
            return -1;
        }
        return platform::RealSysCalls().renameat2(from, to, flags);
    };
    calls.unlink = [](const char*) -> int {
        errno = EBUSY;
        return -1;
    };
    platform::ScopedSysCalls scoped(calls);
    EXPECT_EQ(platform::MoveNoReplace(source / "IMG.JPG", destination / "IMG.jpg"), EBUSY);
    EXPECT_EQ(ReadFile(source / "IMG.JPG"), "data");
    EXPECT_EQ(ReadFile(destination / "IMG.jpg"), "data");
}

}  // namespace

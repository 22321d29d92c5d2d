#include "transfer/ArchivePass.h"

#include <gtest/gtest.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <fcntl.h>
#include <unistd.h>

#include "app/SettingsFile.h"
#include "platform/File.h"
#include "platform/Sys.h"
#include "tests/support/TempDir.h"

using namespace testsupport;
using namespace transfer;
using Names = std::vector<std::string>;

namespace {

// The members of an archive as Python's zipfile reads them (name -> bytes). A strict read also needs the
// archive to pass `unzip -t` and fails the test when either reader refuses it; a lenient one gives no members
// for an archive that Python can't read.
std::map<std::string, std::string> ReadWithIndependentReaders(const std::string& archive, bool strict = true) {
    std::map<std::string, std::string> members;
    std::string output;
    if (strict) {
        EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(archive) + " 2>&1", &output), 0) << output;
    }
    const std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "for i in z.infolist():\n"
        "    sys.stdout.write(i.filename + '\\0' + z.read(i).hex() + '\\0')\n";
    const int status = RunCommand("python3 -c " + ShellQuote(script) + " " + ShellQuote(archive) + " 2>/dev/null",
                                  &output);
    if (strict) {
        EXPECT_EQ(status, 0) << archive;
    }
    if (status != 0) {
        return members;
    }
    for (size_t at = 0; at < output.size();) {
        const size_t nameEnd = output.find('\0', at);
        const size_t dataEnd = output.find('\0', nameEnd + 1);
        if (nameEnd == std::string::npos || dataEnd == std::string::npos) {
            break;
        }
        std::string bytes;
        for (size_t i = nameEnd + 1; i + 1 < dataEnd; i += 2) {
            bytes.push_back(static_cast<char>(std::stoi(output.substr(i, 2), nullptr, 16)));
        }
        members[output.substr(at, nameEnd - at)] = bytes;
        at = dataEnd + 1;
    }
    return members;
}

class ArchivePassTest : public testing::Test {
protected:
    void SetUp() override {
        MakeFolder(m_from);
        MakeFolder(m_to);
    }

    // Every test ends by checking that no picture was lost: each picture that was in the camera folder is
    // still there (under any name) or, byte for byte, a member of an archive in the destination folder that
    // Python's zipfile reads whole.
    void TearDown() override {
        std::set<std::string> kept;
        for (const std::string& name : ListNames(m_from)) {
            if (!platform::InfoOfPath(m_from + "/" + name)->IsDirectory()) {
                kept.insert(ReadFile(m_from + "/" + name));
            }
        }
        for (const std::string& name : ListNames(m_to)) {
            if (name.ends_with(".zip")) {
                for (const auto& [member, bytes] : ReadWithIndependentReaders(m_to + "/" + name, false)) {
                    kept.insert(bytes);
                }
            }
        }
        for (const auto& [name, bytes] : m_put) {
            EXPECT_TRUE(kept.count(bytes)) << name << " is neither in the camera folder nor in an archive";
        }
    }

    void Put(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            // Distinct, partly incompressible contents, so a mix-up of two pictures can't go unseen.
            std::string bytes = "\xFF\xD8\xFF\xE0 " + name + " ";
            uint32_t x = static_cast<uint32_t>(std::hash<std::string>{}(name));
            for (int i = 0; i < 3000; ++i) {
                x = x * 1103515245u + 12345u;
                bytes.push_back(static_cast<char>(x >> 24));
            }
            WriteFile(m_from + "/" + name, bytes);
            m_put[name] = bytes;
        }
    }

    TransferReport Run(NameOption option, const PassOptions& options = {}) {
        return ArchivePass(m_from, m_to, option, m_inputs, m_settings, options);
    }

    std::string Archive() const { return m_to + "/ArchivePics.zip"; }
    std::string Member(const std::string& newName) const { return m_from + "/" + newName; }

    TempDir m_dir;
    std::string m_from = m_dir / "camera";
    std::string m_to = m_dir / "computer";
    SettingsFile m_settings{m_dir / "tovaro.ini"};
    PlainNamingInputs m_inputs;
    std::map<std::string, std::string> m_put;
};

TEST_F(ArchivePassTest, PacksThePicturesAndLeavesVideosFoldersAndOtherFiles) {
    Put({"IMG_0001.JPG", "CLIP0002.AVI", "notes.txt"});
    MakeFolder(m_from + "/holiday.jpg");
    const TransferReport report = Run(kNameNothing);

    ASSERT_EQ(report.Taken(), 1u);
    EXPECT_TRUE(report.items[0].done) << report.items[0].reason;
    EXPECT_EQ(ListNames(m_from), (Names{"CLIP0002.AVI", "holiday.jpg", "notes.txt"}));
    const auto members = ReadWithIndependentReaders(Archive());
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members.begin()->first, Member("IMG_0001.jpg"));  // the full path, as the member name
    EXPECT_EQ(members.begin()->second, m_put["IMG_0001.JPG"]);
}

TEST_F(ArchivePassTest, NumbersFollowTheListingAndTheCounterKeepsTheNext) {
    Put({"a.jpg", "b.gif", "c.bmp", "d.mpg"});
    m_inputs.numberText = "7";
    m_inputs.numberChecked = true;
    const TransferReport report = Run(kNameNumber);

    ASSERT_EQ(report.Taken(), 3u);
    std::set<std::string> names, expected;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(report.items[i].done);
        EXPECT_NE(report.items[i].newName.find(" -" + std::to_string(7 + i) + "."), std::string::npos);
        names.insert(Member(report.items[i].newName));
    }
    for (const auto& [name, bytes] : ReadWithIndependentReaders(Archive())) {
        expected.insert(name);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(m_inputs.numberText, "10");
    EXPECT_EQ(m_settings.Read("counter"), "10");
    EXPECT_EQ(ListNames(m_from), Names{"d.mpg"});
}

TEST_F(ArchivePassTest, AnEmptyCameraFolderGivesAnArchiveWithoutMembers) {
    EXPECT_EQ(Run(kNameNothing).Taken(), 0u);
    EXPECT_EQ(ReadFile(Archive()), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_TRUE(ReadWithIndependentReaders(Archive(), false).empty());
}

// A second pass must not destroy the first pass's archive, whose pictures are gone from the camera.
TEST_F(ArchivePassTest, AnEarlierArchiveIsKeptUnderTheFirstFreeName) {
    Put({"one.jpg"});
    Run(kNameNothing);
    const std::string first = ReadFile(Archive());
    WriteFile(m_to + "/ArchivePics-1.zip", "someone else's file");
    Put({"two.jpg"});
    const TransferReport report = Run(kNameNothing);

    EXPECT_TRUE(report.items.at(0).done);
    EXPECT_EQ(ReadFile(m_to + "/ArchivePics-1.zip"), "someone else's file");
    EXPECT_EQ(ReadFile(m_to + "/ArchivePics-2.zip"), first);
    EXPECT_NE(report.notice.find("ArchivePics-2.zip"), std::string::npos);
    const auto latest = ReadWithIndependentReaders(Archive());
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest.begin()->first, Member("two.jpg"));
}

TEST_F(ArchivePassTest, TheSameFolderForBothHoldsTheArchiveWithoutTakingIt) {
    m_to = m_from;
    Put({"IMG_0001.JPG"});
    Run(kNameNothing);
    Put({"IMG_0002.JPG"});
    const TransferReport report = Run(kNameNothing);
    ASSERT_EQ(report.Taken(), 1u);
    EXPECT_EQ(report.items[0].oldName, "IMG_0002.JPG");
    EXPECT_EQ(ListNames(m_from), (Names{"ArchivePics-1.zip", "ArchivePics.zip"}));
}

// When the earlier archive can't be moved aside, no archive is made and no picture leaves the camera.
TEST_F(ArchivePassTest, AnEarlierArchiveThatCannotBeKeptStopsAllRemoval) {
    WriteFile(Archive(), "earlier archive");
    Put({"a.jpg", "b.jpg"});
    m_inputs.text = "x";
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = [](const char* from, const char* to, unsigned flags) -> int {
        if (std::strstr(from, "ArchivePics.zip") != nullptr) {
            errno = EIO;
            return -1;
        }
        return platform::RealSysCalls().renameat2(from, to, flags);
    };
    TransferReport report;
    {
        platform::ScopedSysCalls scoped(calls);
        report = Run(kNameText);
    }
    EXPECT_EQ(ReadFile(Archive()), "earlier archive");
    EXPECT_EQ(ListNames(m_from), (Names{"a -x.jpg", "b -x.jpg"}));  // renamed in place, kept
    ASSERT_EQ(report.Failed(), 2u);
    EXPECT_NE(report.items[0].reason.find("could not be kept"), std::string::npos) << report.items[0].reason;
}

// A picture whose new name another file already has is skipped: neither it nor the other file is packed or
// removed because of it.
TEST_F(ArchivePassTest, ANewNameThatIsTakenSkipsTheEntry) {
    Put({"IMG_0001.JPG", "IMG_0001.jpg"});
    const TransferReport report = Run(kNameNothing);
    ASSERT_EQ(report.Taken(), 2u);
    for (const TransferItem& item : report.items) {
        if (item.oldName == "IMG_0001.JPG") {
            EXPECT_FALSE(item.done);
            EXPECT_NE(item.reason.find("already has that name"), std::string::npos);
        } else {
            EXPECT_TRUE(item.done) << item.reason;  // its new name is its own name: packed as usual
        }
    }
    EXPECT_EQ(ListNames(m_from), Names{"IMG_0001.JPG"});
    EXPECT_EQ(ReadFile(m_from + "/IMG_0001.JPG"), m_put["IMG_0001.JPG"]);
    const auto members = ReadWithIndependentReaders(Archive());
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members.begin()->second, m_put["IMG_0001.jpg"]);
}

TEST_F(ArchivePassTest, AMissingDestinationRenamesInPlaceRemovesNothingAndUsesUpNumbers) {
    m_to = m_dir / "no-such-folder";
    Put({"a.jpg", "b.jpg", "c.avi"});
    m_inputs.numberText = "1";
    m_inputs.numberChecked = true;
    const TransferReport report = Run(kNameNumber);
    EXPECT_EQ(report.Failed(), 2u);
    EXPECT_EQ(ListNames(m_from).size(), 3u);
    EXPECT_EQ(m_settings.Read("counter"), "3");
    EXPECT_FALSE(Exists(Archive()));
    for (const TransferItem& item : report.items) {
        EXPECT_TRUE(Exists(m_from + "/" + item.newName)) << item.newName;
    }
}

TEST_F(ArchivePassTest, UnsafeNewNamesAreNeverUsed) {
    Put({"IMG_1.jpg"});
    m_inputs.renameFind = "IMG_1";
    m_inputs.renameNew = "../escaped";
    const TransferReport report = Run(kNameRename);
    ASSERT_EQ(report.Taken(), 1u);
    EXPECT_FALSE(report.items[0].done);
    EXPECT_EQ(ListNames(m_from), Names{"IMG_1.jpg"});
    EXPECT_FALSE(Exists(m_dir / "escaped.jpg"));
}

TEST_F(ArchivePassTest, ADryRunChangesNothing) {
    Put({"a.jpg", "b.jpg"});
    m_inputs.numberText = "5";
    m_inputs.numberChecked = true;
    PassOptions options;
    options.dryRun = true;
    const TransferReport report = Run(kNameNumber, options);
    EXPECT_EQ(report.Done(), 2u);
    EXPECT_EQ(ListNames(m_from), (Names{"a.jpg", "b.jpg"}));
    EXPECT_EQ(ListNames(m_to), Names{});
    EXPECT_FALSE(Exists(m_dir / "tovaro.ini"));
}

// Faults injected through the platform layer. Each names the pictures that must stay in the camera folder.
struct Fault {
    const char* name;
    void (*install)(platform::SysCalls&);
    size_t keptPictures;  // of a.jpg, b.jpg, c.jpg
};

std::atomic<int> g_checkFd{-1};

bool IsArchive(const char* path) { return std::strstr(path, "ArchivePics.zip") != nullptr; }

class ArchiveFaultTest : public ArchivePassTest, public testing::WithParamInterface<Fault> {};

bool DirectReadsWorkIn(const std::string& folder) {
    const std::string probe = folder + "/probe";
    WriteFile(probe, "x");
    const int fd = ::open(probe.c_str(), O_RDONLY | O_DIRECT);
    if (fd >= 0) {
        ::close(fd);
    }
    ::unlink(probe.c_str());
    return fd >= 0;
}

TEST_P(ArchiveFaultTest, NothingIsRemovedThatIsNotSafelyInTheArchive) {
    if (std::string_view(GetParam().name).starts_with("Direct") && !DirectReadsWorkIn(m_dir.Path())) {
        GTEST_SKIP() << "the temporary folder's file system offers no direct reads";
    }
    Put({"a.jpg", "b.jpg", "c.jpg"});
    platform::SysCalls calls = platform::RealSysCalls();
    GetParam().install(calls);
    g_checkFd = -1;
    TransferReport report;
    {
        platform::ScopedSysCalls scoped(calls);
        report = Run(kNameNothing);
    }
    EXPECT_EQ(report.Failed(), GetParam().keptPictures);
    EXPECT_EQ(ListNames(m_from).size(), GetParam().keptPictures);
    for (const TransferItem& item : report.items) {
        EXPECT_EQ(item.done, !Exists(m_from + "/" + item.newName)) << item.newName;
        EXPECT_EQ(item.done, item.reason.empty()) << item.reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ArchiveFaultTest,
    testing::Values(
        // The picture b.jpg can't be opened: the ones before and after it are packed and removed.
        Fault{"UnreadablePicture",
              [](platform::SysCalls& c) {
                  c.open = [](const char* path, int flags, mode_t mode) -> int {
                      if (std::strstr(path, "/b.jpg") != nullptr) {
                          errno = EACCES;
                          return -1;
                      }
                      return platform::RealSysCalls().open(path, flags, mode);
                  };
              },
              1},
        // The central directory can't be written: the archive is incomplete, so every picture stays.
        Fault{"CloseFails",
              [](platform::SysCalls& c) {
                  c.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
                      if (count >= 4 && std::memcmp(buffer, "PK\x01\x02", 4) == 0) {
                          errno = ENOSPC;
                          return -1;
                      }
                      return ::write(fd, buffer, count);
                  };
              },
              3},
        // The closed archive can't be flushed to the disk.
        Fault{"FlushFails",
              [](platform::SysCalls& c) {
                  c.fsync = [](int) -> int {
                      errno = EIO;
                      return -1;
                  };
              },
              3},
        // Where the file system offers no direct reads, the archive's cached pages must be dropped before the
        // check; when they can't be, the check could not read what the disk holds.
        Fault{"NoDirectReadsAndCacheCannotBeDropped",
              [](platform::SysCalls& c) {
                  c.open = [](const char* path, int flags, mode_t mode) -> int {
                      if ((flags & O_DIRECT) != 0) {
                          errno = EINVAL;
                          return -1;
                      }
                      return platform::RealSysCalls().open(path, flags, mode);
                  };
                  c.fadvise = [](int, off_t, off_t, int) -> int { return EINVAL; };
              },
              3},
        // Without direct reads, the check reads through the cache once it has been dropped.
        Fault{"NoDirectReads",
              [](platform::SysCalls& c) {
                  c.open = [](const char* path, int flags, mode_t mode) -> int {
                      if ((flags & O_DIRECT) != 0) {
                          errno = EINVAL;
                          return -1;
                      }
                      return platform::RealSysCalls().open(path, flags, mode);
                  };
              },
              0},
        // A direct read that fails part-way.
        Fault{"DirectReadFails",
              [](platform::SysCalls& c) {
                  c.open = [](const char* path, int flags, mode_t mode) -> int {
                      const int fd = platform::RealSysCalls().open(path, flags, mode);
                      if ((flags & O_DIRECT) != 0) {
                          g_checkFd = fd;
                      }
                      return fd;
                  };
                  c.read = [](int fd, void* buffer, size_t count) -> ssize_t {
                      if (fd == g_checkFd) {
                          errno = EIO;
                          return -1;
                      }
                      return ::read(fd, buffer, count);
                  };
              },
              3},
        // What is read back differs from what was written: every member's data is damaged on the way.
        Fault{"ReadBackDamaged",
              [](platform::SysCalls& c) {
                  c.open = [](const char* path, int flags, mode_t mode) -> int {
                      const int fd = platform::RealSysCalls().open(path, flags, mode);
                      if (IsArchive(path) && (flags & O_ACCMODE) == O_RDONLY) {
                          g_checkFd = fd;
                      }
                      return fd;
                  };
                  c.read = [](int fd, void* buffer, size_t count) -> ssize_t {
                      const ssize_t n = ::read(fd, buffer, count);
                      // Every 500th byte of the members' data, short of the central directory at the end.
                      for (ssize_t at = 150; fd == g_checkFd && at + 600 < n; at += 500) {
                          static_cast<char*>(buffer)[at] ^= 0x55;
                      }
                      return n;
                  };
              },
              3},
        // The pictures can't be removed after the check: they stay, and are also in the archive.
        Fault{"RemovalFails",
              [](platform::SysCalls& c) {
                  c.unlink = [](const char*) -> int {
                      errno = EBUSY;
                      return -1;
                  };
              },
              3}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace

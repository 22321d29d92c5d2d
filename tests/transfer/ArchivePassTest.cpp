#include "transfer/ArchivePass.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <string_view>

#include "platform/File.h"
#include "settings/SettingsFile.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"

using namespace testsupport;
using namespace transfer;
using Names = std::vector<std::string>;

namespace {

// The members of an archive as Python's zipfile reads them (name -> bytes). A strict read also needs
// `unzip -t` to pass and fails the test when either reader refuses the archive; a lenient one gives no
// members for an archive that Python can't read.
std::map<std::string, std::string> ReadWithIndependentReaders(const std::string& archive,
                                                              bool strict = true) {
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
    const int status =
        RunCommand("python3 -c " + ShellQuote(script) + " " + ShellQuote(archive) + " 2>/dev/null", &output);
    EXPECT_TRUE(status == 0 || !strict) << archive;
    std::map<std::string, std::string> members;
    for (size_t at = 0, nameEnd, dataEnd;
         status == 0 && (nameEnd = output.find('\0', at)) != std::string::npos &&
         (dataEnd = output.find('\0', nameEnd + 1)) != std::string::npos;
         at = dataEnd + 1) {
        std::string& bytes = members[output.substr(at, nameEnd - at)];
        for (size_t i = nameEnd + 1; i + 1 < dataEnd; i += 2) {
            bytes.push_back(static_cast<char>(std::stoi(output.substr(i, 2), nullptr, 16)));
        }
    }
    return members;
}

class ArchivePassTest : public testing::Test {
  protected:
    void SetUp() override {
        MakeFolder(m_from);
        MakeFolder(m_to);
    }

    // Whatever a test did, no picture may be lost: each one put in the camera folder is still there (under
    // any name) or, byte for byte, a member of an archive in the destination that Python reads whole.
    void TearDown() override {
        std::set<std::string> kept;
        for (const std::string& name : ListNames(m_from)) {
            if (!platform::InfoOfPath(m_from + "/" + name)->IsDirectory()) {
                kept.insert(ReadFile(m_from + "/" + name));
            }
        }
        for (const std::string& name : ListNames(m_to)) {
            for (const auto& [member, bytes] : ReadWithIndependentReaders(m_to + "/" + name, false)) {
                kept.insert(bytes);
            }
        }
        for (const auto& [name, bytes] : m_put) {
            EXPECT_TRUE(kept.count(bytes)) << name << " is neither in the camera folder nor in an archive";
        }
    }

    // Distinct, partly incompressible contents, so that a mix-up of two pictures can't go unseen.
    void Put(const Names& names) {
        for (const std::string& name : names) {
            std::string bytes = "\xFF\xD8\xFF\xE0 " + name + " ";
            uint32_t x = static_cast<uint32_t>(std::hash<std::string>{}(name));
            for (int i = 0; i < 3000; ++i) {
                bytes.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
            }
            WriteFile(m_from + "/" + name, bytes);
            m_put[name] = bytes;
        }
    }

    TransferReport Run(NameOption option, const PassOptions& options = {}) {
        return ArchivePass(m_from, m_to, option, m_inputs, m_settings, options);
    }
    void UseNumber(const char* shown) {
        m_inputs.numberText = shown;
        m_inputs.numberChecked = true;
    }
    std::string Archive() const { return m_to + "/ArchivePics.zip"; }

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
    EXPECT_TRUE(report.items[0].Done()) << report.items[0].reason;
    EXPECT_EQ(ListNames(m_from), (Names{"CLIP0002.AVI", "holiday.jpg", "notes.txt"}));
    const auto members = ReadWithIndependentReaders(Archive());
    EXPECT_EQ(members,
              (std::map<std::string, std::string>{{m_from + "/IMG_0001.jpg", m_put["IMG_0001.JPG"]}}));
}

TEST_F(ArchivePassTest, NumbersFollowTheListingAndTheCounterKeepsTheNext) {
    Put({"a.jpg", "b.gif", "c.bmp", "d.mpg"});
    UseNumber("7");
    const TransferReport report = Run(kNameNumber);
    ASSERT_EQ(report.Taken(), 3u);
    std::set<std::string> names, members;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(report.items[i].Done());
        EXPECT_NE(report.items[i].newName.find(" -" + std::to_string(7 + i) + "."), std::string::npos);
        names.insert(m_from + "/" + report.items[i].newName);
    }
    for (const auto& [name, bytes] : ReadWithIndependentReaders(Archive())) {
        members.insert(name);
    }
    EXPECT_EQ(names, members);
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
    EXPECT_TRUE(report.items.at(0).Done());
    EXPECT_EQ(ReadFile(m_to + "/ArchivePics-1.zip"), "someone else's file");
    EXPECT_EQ(ReadFile(m_to + "/ArchivePics-2.zip"), first);
    EXPECT_NE(report.notice.find("ArchivePics-2.zip"), std::string::npos);
    const auto latest = ReadWithIndependentReaders(Archive());
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest.begin()->first, m_from + "/two.jpg");
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
        return std::strstr(from, "ArchivePics.zip") != nullptr
                   ? Fail<EIO, int>()
                   : platform::RealSysCalls().renameat2(from, to, flags);
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
        // The other one's new name is its own name: it is packed as usual.
        EXPECT_EQ(item.Done(), item.oldName == "IMG_0001.jpg") << item.oldName;
        EXPECT_EQ(item.Done(), item.reason.find("already has that name") == std::string::npos) << item.reason;
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
    UseNumber("1");
    const TransferReport report = Run(kNameNumber);
    EXPECT_EQ(report.Failed(), 2u);
    EXPECT_EQ(ListNames(m_from).size(), 3u);
    EXPECT_EQ(m_settings.Read("counter"), "3");
    EXPECT_FALSE(Exists(Archive()));
    for (const TransferItem& item : report.items) {
        EXPECT_TRUE(Exists(m_from + "/" + item.newName)) << item.newName;
    }
}

TEST_F(ArchivePassTest, NeitherADryRunNorUnsafeNamesChangeAnything) {
    Put({"IMG_1.jpg"});
    UseNumber("5");
    PassOptions options;
    options.dryRun = true;
    EXPECT_EQ(Run(kNameNumber, options).Done(), 1u);
    EXPECT_EQ(ListNames(m_to), Names{});
    EXPECT_FALSE(Exists(m_dir / "tovaro.ini"));
    m_inputs.renameFind = "IMG_1";
    m_inputs.renameNew = "../escaped";
    EXPECT_EQ(Run(kNameRename).Failed(), 1u);
    EXPECT_FALSE(Exists(m_dir / "escaped.jpg"));
    EXPECT_EQ(ListNames(m_from), Names{"IMG_1.jpg"});
}

// Faults injected through the platform layer, each with how many of a.jpg, b.jpg, c.jpg must stay.
struct Fault {
    const char* name;
    void (*install)(platform::SysCalls&);
    size_t keptPictures;
};

void PrintTo(const Fault& fault, std::ostream* os) {
    *os << fault.name;
}

std::atomic<int> g_checkFd{-1};

int OpenWithoutDirectReads(const char* path, int flags, mode_t mode) {
    return (flags & O_DIRECT) != 0 ? Fail<EINVAL, int>() : platform::RealSysCalls().open(path, flags, mode);
}

// Notes the descriptor of the check's read of the archive: a direct read, or with `anyRead` any read-only
// one.
template <bool anyRead>
int OpenNotingTheCheck(const char* path, int flags, mode_t mode) {
    const int fd = platform::RealSysCalls().open(path, flags, mode);
    if (anyRead ? std::strstr(path, "ArchivePics.zip") != nullptr && (flags & O_ACCMODE) == O_RDONLY
                : (flags & O_DIRECT) != 0) {
        g_checkFd = fd;
    }
    return fd;
}

bool DirectReadsWorkIn(const std::string& folder) {
    WriteFile(folder + "/probe", "x");
    const int fd = ::open((folder + "/probe").c_str(), O_RDONLY | O_DIRECT);
    if (fd >= 0) {
        ::close(fd);
    }
    return fd >= 0;
}

class ArchiveFaultTest : public ArchivePassTest, public testing::WithParamInterface<Fault> {};

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
        EXPECT_EQ(item.Done(), !Exists(m_from + "/" + item.newName)) << item.newName;
        EXPECT_EQ(item.Done(), item.reason.empty()) << item.reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ArchiveFaultTest,
    testing::Values(
        // b.jpg can't be opened: the ones before and after it are packed and removed.
        Fault{"UnreadablePicture",
              [](platform::SysCalls& c) {
                  c.open = [](const char* path, int flags, mode_t mode) {
                      return std::strstr(path, "/b.jpg") != nullptr
                                 ? Fail<EACCES, int>()
                                 : platform::RealSysCalls().open(path, flags, mode);
                  };
              },
              1},
        // The central directory can't be written: the archive is incomplete, so every picture stays.
        Fault{"CloseFails",
              [](platform::SysCalls& c) {
                  c.write = [](int fd, const void* buffer, size_t count) {
                      return count >= 4 && std::memcmp(buffer, "PK\x01\x02", 4) == 0
                                 ? Fail<ENOSPC, ssize_t>()
                                 : ::write(fd, buffer, count);
                  };
              },
              3},
        Fault{"FlushFails", [](platform::SysCalls& c) { c.fsync = Fail<EIO>; }, 3},
        // Without direct reads the check reads through the cache once its pages are dropped; when they
        // can't be, it could not read what the disk holds.
        Fault{"NoDirectReads", [](platform::SysCalls& c) { c.open = OpenWithoutDirectReads; }, 0},
        Fault{"NoDirectReadsAndCacheCannotBeDropped",
              [](platform::SysCalls& c) {
                  c.open = OpenWithoutDirectReads;
                  c.fadvise = [](int, off_t, off_t, int) { return EINVAL; };
              },
              3},
        Fault{"DirectReadFails",
              [](platform::SysCalls& c) {
                  c.open = OpenNotingTheCheck<false>;
                  c.read = [](int fd, void* buffer, size_t count) {
                      return fd == g_checkFd ? Fail<EIO, ssize_t>() : ::read(fd, buffer, count);
                  };
              },
              3},
        // What is read back differs from what was written: every 500th byte of the members' data is damaged,
        // short of the central directory at the end.
        Fault{"ReadBackDamaged",
              [](platform::SysCalls& c) {
                  c.open = OpenNotingTheCheck<true>;
                  c.read = [](int fd, void* buffer, size_t count) {
                      const ssize_t n = ::read(fd, buffer, count);
                      for (ssize_t at = 150; fd == g_checkFd && at + 600 < n; at += 500) {
                          static_cast<char*>(buffer)[at] ^= 0x55;
                      }
                      return n;
                  };
              },
              3},
        // The pictures can't be removed after the check: they stay, and are also in the archive.
        Fault{"RemovalFails", [](platform::SysCalls& c) { c.unlink = Fail<EBUSY>; }, 3}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace

#include "transfer/CounterKeeper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "app/SettingsFile.h"
#include "platform/Sys.h"
#include "tests/support/TempDir.h"
#include "transfer/MovePass.h"

using namespace testsupport;
using namespace transfer;

namespace {

// Every pwrite made while a RecordedWrites is alive: where it went and how long it was.
std::vector<std::pair<off_t, size_t>> g_writes;

ssize_t RecordingPwrite(int fd, const void* buffer, size_t count, off_t offset) {
    g_writes.emplace_back(offset, count);
    return platform::RealSysCalls().pwrite(fd, buffer, count, offset);
}

class RecordedWrites {
  public:
    RecordedWrites() : m_scoped(WithRecording()) { g_writes.clear(); }
    const std::vector<std::pair<off_t, size_t>>& Writes() const { return g_writes; }

  private:
    static platform::SysCalls WithRecording() {
        platform::SysCalls calls = platform::RealSysCalls();
        calls.pwrite = RecordingPwrite;
        return calls;
    }
    platform::ScopedSysCalls m_scoped;
};

bool WithinOneSector(const std::pair<off_t, size_t>& write) {
    return write.first / 512 == (write.first + static_cast<off_t>(write.second) - 1) / 512;
}

// A camera folder with `count` pictures, a destination folder and a settings file; runs a numbered move pass
// and hands the settings file's whole text, as it stands after each taken file, to a check.
class CounterPass : public testing::Test {
  protected:
    void SetUp() override {
        MakeFolder(m_from);
        MakeFolder(m_to);
    }

    void PutPictures(int count) {
        for (int i = 0; i < count; ++i) {
            WriteFile(m_from + "/IMG_" + std::to_string(1000 + i) + ".JPG", "picture");
        }
    }

    // Runs the pass from `start`; `afterItem` sees the number the next file would get (what "counter" must
    // hold now) and may meddle with the settings file. Returns the pass's report.
    TransferReport Run(const std::string& start,
                       const std::function<void(const std::string& next)>& afterItem) {
        m_inputs.numberText = start;
        m_inputs.numberChecked = true;
        PassOptions options;
        options.onItem = [&](const TransferItem& item) {
            EXPECT_TRUE(item.done) << item.oldName << ": " << item.reason;
            afterItem(m_inputs.numberText);
        };
        return MovePass(m_from, m_to, kNameNumber, m_inputs, m_settings, options);
    }

    std::string Text() const { return ReadFile(m_path); }

    TempDir m_dir;
    std::string m_from = m_dir / "camera";
    std::string m_to = m_dir / "computer";
    std::string m_path = m_dir / "tovaro.ini";
    SettingsFile m_settings{m_path};
    PlainNamingInputs m_inputs;
};

// ---- The file after every taken file, for numbers of every length and for files of every shape ----

struct PassCase {
    const char* what;
    std::optional<std::string> before;  // the settings file before the pass; no value: none yet
    std::string head, tail;             // the file after each taken file is head, the next number, tail
    const char* start;                  // the number box when the pass starts
    int files;
    std::vector<std::string> counters;  // what "counter" holds after each file, in turn
    size_t inPlace;                     // how many of those writes must have been made in place
};

void PrintTo(const PassCase& c, std::ostream* os) {
    *os << c.what;
}

// A settings file whose counter digits start `at` bytes into the file, pushed there by a long other key.
PassCase CounterAt(const char* what, size_t at, const char* start, int files,
                   std::vector<std::string> counters, size_t inPlace) {
    const std::string lead = "[settings]\npad=";
    const std::string key = "\ncounter=";
    const std::string head = lead + std::string(at - lead.size() - key.size(), 'x') + key;
    return PassCase{what, head + "0\n", head, "\n", start, files, std::move(counters), inPlace};
}

class CounterAfterEveryFile : public CounterPass, public testing::WithParamInterface<PassCase> {};

TEST_P(CounterAfterEveryFile, HoldsTheTrueNextNumberAndLeavesTheRestAlone) {
    const PassCase& c = GetParam();
    if (c.before) {
        WriteFile(m_path, *c.before);
    }
    PutPictures(c.files);
    std::vector<std::string> seen;
    RecordedWrites writes;
    const TransferReport report = Run(c.start, [&](const std::string& next) {
        EXPECT_EQ(Text(), c.head + next + c.tail);
        seen.push_back(m_settings.Read("counter"));
    });
    EXPECT_EQ(report.counterError, "");
    EXPECT_EQ(seen, c.counters);
    EXPECT_EQ(Text(), c.head + c.counters.back() + c.tail);
    EXPECT_EQ(ListNames(m_dir.Path()), (std::vector<std::string>{"camera", "computer", "tovaro.ini"}));
    // Digits written in place never straddle a sector, which a crash could leave half old and half new.
    for (const auto& write : writes.Writes()) {
        EXPECT_TRUE(WithinOneSector(write)) << write.first << "+" << write.second;
    }
    EXPECT_EQ(writes.Writes().size(), c.inPlace);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, CounterAfterEveryFile,
    testing::Values(
        PassCase{
            "NoFileYet", std::nullopt, "[settings]\ncounter=", "\n", "7", 5, {"8", "9", "10", "11", "12"}, 3},
        PassCase{"TwoLengthsCrossed",
                 "[settings]\ncounter=98\n",
                 "[settings]\ncounter=",
                 "\n",
                 "98",
                 4,
                 {"99", "100", "101", "102"},
                 2},
        PassCase{"ShrinkingNegativeNumbers",
                 "[settings]\ncounter=-12\n",
                 "[settings]\ncounter=",
                 "\n",
                 "-12",
                 4,
                 {"-11", "-10", "-9", "-8"},
                 2},
        PassCase{"WrapsPastTheLargest",
                 std::nullopt,
                 "[settings]\ncounter=",
                 "\n",
                 "2147483645",
                 4,
                 {"2147483646", "2147483647", "-2147483648", "-2147483647"},
                 2},
        PassCase{"UsersOtherLinesKeptByteForByte",
                 "; mine\r\n[other]\r\ncounter=elsewhere\r\n[Settings]\r\nfromdir=/card\r\n"
                 "  Counter = 5   \r\ntodir=/pictures\r\n\r\n[more]\r\nx = y",
                 "; mine\r\n[other]\r\ncounter=elsewhere\r\n[Settings]\r\nfromdir=/card\r\n  Counter = ",
                 "\r\ntodir=/pictures\r\n\r\n[more]\r\nx = y",
                 "5",
                 6,
                 {"6", "7", "8", "9", "10", "11"},
                 4},
        CounterAt("TwoDigitsEndAtASectorsEnd", 510, "97", 4, {"98", "99", "100", "101"}, 1),
        CounterAt("LongerNumberCrossesIntoTheNextSector", 510, "100", 3, {"101", "102", "103"}, 0),
        CounterAt("SecondDigitWouldCrossIntoTheNextSector", 511, "7", 4, {"8", "9", "10", "11"}, 1),
        CounterAt("DigitsStartASector", 512, "8", 4, {"9", "10", "11", "12"}, 2)),
    [](const testing::TestParamInfo<PassCase>& param) { return std::string(param.param.what); });

// ---- A failing write in place falls back to replacing the file ----

struct FaultCase {
    const char* what;
    ssize_t (*pwrite)(int fd, const void* buffer, size_t count, off_t offset);
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.what;
}

int g_faultyWrites = 0;

class CounterWriteFault : public CounterPass, public testing::WithParamInterface<FaultCase> {};

TEST_P(CounterWriteFault, FallsBackToAReplacementAndTheValueIsStillRight) {
    WriteFile(m_path, "[settings]\ntodir=/pictures\ncounter=1\n");
    PutPictures(5);
    platform::SysCalls calls = platform::RealSysCalls();
    calls.pwrite = GetParam().pwrite;
    g_faultyWrites = 0;
    TransferReport report;
    {
        platform::ScopedSysCalls scoped(calls);
        report = Run("20", [&](const std::string& next) {
            EXPECT_EQ(Text(), "[settings]\ntodir=/pictures\ncounter=" + next + "\n");
        });
    }
    EXPECT_GT(g_faultyWrites, 0);  // the fault was met
    EXPECT_EQ(report.counterError, "");
    EXPECT_EQ(Text(), "[settings]\ntodir=/pictures\ncounter=25\n");
    EXPECT_EQ(ListNames(m_dir.Path()), (std::vector<std::string>{"camera", "computer", "tovaro.ini"}));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CounterWriteFault,
    testing::Values(FaultCase{"Fails",
                              [](int, const void*, size_t, off_t) -> ssize_t {
                                  ++g_faultyWrites;
                                  errno = EIO;
                                  return -1;
                              }},
                    FaultCase{"WritesOneDigitOnly",
                              [](int fd, const void* buffer, size_t, off_t offset) {
                                  ++g_faultyWrites;
                                  return platform::RealSysCalls().pwrite(fd, buffer, 1, offset);
                              }},
                    FaultCase{"FailsEverySecondTime",
                              [](int fd, const void* buffer, size_t count, off_t offset) {
                                  if (++g_faultyWrites % 2 == 0) {
                                      errno = ENOSPC;
                                      return ssize_t{-1};
                                  }
                                  return platform::RealSysCalls().pwrite(fd, buffer, count, offset);
                              }}),
    [](const testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.what); });

// ---- Another program changes the file during the pass ----

struct MeddleCase {
    const char* what;
    int when;  // after which taken file (from 1); 0: after the last one
    std::function<void(const std::string& path, const std::string& next)> meddle;
    std::string head, tail;  // the file afterwards is head, the next number, tail
};

void PrintTo(const MeddleCase& c, std::ostream* os) {
    *os << c.what;
}

class AnotherWriter : public CounterPass, public testing::WithParamInterface<MeddleCase> {};

TEST_P(AnotherWriter, ItsChangeStaysAndOurCounterWinsAfterIt) {
    const MeddleCase& c = GetParam();
    constexpr int kFiles = 6;
    PutPictures(kFiles);
    int taken = 0;
    bool meddled = false;
    const TransferReport report = Run("95", [&](const std::string& next) {
        ++taken;
        if (meddled) {
            EXPECT_EQ(Text(), c.head + next + c.tail) << "after file " << taken;
        }
        if (taken == (c.when == 0 ? kFiles : c.when)) {
            c.meddle(m_path, next);
            meddled = true;
        }
    });
    EXPECT_EQ(taken, kFiles);
    EXPECT_EQ(report.counterError, "");
    EXPECT_EQ(Text(), c.head + "101" + c.tail);
}

INSTANTIATE_TEST_SUITE_P(
    Meddling, AnotherWriter,
    testing::Values(MeddleCase{"ReplacesItWithAnotherKey", 2,
                               [](const std::string& path, const std::string&) {
                                   ASSERT_TRUE(SettingsFile(path).Write("todir", "/elsewhere"));
                               },
                               "[settings]\ncounter=", "\ntodir=/elsewhere\n"},
                    MeddleCase{"AnotherCopyReplacesItWithACounterOfItsOwn", 2,
                               [](const std::string& path, const std::string& next) {
                                   ASSERT_EQ(next.size(),
                                             2u);  // the same size: only the file's identity tells
                                   ASSERT_TRUE(SettingsFile(path).Write("counter", "11"));
                               },
                               "[settings]\ncounter=", "\n"},
                    MeddleCase{"ReplacesItWithAnotherKeyAfterTheLastFile", 0,
                               [](const std::string& path, const std::string&) {
                                   ASSERT_TRUE(SettingsFile(path).Write("todir", "/elsewhere"));
                               },
                               "[settings]\ncounter=", "\ntodir=/elsewhere\n"},
                    MeddleCase{"PutsBackAnOldCounterAfterTheLastFile", 0,
                               [](const std::string& path, const std::string&) {
                                   ASSERT_TRUE(SettingsFile(path).Write("counter", "7"));
                               },
                               "[settings]\ncounter=", "\n"},
                    MeddleCase{"RewritesItInPlaceWithALineMore", 2,
                               [](const std::string& path, const std::string& next) {
                                   WriteFile(path, "; kept by hand\n[settings]\ncounter=" + next + "\n");
                               },
                               "; kept by hand\n[settings]\ncounter=", "\n"},
                    MeddleCase{"RewritesItInPlaceAtTheSameSizeWithTheValueMoved", 1,
                               [](const std::string& path, const std::string& next) {
                                   // One byte more before the value and one less after it: where our digits
                                   // were, there is now the "=" and the first digit.
                                   const std::string before = ReadFile(path);
                                   WriteFile(path, "[settings]\r\ncounter=" + next);
                                   ASSERT_EQ(ReadFile(path).size(), before.size());
                               },
                               "[settings]\r\ncounter=", ""}),
    [](const testing::TestParamInfo<MeddleCase>& param) { return std::string(param.param.what); });

// ---- The keeper on its own ----

TEST(CounterKeeper, WritesNothingWhileNumberIsNotChecked) {
    TempDir dir;
    PlainNamingInputs inputs;
    CounterKeeper keeper(SettingsFile(dir / "tovaro.ini"));
    EXPECT_TRUE(keeper.Keep(inputs, 5));
    EXPECT_TRUE(keeper.Finish(inputs));
    EXPECT_FALSE(Exists(dir / "tovaro.ini"));
}

TEST(CounterKeeper, AFileThatCannotBeWrittenIsReportedAtEveryStep) {
    TempDir dir;
    PlainNamingInputs inputs;
    inputs.numberChecked = true;
    CounterKeeper keeper(SettingsFile(dir / "missing/tovaro.ini"));
    EXPECT_FALSE(keeper.Keep(inputs, 5));
    EXPECT_FALSE(keeper.Keep(inputs, 6));
    EXPECT_FALSE(keeper.Finish(inputs));
}

TEST(CounterKeeper, TheLastValueIsWrittenAtTheEndWhenItsOwnWriteFailed) {
    TempDir dir;
    PlainNamingInputs inputs;
    inputs.numberChecked = true;
    const SettingsFile settings(dir / "tovaro.ini");
    CounterKeeper keeper(settings);
    EXPECT_TRUE(keeper.Keep(inputs, 9));
    {
        platform::SysCalls calls = platform::RealSysCalls();
        calls.pwrite = [](int, const void*, size_t, off_t) -> ssize_t {
            errno = EIO;
            return -1;
        };
        calls.rename = [](const char*, const char*) {
            errno = EIO;
            return -1;
        };
        platform::ScopedSysCalls scoped(calls);
        EXPECT_FALSE(keeper.Keep(inputs, 10));
    }
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ncounter=9\n");  // whole, as before
    EXPECT_TRUE(keeper.Finish(inputs));
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ncounter=10\n");
}

TEST(CounterKeeper, AFolderThatCannotBeFlushedIsReported) {
    TempDir dir;
    PlainNamingInputs inputs;
    inputs.numberChecked = true;
    CounterKeeper keeper(SettingsFile(dir / "tovaro.ini"));
    EXPECT_TRUE(keeper.Keep(inputs, 1));
    EXPECT_TRUE(keeper.Keep(inputs, 2));
    platform::SysCalls calls = platform::RealSysCalls();
    calls.fsync = [](int fd) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            errno = EIO;
            return -1;
        }
        return ::fsync(fd);
    };
    platform::ScopedSysCalls scoped(calls);
    EXPECT_FALSE(keeper.Finish(inputs));
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ncounter=2\n");
}

TEST(CounterKeeper, ASettingsFileThatIsALinkStaysALink) {
    TempDir dir;
    MakeFolder(dir / "elsewhere");
    WriteFile(dir / "elsewhere/real.ini", "[settings]\ncounter=1\n");
    ASSERT_EQ(::symlink("elsewhere/real.ini", (dir / "tovaro.ini").c_str()), 0);
    PlainNamingInputs inputs;
    inputs.numberChecked = true;
    CounterKeeper keeper(SettingsFile(dir / "tovaro.ini"));
    RecordedWrites writes;
    for (int32_t next = 2; next <= 5; ++next) {
        EXPECT_TRUE(keeper.Keep(inputs, next));
        EXPECT_EQ(ReadFile(dir / "elsewhere/real.ini"), "[settings]\ncounter=" + std::to_string(next) + "\n");
    }
    EXPECT_TRUE(keeper.Finish(inputs));
    EXPECT_EQ(writes.Writes().size(), 3u);  // all but the first in place
    const auto link = platform::InfoOfPath(dir / "tovaro.ini", /*followLinks=*/false);
    ASSERT_TRUE(link.has_value());
    EXPECT_TRUE(link->IsSymlink());
    EXPECT_EQ(ListNames(dir / "elsewhere"), std::vector<std::string>{"real.ini"});
}

}  // namespace

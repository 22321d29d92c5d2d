#include "transfer/CounterKeeper.h"

#include <gtest/gtest.h>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "settings/SettingsFile.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"
#include "transfer/MovePass.h"

using namespace testsupport;
using namespace transfer;
using Names = std::vector<std::string>;

namespace {

std::vector<std::pair<off_t, size_t>> g_writes;  // each pwrite while recording: where, how long
int g_faultyWrites = 0;

ssize_t RecordingPwrite(int fd, const void* buffer, size_t count, off_t offset) {
    g_writes.emplace_back(offset, count);
    return platform::RealSysCalls().pwrite(fd, buffer, count, offset);
}

// A camera folder with `pictures` pictures, a destination and a settings file holding `before` (if any).
struct Pass {
    Pass(size_t pictures, const std::optional<std::string>& before) {
        MakeFolder(from);
        MakeFolder(to);
        for (size_t i = 0; i < pictures; ++i) {
            WriteFile(from + "/IMG_" + std::to_string(1000 + i) + ".JPG", "picture");
        }
        if (before) {
            WriteFile(path, *before);
        }
    }
    // A numbered move pass from `start`; `afterItem` sees the number the next file would get, which is what
    // "counter" must hold at that moment.
    TransferReport Run(const std::string& start, const std::function<void(const std::string&)>& afterItem) {
        inputs.numberText = start;
        inputs.numberChecked = true;
        PassOptions options;
        options.onItem = [&](const TransferItem& item) {
            EXPECT_TRUE(item.Done()) << item.oldName << ": " << item.reason;
            afterItem(inputs.numberText);
        };
        return MovePass(from, to, kNameNumber, inputs, settings, options);
    }
    std::string Text() const { return ReadFile(path); }

    TempDir dir;
    std::string from = dir / "camera", to = dir / "computer", path = dir / "tovaro.ini";
    SettingsFile settings{path};
    PlainNamingInputs inputs;
};

struct PassCase {
    const char* what;
    std::optional<std::string> before;  // no value: no settings file yet
    std::string head, tail;             // after each taken file the file is head + next number + tail
    const char* start;
    Names counters;  // "counter" after each file, in turn
    size_t inPlace;  // how many of those writes must have been made in place
};

// A settings file whose counter digits start `at` bytes in, pushed there by a long other key.
PassCase CounterAt(const char* what, size_t at, const char* start, Names counters, size_t inPlace) {
    const std::string lead = "[settings]\npad=", key = "\ncounter=";
    const std::string head = lead + std::string(at - lead.size() - key.size(), 'x') + key;
    return PassCase{what, head + "0\n", head, "\n", start, std::move(counters), inPlace};
}

// "[settings]\ncounter=N\n", from `start` on; `fileFirst`: the file already holds `start`.
PassCase Plain(const char* what, const char* start, Names counters, size_t inPlace, bool fileFirst = true) {
    const std::string head = "[settings]\ncounter=";
    PassCase c{what, std::nullopt, head, "\n", start, std::move(counters), inPlace};
    if (fileFirst) {
        c.before = head + start + "\n";
    }
    return c;
}

TEST(CounterKeeper, HoldsTheTrueNextNumberAfterEveryFileAndLeavesTheRestAlone) {
    const PassCase cases[] = {
        Plain("TwoLengthsCrossed", "98", {"99", "100", "101", "102"}, 2),
        Plain("ShrinkingNegativeNumbers", "-12", {"-11", "-10", "-9", "-8"}, 2),
        Plain("NoFileYetAndWrapsPastTheLargest", "2147483645",
              {"2147483646", "2147483647", "-2147483648", "-2147483647"}, 2, false),
        {"UsersOtherLinesKeptByteForByte",
         "; mine\r\n[other]\r\ncounter=elsewhere\r\n[Settings]\r\nfromdir=/card\r\n  Counter = 5   \r\n"
         "todir=/pictures\r\n\r\n[more]\r\nx = y",
         "; mine\r\n[other]\r\ncounter=elsewhere\r\n[Settings]\r\nfromdir=/card\r\n  Counter = ",
         "\r\ntodir=/pictures\r\n\r\n[more]\r\nx = y",
         "5",
         {"6", "7", "8", "9", "10", "11"},
         4},
        // Digits written in place must lie within one 512-byte sector, which a disk writes whole.
        CounterAt("TwoDigitsEndAtASectorsEnd", 510, "97", {"98", "99", "100", "101"}, 1),
        CounterAt("SecondDigitWouldCrossIntoTheNextSector", 511, "7", {"8", "9", "10", "11"}, 1),
        CounterAt("DigitsStartASector", 512, "8", {"9", "10", "11", "12"}, 2),
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.what);
        Pass pass(c.counters.size(), c.before);
        Names seen;
        platform::SysCalls calls = platform::RealSysCalls();
        calls.pwrite = RecordingPwrite;
        g_writes.clear();
        platform::ScopedSysCalls scoped(calls);
        const TransferReport report = pass.Run(c.start, [&](const std::string& next) {
            EXPECT_EQ(pass.Text(), c.head + next + c.tail);
            seen.push_back(pass.settings.Read("counter"));
        });
        EXPECT_EQ(report.counterError, "");
        EXPECT_EQ(seen, c.counters);
        EXPECT_EQ(ListNames(pass.dir.Path()), (Names{"camera", "computer", "tovaro.ini"}));
        for (const auto& [offset, length] : g_writes) {
            EXPECT_EQ(offset / 512, (offset + static_cast<off_t>(length) - 1) / 512)
                << offset << "+" << length;
        }
        EXPECT_EQ(g_writes.size(), c.inPlace);
    }
}

TEST(CounterKeeper, AFailingWriteInPlaceFallsBackToAReplacement) {
    using Pwrite = ssize_t (*)(int, const void*, size_t, off_t);
    const std::pair<const char*, Pwrite> faults[] = {
        {"WritesOneDigitOnly",
         [](int fd, const void* buffer, size_t, off_t offset) {
             ++g_faultyWrites;
             return platform::RealSysCalls().pwrite(fd, buffer, 1, offset);
         }},
        {"FailsEverySecondTime",
         [](int fd, const void* buffer, size_t count, off_t offset) {
             return ++g_faultyWrites % 2 == 1 ? Fail<ENOSPC, ssize_t>()
                                              : platform::RealSysCalls().pwrite(fd, buffer, count, offset);
         }},
    };
    for (const auto& [what, pwrite] : faults) {
        SCOPED_TRACE(what);
        Pass pass(5, "[settings]\ntodir=/pictures\ncounter=1\n");
        platform::SysCalls calls = platform::RealSysCalls();
        calls.pwrite = pwrite;
        g_faultyWrites = 0;
        platform::ScopedSysCalls scoped(calls);
        const TransferReport report = pass.Run("20", [&](const std::string& next) {
            EXPECT_EQ(pass.Text(), "[settings]\ntodir=/pictures\ncounter=" + next + "\n");
        });
        EXPECT_GT(g_faultyWrites, 0);
        EXPECT_EQ(report.counterError, "");
        EXPECT_EQ(pass.Text(), "[settings]\ntodir=/pictures\ncounter=25\n");
        EXPECT_EQ(ListNames(pass.dir.Path()), (Names{"camera", "computer", "tovaro.ini"}));
    }
}

// Another program (or another copy of this one) changes the file during the pass: its change stays and our
// counter wins after it.
TEST(CounterKeeper, AnotherWritersChangeStaysAndOurCounterWinsAfterIt) {
    struct Meddling {
        const char* what;
        int when;                 // after which taken file, of six
        const char *key, *value;  // what it writes; no key: it rewrites the file in place as head, next, tail
        std::string head, tail;   // afterwards the file is head + next number + tail
    };
    const Meddling cases[] = {
        {"ReplacesItWithAnotherKey", 2, "todir", "/elsewhere",
         "[settings]\ncounter=", "\ntodir=/elsewhere\n"},
        // 11 where we have 97, the same size: only the file's identity tells.
        {"ReplacesItWithACounterOfItsOwn", 2, "counter", "11", "[settings]\ncounter=", "\n"},
        {"PutsBackAnOldCounterAfterTheLastFile", 6, "counter", "7", "[settings]\ncounter=", "\n"},
        // The same size, the value one byte further on: where our digits were is now "=" and a digit.
        {"RewritesItInPlaceWithTheValueMoved", 1, nullptr, nullptr, "[settings]\r\ncounter=", ""},
    };
    for (const Meddling& c : cases) {
        SCOPED_TRACE(c.what);
        Pass pass(6, std::nullopt);
        int taken = 0;
        const TransferReport report = pass.Run("95", [&](const std::string& next) {
            if (taken >= c.when) {
                EXPECT_EQ(pass.Text(), c.head + next + c.tail) << "after file " << taken + 1;
            }
            if (++taken == c.when && c.key != nullptr) {
                EXPECT_TRUE(SettingsFile(pass.path).Write(c.key, c.value));
            } else if (taken == c.when) {
                WriteFile(pass.path, c.head + next + c.tail);
            }
        });
        EXPECT_EQ(report.counterError, "");
        EXPECT_EQ(pass.Text(), c.head + "101" + c.tail);
    }
}

TEST(CounterKeeper, TheLastValueIsWrittenAtTheEndWhenItsOwnWriteFailed) {
    TempDir dir;
    PlainNamingInputs inputs;
    inputs.numberChecked = true;
    CounterKeeper keeper(SettingsFile(dir / "tovaro.ini"));
    EXPECT_TRUE(keeper.Keep(inputs, 9));
    {
        platform::SysCalls calls = platform::RealSysCalls();
        calls.pwrite = Fail<EIO>;
        calls.rename = Fail<EIO>;
        platform::ScopedSysCalls scoped(calls);
        EXPECT_FALSE(keeper.Keep(inputs, 10));
    }
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ncounter=9\n");  // whole, as before
    EXPECT_TRUE(keeper.Finish(inputs));
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ncounter=10\n");
}

}  // namespace

#include "transfer/CounterKeeper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <algorithm>
#include <optional>

#include "settings/SettingsFile.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"
#include "transfer/NamingRules.h"

using namespace testsupport;
using namespace transfer;

namespace {

int g_pwrites = 0;

ssize_t CountingPwrite(int fd, const void* buffer, size_t count, off_t offset) {
    ++g_pwrites;
    // Never a write across a sector.
    EXPECT_EQ(offset / 512, (offset + static_cast<off_t>(count) - 1) / 512);
    return platform::RealSysCalls().pwrite(fd, buffer, count, offset);
}

// A folder that takes no new file, where the files in it may still be written: root can't be given one.
int OpenWithoutCreating(const char* path, int flags, mode_t mode) {
    if ((flags & O_CREAT) != 0) {
        errno = EACCES;
        return -1;
    }
    return platform::RealSysCalls().open(path, flags, mode);
}

// After each kept number the file holds head + number + tail, whole; most writes change the digits in
// place, within one 512-byte sector; anything else replaces the file. Faults and other writers on the way.
TEST(CounterKeeper, TheFileHoldsTheNextNumberAfterEveryFile) {
    const std::string pad = "[settings]\npad=" + std::string(487, 'x') + "\ncounter=";  // digits at 511
    const std::string plain = "[settings]\ncounter=", mine = "; mine\r\n[Settings]\r\n  Counter = ";
    const struct {
        std::optional<std::string> before;
        std::string head, tail;
        std::vector<int32_t> numbers;
        int inPlace;              // -1: every write in place fails
        bool folderShut = false;  // the folder takes no new file: the writes are all in place
    } cases[] = {
        // No file yet; lengths cross.
        {std::nullopt, plain, "\n", {98, 99, 100, 101}, 2},
        // The user's other lines kept.
        {mine + "5   \r\n[more]", mine, "\r\n[more]", {6, 7, -8, -9}, 2},
        // The digits would cross a sector.
        {pad + "7\n", pad, "\n", {97, 98, 99, 100}, 0},
        // Every write in place fails.
        {plain + "1\n", plain, "\n", {21, 22, 23}, -1},
        // The folder takes no new file.
        {plain + "97\n", plain, "\n", {98, 99, 100}, 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before.value_or("no file"));
        TempDir dir;
        if (c.before) {
            WriteFile(dir / "tovaro.ini", *c.before);
        }
        PlainNamingInputs inputs;
        inputs.numberChecked = true;
        platform::SysCalls calls = platform::RealSysCalls();
        calls.pwrite =
            c.inPlace < 0 ? Fail<ENOSPC, ssize_t, int, const void*, size_t, off_t> : CountingPwrite;
        calls.open = c.folderShut ? OpenWithoutCreating : calls.open;
        platform::ScopedSysCalls scoped(calls);
        g_pwrites = 0;
        CounterKeeper keeper(SettingsFile(dir / "tovaro.ini"));
        for (const int32_t number : c.numbers) {
            EXPECT_TRUE(keeper.Keep(inputs, number));
            EXPECT_EQ(ReadFile(dir / "tovaro.ini"), c.head + std::to_string(number) + c.tail);
        }
        EXPECT_TRUE(keeper.Finish(inputs));
        EXPECT_EQ(g_pwrites, std::max(c.inPlace, 0));
        EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"tovaro.ini"});
    }
}

// Another program replaces the file during the pass: its change stays, and our counter wins after it.
TEST(CounterKeeper, AnotherWritersChangeStaysAndOurLastNumberWins) {
    TempDir dir;
    const SettingsFile settings(dir / "tovaro.ini");
    PlainNamingInputs inputs;
    inputs.numberChecked = true;
    CounterKeeper keeper(settings);
    EXPECT_TRUE(keeper.Keep(inputs, 96));
    WriteFile(dir / "other.ini", "[settings]\ntodir=/elsewhere\ncounter=11\n");
    ASSERT_EQ(::rename((dir / "other.ini").c_str(), (dir / "tovaro.ini").c_str()), 0);
    EXPECT_TRUE(keeper.Keep(inputs, 97));
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ntodir=/elsewhere\ncounter=97\n");
    EXPECT_TRUE(settings.Write("counter", "7"));  // after the last file
    EXPECT_TRUE(keeper.Finish(inputs));
    EXPECT_EQ(settings.Read("counter"), "97");
    ::chmod((dir / "tovaro.ini").c_str(), 0444);  // made read-only by its owner: never written again
    CounterKeeper later(settings);
    EXPECT_FALSE(later.Keep(inputs, 98));
    EXPECT_EQ(settings.Read("counter"), "97");
}

}  // namespace

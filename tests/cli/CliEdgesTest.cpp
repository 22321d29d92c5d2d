// The built tovaro-cli at the edges: two runs sharing one settings file, and a run stopped by a signal.
#include <gtest/gtest.h>
#include <algorithm>
#include <set>
#include <string>

#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

const std::string kCli = ShellQuote(TOVARO_CLI_PATH);

void PutPictures(const std::string& folder, int count, size_t size) {
    MakeFolder(folder);
    for (int i = 0; i < count; ++i) {
        std::string bytes(size, '\0');
        for (size_t at = 0; at < size; ++at) {
            bytes[at] = static_cast<char>((at * 2654435761u + static_cast<size_t>(i) * 40503u) >> 13);
        }
        WriteFile(folder + "/IMG_" + std::to_string(1000 + i) + ".JPG", bytes);
    }
}

TEST(CliEdges, TwoNumberRunsAtOnceNeverHandOutANumberTwice) {
    TempDir dir;
    PutPictures(dir / "a", 300, 10);
    PutPictures(dir / "b", 300, 10);
    MakeFolder(dir / "to");
    WriteFile(dir / "tovaro.ini", "[settings]\ncounter=1000\n");
    const std::string run = kCli + " --number --quiet --settings " + ShellQuote(dir / "tovaro.ini") +
                            " --to " + ShellQuote(dir / "to") + " --from ";
    EXPECT_EQ(RunCommand(run + ShellQuote(dir / "a") + " & a=$!; " + run + ShellQuote(dir / "b") +
                         " & b=$!; wait $a && wait $b"),
              0);
    std::set<int> numbers;
    for (const std::string& name : ListNames(dir / "to")) {
        numbers.insert(std::stoi(name.substr(name.find(" -") + 2)));
    }
    EXPECT_EQ(numbers.size(), 600u);
    EXPECT_EQ(*numbers.begin(), 1000);
    EXPECT_EQ(*numbers.rbegin(), 1599);
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ncounter=1600\n");
}

// Ctrl-C during --zip: the pass stops after the picture in hand, closes and checks the archive with what it
// holds, removes only those pictures, says so and exits 130.
TEST(CliEdges, AnInterruptedArchivePassLeavesAWholeArchive) {
    TempDir dir;
    PutPictures(dir / "camera", 40, 1 << 20);
    WriteFile(dir / "camera/IMG_0999\n.JPG", "first in name order");
    MakeFolder(dir / "to");
    const std::string archive = dir / "to/ArchivePics.zip";
    std::string output;
    const int status = RunCommand(kCli + " --zip --from " + ShellQuote(dir / "camera") + " --to " +
                                      ShellQuote(dir / "to") + " --settings " + ShellQuote(dir / "s.ini") +
                                      " 2>&1 & p=$!; for i in $(seq 500); do [ -s " + ShellQuote(archive) +
                                      " ] && break; sleep 0.01; done; kill -INT $p; wait $p",
                                  &output);
    EXPECT_EQ(status, 130) << output;
    EXPECT_NE(output.find("Stopped on request"), std::string::npos) << output;
    EXPECT_NE(output.find("IMG_0999\\n.JPG -> IMG_0999\\n.jpg\n"), std::string::npos);  // one line a file
    std::string listing;
    ASSERT_EQ(RunCommand("unzip -Z1 " + ShellQuote(archive), &listing), 0);
    EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(archive)), 0);
    const size_t archived = static_cast<size_t>(std::count(listing.begin(), listing.end(), '\n'));
    const size_t kept = ListNames(dir / "camera").size();
    EXPECT_GT(archived, 0u);
    EXPECT_GT(kept, 0u);
    EXPECT_EQ(archived + kept, 41u);  // every picture is in the archive or in the camera folder, not both
}

}  // namespace

// Runs the built tovaro-cli on real folders, as a script would. Every run that transfers names its settings
// file, so that none reads or writes the user's (where the settings live is the install test's part).
#include <gtest/gtest.h>
#include <string>
#include <tuple>

#include "cli/CommandLine.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

TEST(Cli, KeepsReportsWarningsAndStatusesWhereAScriptExpectsThem) {
    TempDir dir;
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    WriteFile(dir / "camera/IMG_0001.JPG", "1");
    WriteFile(dir / "computer/IMG_0001 -trip.jpg", "already here");
    const std::string folders = "tovaro-cli --from camera --to computer --settings s.ini ";
    const std::string clash =
        "IMG_0001.JPG -> IMG_0001 -trip.jpg: not moved: a file with that name already exists\n";
    const struct {
        std::string command;  // a line of a script run in the test's folder; tovaro-cli is the built one
        int status;
        std::string out, err;
    } runs[] = {
        {"tovaro-cli --version", 0, cli::VersionText(), ""},
        {"tovaro-cli -h", 0, cli::HelpText(), ""},
        {"tovaro-cli --bogus", 2, "", "tovaro-cli: unknown option --bogus (see tovaro-cli --help)\n"},
        {"tovaro-cli --from none --to computer", 1, "",
         "tovaro-cli: cannot read the camera folder none: the file or folder does not exist\n"},
        {folders + "--text trip", 1, clash + "Moved 0 of 1 file. 1 not moved.\n", ""},
        {folders + "--text trip --quiet", 1, clash, ""},
        {folders + "--number=7", 0, "IMG_0001.JPG -> IMG_0001 -7.jpg\nMoved 1 of 1 file.\n", ""},
        {"touch camera/IMG_0002.JPG; tovaro-cli --from camera --to computer --number=3 --settings "
         "gone/tovaro.ini",
         1, "IMG_0002.JPG -> IMG_0002 -3.jpg\nMoved 1 of 1 file.\n",
         "tovaro-cli: warning: the running number could not be saved in gone/tovaro.ini\n"},
    };
    for (const auto& run : runs) {
        const int status =
            RunCommand("cd " + ShellQuote(dir.Path()) + " && PATH=\"$(dirname " +
                       ShellQuote(TOVARO_CLI_PATH) + "):$PATH\" && { " + run.command + "; } >out 2>err");
        EXPECT_EQ(std::tuple(status, ReadFile(dir / "out"), ReadFile(dir / "err")),
                  std::tuple(run.status, run.out, run.err))
            << run.command;
    }
    EXPECT_EQ(ReadFile(dir / "s.ini"), "[settings]\ncounter=8\n");
}

}  // namespace

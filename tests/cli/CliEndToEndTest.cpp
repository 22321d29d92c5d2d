// Runs the built tovaro-cli on real folders, as a script would.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

TEST(Cli, KeepsReportsWarningsAndSettingsWhereAScriptExpectsThem) {
    TempDir dir;
    for (const char* folder : {"camera", "computer", "bin"}) {
        MakeFolder(dir / folder);
    }
    // An installed copy in a folder it may not write to (owned by root, or read-only): it keeps its
    // settings in the user's own folder, made on the first write.
    ASSERT_EQ(RunCommand("cp " + ShellQuote(TOVARO_CLI_PATH) + " " + ShellQuote(dir / "bin") +
                         " && chmod a-w " + ShellQuote(dir / "bin")),
              0);
    WriteFile(dir / "camera/IMG_0001.JPG", "1");
    WriteFile(dir / "computer/IMG_0001 -trip.jpg", "already here");
    const std::string folders = "--from camera --to computer ";
    const std::string clash =
        "IMG_0001.JPG -> IMG_0001 -trip.jpg: not moved: a file with that name already exists\n";
    const struct {
        std::string put;   // a picture to put in the camera folder first
        std::string args;  // as the shell splits them, in the test's folder
        int status;
        std::string out, err;
    } runs[] = {
        {"", "--version", 0, cli::VersionText(), ""},
        {"", "-h", 0, cli::HelpText(), ""},
        {"", "--from camera --bogus", 2, "", "tovaro-cli: unknown option --bogus (see tovaro-cli --help)\n"},
        {"", "--from none --to computer", 1, "",
         "tovaro-cli: cannot read the camera folder none: the file or folder does not exist\n"},
        {"", folders + "--text trip", 1, clash + "Moved 0 of 1 file. 1 not moved.\n", ""},
        {"", folders + "--text trip --quiet", 1, clash, ""},
        {"", folders + "--number=7", 0, "IMG_0001.JPG -> IMG_0001 -7.jpg\nMoved 1 of 1 file.\n", ""},
        {"IMG_0002.JPG", folders + "--number=3 --settings gone/tovaro.ini", 1,
         "IMG_0002.JPG -> IMG_0002 -3.jpg\nMoved 1 of 1 file.\n",
         "tovaro-cli: warning: the running number could not be saved in gone/tovaro.ini\n"},
        {"IMG_0003.JPG", folders + "--number", 0, "IMG_0003.JPG -> IMG_0003 -8.jpg\nMoved 1 of 1 file.\n",
         ""},
    };
    for (const auto& run : runs) {
        if (!run.put.empty()) {
            WriteFile(dir / "camera/" + run.put, run.put);
        }
        std::string out;
        const int status =
            RunCommand("cd " + ShellQuote(dir.Path()) + " && env -u XDG_CONFIG_HOME HOME=\"$PWD/home\"" +
                           " bin/tovaro-cli " + run.args + " 2>err",
                       &out);
        EXPECT_EQ(status, run.status) << run.args;
        EXPECT_EQ(out, run.out) << run.args;
        EXPECT_EQ(ReadFile(dir / "err"), run.err) << run.args;
    }
    EXPECT_EQ(ReadFile(dir / "home/.config/tovaro/tovaro.ini"), "[settings]\ncounter=9\n");
    EXPECT_EQ(ListNames(dir / "bin"), std::vector<std::string>{"tovaro-cli"});
    RunCommand("chmod u+w " + ShellQuote(dir / "bin"));
}

}  // namespace

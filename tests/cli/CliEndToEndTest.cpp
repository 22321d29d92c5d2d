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
    const std::string from = dir / "camera", to = dir / "computer", bin = dir / "bin", home = dir / "home";
    for (const std::string& folder : {from, to, bin}) {
        MakeFolder(folder);
    }
    // An installed copy in a folder it may not write to (owned by root, or read-only): it keeps its
    // settings in the user's own folder, made on the first write.
    const std::string program = bin + "/tovaro-cli";
    ASSERT_EQ(RunCommand("cp " + ShellQuote(TOVARO_CLI_PATH) + " " + ShellQuote(program) + " && chmod a-w " +
                         ShellQuote(bin)),
              0);
    WriteFile(from + "/IMG_0001.JPG", "1");
    WriteFile(to + "/IMG_0001 -trip.jpg", "already here");
    const std::string clash =
        "IMG_0001.JPG -> IMG_0001 -trip.jpg: not moved: a file with that name already exists\n";
    const struct {
        std::string put;  // a picture to put in the camera folder first
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } runs[] = {
        {"", {"--version"}, 0, cli::VersionText(), ""},
        {"", {"-h"}, 0, cli::HelpText(), ""},
        {"",
         {"--from", from, "--bogus"},
         2,
         "",
         "tovaro-cli: unknown option --bogus (see tovaro-cli --help)\n"},
        {"",
         {"--from", dir / "none", "--to", to},
         1,
         "",
         "tovaro-cli: cannot read the camera folder " + dir / "none" +
             ": the file or folder does not exist\n"},
        {"",
         {"--from", from, "--to", to, "--text", "trip"},
         1,
         clash + "Moved 0 of 1 file. 1 not moved.\n",
         ""},
        {"", {"--from", from, "--to", to, "--text", "trip", "--quiet"}, 1, clash, ""},
        {"",
         {"--from", from, "--to", to, "--number=7"},
         0,
         "IMG_0001.JPG -> IMG_0001 -7.jpg\nMoved 1 of 1 file.\n",
         ""},
        {"IMG_0002.JPG",
         {"--from", from, "--to", to, "--number=3", "--settings", dir / "gone/tovaro.ini"},
         0,
         "IMG_0002.JPG -> IMG_0002 -3.jpg\nMoved 1 of 1 file.\n",
         "tovaro-cli: warning: the running number could not be saved in " + dir / "gone/tovaro.ini" + "\n"},
        {"IMG_0003.JPG",
         {"--from", from, "--to", to, "--number"},
         0,
         "IMG_0003.JPG -> IMG_0003 -8.jpg\nMoved 1 of 1 file.\n",
         ""},
    };
    for (const auto& run : runs) {
        if (!run.put.empty()) {
            WriteFile(from + "/" + run.put, run.put);
        }
        std::string command = "env -u XDG_CONFIG_HOME HOME=" + ShellQuote(home) + " " + ShellQuote(program);
        for (const std::string& arg : run.args) {
            command += " " + ShellQuote(arg);
        }
        std::string out;
        const int status = RunCommand(command + " 2>" + ShellQuote(dir / "err"), &out);
        SCOPED_TRACE(testing::PrintToString(run.args));
        EXPECT_EQ(status, run.status);
        EXPECT_EQ(out, run.out);
        EXPECT_EQ(ReadFile(dir / "err"), run.err);
    }
    EXPECT_EQ(ReadFile(home + "/.config/tovaro/tovaro.ini"), "[settings]\ncounter=9\n");
    EXPECT_EQ(ListNames(bin), std::vector<std::string>{"tovaro-cli"});
    RunCommand("chmod u+w " + ShellQuote(bin));
}

}  // namespace

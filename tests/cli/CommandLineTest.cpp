#include "cli/CommandLine.h"

#include <gtest/gtest.h>
#include <sstream>

#include "cli/Transfer.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

cli::ParseResult Parse(std::vector<std::string> args) {
    return cli::ParseCommandLine(args);
}

// What the end-to-end runs show in what they print (--from, --to, --text, --number, --date, --date-from,
// --zip, --dry-run, --quiet, --recursive, --settings, -h) is theirs; the other options are read here.
TEST(CommandLine, ReadsTheOptions) {
    const auto r = Parse({"--from", "a", "--to", "b", "--rename", "-x-", "Rome_", "--move-extensions",
                          ".JPG .cr2", "--zip-extensions=.bmp", "--folders=%Y/%m", "--eject", "--"});
    const cli::CliOptions& o = r.options;
    // A value may start with a dash.
    EXPECT_EQ(r.error + o.renameFind + "|" + o.renameNew, "-x-|Rome_");
    EXPECT_EQ(o.moveExtensions, (std::vector<std::string>{".jpg", ".cr2"}));
    EXPECT_EQ(o.zipExtensions, std::vector<std::string>{".bmp"});
    EXPECT_TRUE(o.nameOption == transfer::kNameRename && o.folders == "%Y/%m" && o.eject);
}

TEST(CommandLine, RefusesWhatItCannotUse) {
    // The arguments, split at blanks, after "--from a --to b" where they start with "+"; the error.
    const std::pair<std::string, std::string> cases[] = {
        {"--from a", "both --from DIR and --to DIR are needed"},
        {"+--rename x", "--rename needs FIND NEW"},
        // A pattern that would climb out of the destination folder.
        {"+--folders %Y/..", "--folders: its level \"..\""},
    };
    for (const auto& [line, expected] : cases) {
        std::vector<std::string> args;
        std::istringstream words(line.starts_with('+') ? "--from a --to b " + line.substr(1) : line);
        for (std::string word; words >> word;) {
            args.push_back(word);
        }
        const std::string error = Parse(args).error;
        EXPECT_NE(error.find(expected), std::string::npos) << line << ": " << error;
    }
}

// A subfolder that can't be read (a damaged card) is not done, also with --quiet: what it holds stays.
TEST(RunTransfer, TellsOfAFolderThatCantBeRead) {
    TempDir dir;
    MakeFolder(dir / "sub");
    const cli::CliOptions options = Parse({"--from", dir.Path(), "--to", dir.Path(), "--settings",
                                           dir / "s.ini", "--dry-run", "--recursive", "--quiet"})
                                        .options;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.open = [](const char* path, int flags, mode_t mode) {
        return std::string(path).ends_with("/sub") ? Fail<EIO, int>()
                                                   : platform::RealSysCalls().open(path, flags, mode);
    };
    platform::ScopedSysCalls scoped(calls);
    std::ostringstream out;
    EXPECT_EQ(cli::RunTransfer(options, out, out, false), cli::kExitSomeNotMoved);
    EXPECT_EQ(out.str(), "tovaro-cli: the folder " + dir / "sub" +
                             " can't be read (Input/output error), so what it holds stays where it is\n");
}

}  // namespace

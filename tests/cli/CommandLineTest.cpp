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

// What the end-to-end runs show in what they print (--text, --number, --date, --date-from, --zip, --dry-run,
// --quiet, --recursive, --settings) is theirs; the other options are read here.
TEST(CommandLine, ReadsTheOptions) {
    const auto r = Parse({"--from", "/card", "--to=/pics", "--rename", "-x-", "Rome_", "--move-extensions",
                          ".JPG .cr2", "--zip-extensions=.bmp", "--folders=%Y/%m", "--eject", "--"});
    const cli::CliOptions& o = r.options;
    // A value may start with a dash.
    EXPECT_EQ(r.error + o.fromDir + "|" + o.toDir + "|" + o.renameFind + "|" + o.renameNew,
              "/card|/pics|-x-|Rome_");
    EXPECT_EQ(o.moveExtensions, (std::vector<std::string>{".jpg", ".cr2"}));
    EXPECT_EQ(o.zipExtensions, std::vector<std::string>{".bmp"});
    EXPECT_TRUE(o.nameOption == transfer::kNameRename && o.folders == "%Y/%m" && o.eject);
    EXPECT_TRUE(Parse({"-V"}).options.version && Parse({"--help"}).options.help);  // no folders needed
    std::istringstream help(cli::HelpText());  // for a terminal of 80 columns
    for (std::string line; std::getline(help, line);) {
        EXPECT_TRUE(line.size() <= 80 && !line.ends_with(' ')) << '"' << line << '"';
    }
}

TEST(CommandLine, UsageErrorsAreOneLine) {
    // The arguments, split at blanks, after "--from a --to b" where they start with "+"; the error.
    const std::pair<std::string, std::string> cases[] = {
        {"--from a", "both --from DIR and --to DIR are needed"},
        {"--from a --to=", "the folder after --to is empty"},
        {"--from a --from b --to c", "--from is given twice"},
        {"+--date --nothing", "choose only one"},
        {"+--number=x", "--number=N needs a whole number"},
        {"+-- --zip", "unexpected argument \"--zip\""},
        {"+--rename x", "--rename needs FIND NEW"},
        {"+--date=1", "--date takes no \"=\" value"},
        {"+--move-extensions=.jpg,cr2", "\"cr2\" is not an extension"},
        {"+--date-from=exif", "--date-from takes capture or file"},
        {"+--folders %Y/..", "--folders: its level \"..\""},
    };
    for (const auto& [line, expected] : cases) {
        std::vector<std::string> args;
        std::istringstream words(line.starts_with('+') ? "--from a --to b " + line.substr(1) : line);
        for (std::string word; words >> word;) {
            args.push_back(word);
        }
        const std::string error = Parse(args).error;
        EXPECT_TRUE(error.find(expected) != std::string::npos && error.find('\n') == std::string::npos)
            << line << ": " << error;
    }
}

// On a terminal (the end-to-end runs have none) the progress line goes to standard error and is cleared. A
// subfolder that can't be read (a damaged card) is not done, also with --quiet: what it holds stays.
TEST(RunTransfer, ShowsProgressAndTellsOfAFolderThatCantBeRead) {
    TempDir dir;
    MakeFolder(dir / "camera");
    MakeFolder(dir / "camera/sub");
    WriteFile(dir / "camera/IMG_0001.JPG", "a");
    WriteFile(dir / "camera/IMG_0002.JPG", "b");
    cli::CliOptions options;
    options.fromDir = dir / "camera";
    options.toDir = dir.Path();
    options.settingsPath = dir / "s.ini";
    options.dryRun = true;
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunTransfer(options, out, err, true), cli::kExitAllMoved);
    EXPECT_EQ(out.str().find('\r'), std::string::npos);
    EXPECT_EQ(err.str(), "\r1 of 2 files handled...\r\033[K\r2 of 2 files handled...\r\033[K");
    options.recursive = options.quiet = true;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.open = [](const char* path, int flags, mode_t mode) {
        return std::string(path).ends_with("/sub") ? Fail<EIO, int>()
                                                   : platform::RealSysCalls().open(path, flags, mode);
    };
    platform::ScopedSysCalls scoped(calls);
    std::ostringstream quiet, problems;
    EXPECT_EQ(cli::RunTransfer(options, quiet, problems, false), cli::kExitSomeNotMoved);
    EXPECT_EQ(quiet.str() + problems.str(),
              "tovaro-cli: the folder " + dir / "camera/sub" +
                  " can't be read (Input/output error), so what it holds stays where it is\n");
}

}  // namespace

#include "cli/CommandLine.h"

#include <gtest/gtest.h>
#include <sstream>

#include "cli/Transfer.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

cli::ParseResult Parse(std::vector<std::string> args) {
    return cli::ParseCommandLine(args);
}

TEST(CommandLine, ReadsTheOptions) {
    const auto r = Parse({"--from", "/card", "--to=/pics", "--text", "-x-", "--zip", "--dry-run", "--quiet",
                          "--settings", "/etc/t.ini", "--"});
    ASSERT_EQ(r.error, "");
    // A value may start with a dash.
    EXPECT_EQ(r.options.fromDir + "|" + r.options.toDir + "|" + r.options.text + "|" + r.options.settingsPath,
              "/card|/pics|-x-|/etc/t.ini");
    EXPECT_TRUE(r.options.zip && r.options.dryRun && r.options.quiet);
    const struct {
        std::vector<std::string> naming;
        transfer::NameOption option;
        std::optional<int32_t> start;
    } rows[] = {
        {{}, transfer::kNameNothing, {}},
        {{"--nothing"}, transfer::kNameNothing, {}},
        {{"--text", ""}, transfer::kNameText, {}},
        {{"--date"}, transfer::kNameDate, {}},
        {{"--number"}, transfer::kNameNumber, {}},
        {{"--number=-5"}, transfer::kNameNumber, -5},
        {{"--rename", "IMG_", "Rome_"}, transfer::kNameRename, {}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"--from", "a", "--to", "b"};
        args.insert(args.end(), row.naming.begin(), row.naming.end());
        const auto n = Parse(args);
        EXPECT_EQ(n.error, "") << testing::PrintToString(row.naming);
        EXPECT_EQ(n.options.nameOption, row.option) << testing::PrintToString(row.naming);
        EXPECT_EQ(n.options.startNumber, row.start) << testing::PrintToString(row.naming);
    }
    const auto rename = Parse({"--from", "a", "--to", "b", "--rename", "IMG_", "Rome_"});
    EXPECT_EQ(rename.options.renameFind + "|" + rename.options.renameNew, "IMG_|Rome_");
    for (const std::string flag : {"-h", "--help", "-V", "--version"}) {
        const auto r2 = Parse({flag});  // no folders needed
        EXPECT_EQ(r2.error, "") << flag;
        EXPECT_TRUE(flag.find('h') != std::string::npos ? r2.options.help : r2.options.version) << flag;
    }
}

TEST(CommandLine, UsageErrorsAreOneLine) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--from", "a"}, "both --from DIR and --to DIR are needed"},
        {{"--from", "a", "--to", ""}, "the folder after --to is empty"},
        {{"--from", "a", "--from", "b", "--to", "c"}, "--from is given twice"},
        {{"--from", "a", "--to", "b", "--date", "--nothing"}, "choose only one"},
        {{"--from", "a", "--to", "b", "--number=x"}, "--number=N needs a whole number"},
        {{"--from", "a", "--to", "b", "--number", "5"}, "unexpected argument \"5\""},
        {{"--from", "a", "--to", "b", "--", "--zip"}, "unexpected argument \"--zip\""},
        {{"--from", "a", "--to", "b", "--rename", "x"}, "--rename needs FIND NEW"},
        {{"--from", "a", "--to", "b", "--zap"}, "unknown option --zap"},
        {{"-x"}, "unknown option -x"},
        {{"--from", "a", "--to", "b", "--date=1"}, "--date takes no \"=\" value"},
        {{"--from", "a", "--to", "b", "--settings", ""}, "the file after --settings is empty"},
        {{"--from", "a", "--to", "b", "--move-extensions", ".jpg cr2"}, "\"cr2\" is not an extension"},
        {{"--from", "a", "--to", "b", "--date-from=exif"}, "--date-from takes capture or file"},
        {{"stray"}, "unexpected argument \"stray\""},
    };
    for (const auto& [args, expected] : cases) {
        const std::string error = Parse(args).error;
        EXPECT_NE(error.find(expected), std::string::npos) << testing::PrintToString(args) << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(RunTransfer, ShowsProgressWithTheTotalOnlyWhenAskedAndClearsIt) {
    TempDir dir;
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    WriteFile(dir / "camera/IMG_0001.JPG", "a");
    WriteFile(dir / "camera/IMG_0002.JPG", "b");
    cli::CliOptions options;
    options.fromDir = dir / "camera";
    options.toDir = dir / "computer";
    options.settingsPath = dir / "tovaro.ini";
    options.dryRun = true;
    for (bool progress : {false, true}) {
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunTransfer(options, out, err, progress), cli::kExitAllMoved);
        EXPECT_EQ(out.str().find('\r'), std::string::npos);
        if (progress) {
            EXPECT_NE(err.str().find("\r2 of 2 files handled..."), std::string::npos) << err.str();
            EXPECT_TRUE(err.str().ends_with("\r\033[K")) << err.str();
        } else {
            EXPECT_EQ(err.str(), "");
        }
    }
}

}  // namespace

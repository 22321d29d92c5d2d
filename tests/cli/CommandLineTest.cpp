#include "cli/CommandLine.h"

#include <gtest/gtest.h>
#include <sstream>

#include "cli/Transfer.h"
#include "platform/ExecutablePath.h"
#include "platform/Path.h"
#include "settings/SettingsFile.h"
#include "tests/support/TempDir.h"

using namespace testsupport;
using cli::CliOptions;
using cli::ParseCommandLine;

namespace {

cli::ParseResult Parse(std::vector<std::string> args) {
    return ParseCommandLine(args);
}

TEST(CommandLine, ReadsEveryOption) {
    const auto r = Parse({"--from", "/card", "--to=/pics", "--text", "-x-", "--dry-run", "--quiet",
                          "--settings", "/etc/t.ini"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.fromDir, "/card");
    EXPECT_EQ(r.options.toDir, "/pics");
    EXPECT_EQ(r.options.nameOption, transfer::kNameText);
    EXPECT_EQ(r.options.text, "-x-");  // a value may start with a dash
    EXPECT_TRUE(r.options.dryRun);
    EXPECT_TRUE(r.options.quiet);
    EXPECT_EQ(r.options.settingsPath, "/etc/t.ini");
}

TEST(CommandLine, NamingOptions) {
    struct Row {
        std::vector<std::string> naming;
        transfer::NameOption option;
    };
    const Row rows[] = {
        {{}, transfer::kNameNothing},
        {{"--nothing"}, transfer::kNameNothing},
        {{"--text", ""}, transfer::kNameText},
        {{"--date"}, transfer::kNameDate},
        {{"--number"}, transfer::kNameNumber},
        {{"--number=-5"}, transfer::kNameNumber},
        {{"--rename", "IMG_", ""}, transfer::kNameRename},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = {"--from", "a", "--to", "b"};
        args.insert(args.end(), row.naming.begin(), row.naming.end());
        const auto r = Parse(args);
        EXPECT_EQ(r.error, "") << testing::PrintToString(row.naming);
        EXPECT_EQ(r.options.nameOption, row.option) << testing::PrintToString(row.naming);
    }
    EXPECT_FALSE(Parse({"--from", "a", "--to", "b", "--number"}).options.startNumber.has_value());
    EXPECT_EQ(Parse({"--from", "a", "--to", "b", "--number=-5"}).options.startNumber, -5);
    const auto rename = Parse({"--from", "a", "--to", "b", "--rename", "IMG_", "Rome_"});
    EXPECT_EQ(rename.options.renameFind, "IMG_");
    EXPECT_EQ(rename.options.renameNew, "Rome_");
}

TEST(CommandLine, UsageErrorsAreOneLine) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "both --from DIR and --to DIR are needed"},
        {{"--from", "a"}, "both --from DIR and --to DIR are needed"},
        {{"--from", "a", "--to", ""}, "the folder after --to is empty"},
        {{"--from", "a", "--from", "b", "--to", "c"}, "--from is given twice"},
        {{"--from", "a", "--to", "b", "--date", "--nothing"}, "choose only one"},
        {{"--from", "a", "--to", "b", "--number", "--number"}, "choose only one"},
        {{"--from", "a", "--to", "b", "--number=x"}, "--number=N needs a whole number"},
        {{"--from", "a", "--to", "b", "--number=2147483648"}, "--number=N needs a whole number"},
        {{"--from", "a", "--to", "b", "--number", "5"}, "unexpected argument \"5\""},
        {{"--from", "a", "--to", "b", "--rename", "x"}, "--rename needs FIND NEW"},
        {{"--from", "a", "--to", "b", "--text"}, "--text needs TEXT"},
        {{"--from", "a", "--to", "b", "--zap"}, "unknown option --zap"},
        {{"--from", "a", "--to", "b", "--date=1"}, "--date takes no \"=\" value"},
        {{"--from", "a", "--to", "b", "--rename=x", "y"}, "--rename takes no \"=\" value"},
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

TEST(CommandLine, HelpNeedsNoFolders) {
    for (const char* help : {"--help", "-h"}) {
        const auto r = Parse({help});
        EXPECT_EQ(r.error, "");
        EXPECT_TRUE(r.options.help);
    }
    const std::string text = cli::HelpText();
    for (const char* option : {"--from DIR", "--to DIR", "--nothing", "--text TEXT", "--date", "--number[=N]",
                               "--rename FIND NEW", "--dry-run", "--quiet", "--settings FILE", "--help"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
}

TEST(RunTransfer, ShowsProgressOnlyWhenAskedAndClearsIt) {
    TempDir dir;
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    WriteFile(dir / "camera/IMG_0001.JPG", "a");
    WriteFile(dir / "camera/IMG_0002.JPG", "b");
    CliOptions options;
    options.fromDir = dir / "camera";
    options.toDir = dir / "computer";
    options.settingsPath = dir / "tovaro.ini";
    options.dryRun = true;
    for (bool progress : {false, true}) {
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunTransfer(options, out, err, progress), cli::kExitAllMoved);
        EXPECT_EQ(out.str().find('\r'), std::string::npos);
        if (progress) {
            EXPECT_NE(err.str().find("2 files handled"), std::string::npos) << err.str();
            EXPECT_TRUE(err.str().ends_with("\r\033[K")) << err.str();
        } else {
            EXPECT_EQ(err.str(), "");
        }
    }
}

}  // namespace

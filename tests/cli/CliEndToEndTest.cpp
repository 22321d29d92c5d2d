// Runs the built tovaro-cli on real folders, as a script would.
#include <gtest/gtest.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

using namespace testsupport;
using Names = std::vector<std::string>;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public testing::Test {
  protected:
    void SetUp() override {
        MakeFolder(m_from);
        MakeFolder(m_to);
    }

    // Runs a tovaro-cli (the built one unless told) with the arguments, each quoted for the shell.
    Outcome Run(const std::vector<std::string>& args, const std::string& program = TOVARO_CLI_PATH) {
        std::string command = ShellQuote(program);
        for (const std::string& arg : args) {
            command += " " + ShellQuote(arg);
        }
        const std::string errPath = m_dir / "stderr.txt";
        Outcome outcome;
        outcome.status = RunCommand(command + " 2>" + ShellQuote(errPath), &outcome.out);
        outcome.err = ReadFile(errPath);
        ::unlink(errPath.c_str());
        return outcome;
    }

    // The usual arguments: both folders and the test's own settings file.
    std::vector<std::string> Args(std::vector<std::string> more) {
        std::vector<std::string> args = {"--from", m_from, "--to", m_to, "--settings", m_ini};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    void Put(const Names& names) {
        for (const std::string& name : names) {
            WriteFile(m_from + "/" + name, name);
        }
    }

    TempDir m_dir;
    std::string m_from = m_dir / "camera";
    std::string m_to = m_dir / "computer";
    std::string m_ini = m_dir / "tovaro.ini";
};

TEST_F(CliTest, NumberStartsAtTheSavedCounterAndKeepsTheNext) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG", "notes.txt"});
    WriteFile(m_ini, "[settings]\ntodir=/x\ncounter=41\n[mine]\nkeep=1\n");
    const Outcome o = Run(Args({"--number"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");  // no progress line: standard error is not a terminal here
    const Names names = ListNames(m_to);
    EXPECT_TRUE(names == (Names{"IMG_0001 -41.jpg", "IMG_0002 -42.jpg"}) ||
                names == (Names{"IMG_0001 -42.jpg", "IMG_0002 -41.jpg"}))
        << testing::PrintToString(names);
    for (const char* line : {"IMG_0001.JPG -> IMG_0001 -4", "IMG_0002.JPG -> IMG_0002 -4",
                             "Moved 2 of 2 files. 1 other file stays"}) {
        EXPECT_NE(o.out.find(line), std::string::npos) << o.out;
    }
    EXPECT_EQ(ReadFile(m_ini), "[settings]\ntodir=/x\ncounter=43\n[mine]\nkeep=1\n");
    EXPECT_EQ(ListNames(m_from), Names{"notes.txt"});
}

TEST_F(CliTest, EachNamingOption) {
    struct Row {
        std::vector<std::string> naming;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {{}, "IMG_0001.jpg"},
        {{"--text", "Trip/2026 Beach"}, "IMG_0001 -Trip2026 Beach.jpg"},
        {{"--rename", "IMG_", "Rome_"}, "Rome_0001.jpg"},
        {{"--number=-1"}, "IMG_0001 --1.jpg"},
    };
    for (const Row& row : rows) {
        Put({"IMG_0001.JPG"});
        const Outcome o = Run(Args(row.naming));
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(ListNames(m_to), Names{row.expected});
        ::unlink((m_to + "/" + row.expected).c_str());
    }
    Put({"IMG_0001.JPG"});
    EXPECT_EQ(Run(Args({"--date"})).status, 0);
    const Names dated = ListNames(m_to);
    ASSERT_EQ(dated.size(), 1u);
    EXPECT_EQ(dated[0].size(), std::string("IMG_0001 -MMDDYY.jpg").size()) << dated[0];
}

TEST_F(CliTest, AFileNotMovedGivesStatusOneAndTheReasonEvenWhenQuiet) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG"});
    WriteFile(m_to + "/IMG_0001.jpg", "already here");
    const std::string line =
        "IMG_0001.JPG -> IMG_0001.jpg: not moved: a file with that name already exists\n";
    const Outcome o = Run(Args({}));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find(line), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("Moved 1 of 2 files. 1 not moved.\n"), std::string::npos) << o.out;
    EXPECT_EQ(ReadFile(m_to + "/IMG_0001.jpg"), "already here");
    const Outcome quiet = Run(Args({"--quiet"}));
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.out, line);
    ::unlink((m_to + "/IMG_0001.jpg").c_str());
    const Outcome again = Run(Args({"--quiet"}));
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "");
}

TEST_F(CliTest, ADryRunChangesNothing) {
    Put({"IMG_0001.JPG", "CLIP0002.AVI", "notes.txt"});
    const std::string settings = "[settings]\ncounter=5\n";
    WriteFile(m_ini, settings);
    const Outcome o = Run(Args({"--number", "--dry-run"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ListNames(m_from), (Names{"CLIP0002.AVI", "IMG_0001.JPG", "notes.txt"}));
    EXPECT_TRUE(ListNames(m_to).empty());
    EXPECT_EQ(ReadFile(m_ini), settings);
    EXPECT_NE(o.out.find(" -5."), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(" -6."), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("Dry run: 2 of 2 files would be moved; nothing was changed.\n"), std::string::npos)
        << o.out;
}

TEST_F(CliTest, UsageErrorsGiveStatusTwoAndOneLine) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--from", m_from}, Args({"--bogus"}), Args({"--date", "--text", "x"})}) {
        Put({"IMG_0001.JPG"});
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(o.out, "");
        EXPECT_TRUE(o.err.starts_with("tovaro-cli: ")) << o.err;
        EXPECT_NE(o.err.find("--help"), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
        EXPECT_TRUE(ListNames(m_to).empty());
    }
}

TEST_F(CliTest, HelpGoesToStandardOutputAndAMissingCameraFolderIsReported) {
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: tovaro-cli --from DIR --to DIR")) << help.out;
    EXPECT_EQ(help.err, "");
    const Outcome o = Run({"--from", m_dir / "nowhere", "--to", m_to, "--settings", m_ini, "--number=1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("cannot read the camera folder"), std::string::npos) << o.err;
    EXPECT_FALSE(Exists(m_ini));
}

TEST_F(CliTest, TheDefaultSettingsFileLivesBesideTheProgram) {
    TempDir install;
    const std::string program = install / "tovaro-cli";
    ASSERT_EQ(RunCommand("cp " + ShellQuote(TOVARO_CLI_PATH) + " " + ShellQuote(program)), 0);
    Put({"IMG_0001.JPG"});
    const Outcome o = Run({"--from", m_from, "--to", m_to, "--number=8"}, program);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ReadFile(install / "tovaro.ini"), "[settings]\ncounter=9\n");
    Put({"IMG_0002.JPG"});
    EXPECT_EQ(Run({"--from", m_from, "--to", m_to, "--number"}, program).status, 0);
    EXPECT_TRUE(Exists(m_to + "/IMG_0002 -9.jpg"));
}

TEST_F(CliTest, ZipPacksThePicturesAndKeepsAnEarlierArchive) {
    Put({"IMG_0001.JPG", "CLIP0002.AVI"});
    const Outcome first = Run(Args({"--zip", "--text", "trip"}));
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find("IMG_0001.JPG -> IMG_0001 -trip.jpg\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("Archived 1 of 1 file."), std::string::npos) << first.out;
    EXPECT_EQ(ListNames(m_from), Names{"CLIP0002.AVI"});
    std::string listing;
    EXPECT_EQ(RunCommand("unzip -Z1 " + ShellQuote(m_to + "/ArchivePics.zip"), &listing), 0);
    EXPECT_EQ(listing, m_from + "/IMG_0001 -trip.jpg\n");

    Put({"IMG_0003.JPG"});
    const Outcome second = Run(Args({"--zip"}));
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("kept as " + m_to + "/ArchivePics-1.zip"), std::string::npos) << second.out;
    EXPECT_EQ(ListNames(m_to), (Names{"ArchivePics-1.zip", "ArchivePics.zip"}));
}

}  // namespace

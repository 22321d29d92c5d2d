// The import log, undo and skipping what is already on the computer, through the built tovaro-cli: each row a
// script run in a fresh folder (its log in ./state), with what it prints, the folder's path and transfer ids
// left out. t: a transfer from cam to ${TO:-dest} that prints only its warnings and status; u: an undo; s: a
// transfer with --skip-imported.
#include <gtest/gtest.h>
#include <filesystem>
#include <sstream>
#include <string>

#include "cli/Transfer.h"
#include "platform/Sys.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

const std::string kUndid = "Undid transfer ID: ";
const std::string kAlready = "1 already on the computer.";
const std::string kNotWound = " The running number is not wound back.\nstatus ";

TEST(CliHistory, UndoPutsBackWhatTheLogRecordedAndNothingIsImportedTwice) {
    // Another file system, where there is one.
    TempDir shm("/dev/shm");
    const struct {
        std::string script;
        std::string out;
    } rows[] = {
        // To another file system and back.
        {"mk A B C; mkdir $SHM/to; TO=$SHM/to t --text x; echo new >cam/B.JPG; echo more >>\"$SHM/to/C "
         "-x.jpg\"; "
         "u; u; cat cam/*; ls $SHM/to",
         "status 0\nSHM/to/C -x.jpg -> cam/C.JPG: stays: it changed since the transfer\n"
         "SHM/to/B -x.jpg -> cam/B.JPG: stays: its old name is taken again\nSHM/to/A -x.jpg -> cam/A.JPG\n" +
             kUndid + "1 of 3 files went back. 2 stay." + kNotWound +
             "1\ntovaro-cli: nothing was undone: there is no transfer to undo\nstatus 1\nA\nnew\nB -x.jpg\nC "
             "-x.jpg\n"},
        {"mk 'N\nL' B; t --zip --number=4; u; cat cam/B.JPG; ls cam; unzip -tq dest/ArchivePics.zip",
         "status 0\ndest/ArchivePics.zip: cam/N\\nL -5.jpg -> cam/N\\nL.JPG\n"
         "dest/ArchivePics.zip: cam/B -4.jpg -> cam/B.JPG\n" +
             kUndid + "2 of 2 files went back." + kNotWound +
             "0\nB\nB.JPG\nN\nL.JPG\nNo errors detected in compressed data of dest/ArchivePics.zip.\n"},
        // Killed (SIGKILL) once the first picture has left the camera folder, moving and archiving fast.
        {"for z in '' '--zip --compression=fast'; do for i in $(seq 1000 1299); do echo $i >cam/P$i.JPG; "
         "done; $CLI --from cam --to dest $z --number=1 --settings s.ini >/dev/null & p=$!; until [ ! -e "
         "cam/P1000.JPG -a ! -e 'cam/P1000 -1.jpg' ] || ! kill -0 $p; do :; done; kill -9 $p 2>/dev/null; "
         "wait $p "
         "2>/dev/null; u | tail -1; cat cam/* | cmp - <(seq 1000 1299) && ls dest | wc -l; done; "
         "tovaro-cli --log | grep -o 'dest (undone)'",
         "status 0\n0\nstatus 0\n1\ndest (undone)\ndest (undone)\n"},
        {"mk A; touch afile; XDG_STATE_HOME=$PWD/afile t; ls cam; t; flock -s state/tovaro/imports.log $CLI "
         "--undo 2>&1; ls dest",
         "tovaro-cli: the folder afile/tovaro of the import log could not be made: Not a directory; nothing "
         "was "
         "moved\nstatus 1\nA.JPG\nstatus 0\ntovaro-cli: nothing was undone: a transfer is running: undo once "
         "it has finished\nA.jpg\n"},
        {"mk A B; cp cam/* .; t --text x; cp A.JPG B.JPG cam; echo more >>'dest/B -x.jpg'; echo C "
         ">cam/C.JPG; "
         "s --text x; s --text y; ls cam",
         "status 0\nA.JPG -> A -x.jpg: already there (identical)\nB.JPG -> B -x.jpg: not moved: a file with "
         "that "
         "name already exists\nC.JPG -> C -x.jpg\nMoved 1 of 3 files. " +
             kAlready +
             " 1 not moved.\nstatus 1\nA.JPG -> A -y.jpg: already on the computer as dest/A -x.jpg\n"
             "B.JPG -> B -y.jpg\nMoved 1 of 2 files. " +
             kAlready + "\nstatus 0\nA.JPG\n"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        const std::string script =
            "export XDG_STATE_HOME=\"$PWD/state\"; mkdir cam dest; "
            "plain() { sed -e \"s|$PWD/||g; s|$SHM|SHM|g\" -e "
            "'s/[0-9]\\{8\\}-[0-9]\\{6\\}-[0-9]*-[0-9a-f]\\{4\\}/ID/'; }; "
            "tovaro-cli() { \"$CLI\" \"$@\" 2>&1 | plain; return ${PIPESTATUS[0]}; }; "
            "mk() { for n; do echo \"$n\" >\"cam/$n.JPG\"; done; }; "
            "t() { \"$CLI\" --from cam --to \"${TO:-dest}\" --settings s.ini \"$@\" 2>&1 >/dev/null | plain; "
            "echo status ${PIPESTATUS[0]}; }; "
            "u() { tovaro-cli --undo; echo status $?; }; "
            "s() { tovaro-cli --from cam --to dest --settings s.ini --skip-imported \"$@\"; echo status $?; "
            "}; " +
            row.script;
        std::string out;
        RunCommand("cd " + ShellQuote(dir.Path()) + " && CLI=" + ShellQuote(TOVARO_CLI_PATH) +
                       " SHM=" + ShellQuote(shm.Path()) + " bash -c " + ShellQuote(script) + " 2>&1",
                   &out);
        EXPECT_EQ(out, row.out) << row.script;
    }
}

// A crash at any rename or removal of a camera file leaves it recorded: one flush per batch of 1024 files. A
// batch whose records can't be flushed does not act, nor does any after it.
std::string g_log, g_camera, g_flushed;
int g_flushes, g_acts, g_unrecorded, g_failingFlush;

int Fsync(int fd) {
    std::error_code error;
    if (std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error) == g_log) {
        if (++g_flushes == g_failingFlush) {
            errno = EIO;
            return -1;
        }
        g_flushed = ReadFile(g_log);
    }
    return platform::RealSysCalls().fsync(fd);
}
void Check(const char* path) {
    if (std::string(path).starts_with(g_camera)) {
        ++g_acts;
        g_unrecorded += g_flushed.find("\t" + std::string(path) + "\t") == std::string::npos;
    }
}

TEST(CliHistory, EveryFileIsOnTheDiskInTheLogBeforeItActs) {
    TempDir dir;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.fsync = Fsync;
    calls.renameat2 = [](const char* from, const char* to, unsigned int flags) {
        Check(from);
        return platform::RealSysCalls().renameat2(from, to, flags);
    };
    calls.unlink = [](const char* path) {
        Check(path);
        return platform::RealSysCalls().unlink(path);
    };
    const struct {
        bool zip;
        int files, flushes, failingFlush = 0, left = 0;
    } rows[] = {{false, 1030, 4}, {true, 3, 3}, {false, 1030, 4, 3, 6}, {true, 3, 3, 2, 3}};
    for (const auto& row : rows) {
        const std::string at = dir / std::to_string(&row - rows);
        cli::CliOptions options;
        options.fromDir = g_camera = at + "/cam";
        options.toDir = at + "/dest";
        options.zip = row.zip;
        options.settingsPath = at + "/s.ini";
        MakeFolder(at);
        MakeFolder(options.fromDir);
        MakeFolder(options.toDir);
        for (int i = 0; i < row.files; ++i) {
            WriteFile(options.fromDir + "/" + std::to_string(i) + ".JPG", "x");
        }
        ::setenv("XDG_STATE_HOME", at.c_str(), 1);
        g_log = at + "/tovaro/imports.log";
        g_flushes = g_acts = g_unrecorded = 0;
        g_failingFlush = row.failingFlush;
        std::ostringstream out;
        {
            platform::ScopedSysCalls scoped(calls);
            EXPECT_EQ(cli::RunTransfer(options, out, out, false), row.left > 0) << out.str();
        }
        EXPECT_TRUE(g_unrecorded == 0 && g_acts >= row.files - row.left && g_flushes == row.flushes);
        EXPECT_EQ(ListNames(options.fromDir).size(), size_t(row.left)) << out.str();
    }
    ::unsetenv("XDG_STATE_HOME");
}

}  // namespace

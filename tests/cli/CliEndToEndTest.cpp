// Runs the built tovaro-cli on real folders, as a script would. Every run that transfers names its settings
// file, so that none reads or writes the user's (where the settings live is the install test's part).
#include <gtest/gtest.h>
#include <string>
#include <tuple>

#include "cli/CommandLine.h"
#include "platform/File.h"
#include "platform/Time.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

TEST(Cli, KeepsReportsWarningsAndStatusesWhereAScriptExpectsThem) {
    TempDir dir;
    const std::string folders = "tovaro-cli --from camera --to computer --settings s.ini ";
    // Files that hang, stall or abort a metadata parser: the helper program that reads capture dates takes
    // the risk, and a file's contents must be what its extension names.
    MakeFolder(dir / "damaged");
    WriteFile(dir / "damaged/1.AVI",
              std::string("RIFF\xA0\x86\1\0AVI LIST\x88\x13\0\0hdrlavih8\0\0\0", 32) + std::string(48, '\0'));
    WriteFile(dir / "damaged/2.MOV", std::string("\xFF\xFF\xFF\360ftypqt  ") + std::string(128, '\0'));
    WriteFile(dir / "damaged/3.JPG", std::string("\x1A\x45\xDF\xA3", 4) + std::string(100, '\0'));
    std::string made = platform::LocalDateMMDDYY(platform::InfoOfPath(dir / "damaged/1.AVI")->born.tv_sec);
    made.erase(2, 1).erase(4, 1);
    const std::string left = "1 other file stays in the camera folder (.txt).\n";
    const struct {
        // A line of a script run in the test's folder; tovaro-cli is the built one.
        std::string command;
        int status;
        std::string out, err;
    } runs[] = {
        {"tovaro-cli -h", 0, cli::HelpText(), ""},
        {"tovaro-cli --bogus", 2, "", "tovaro-cli: unknown option --bogus (see tovaro-cli --help)\n"},
        {"mkdir camera computer; echo 1 >camera/IMG_0001.JPG; echo 2 >'computer/IMG_0001 -trip.jpg'; " +
             folders + "--text trip --quiet",
         1, "IMG_0001.JPG -> IMG_0001 -trip.jpg: not moved: a file with that name already exists\n", ""},
        {"tovaro-cli --from camera --to computer --number=3 --settings gone/tovaro.ini", 1,
         "IMG_0001.JPG -> IMG_0001 -3.jpg\nMoved 1 of 1 file.\n",
         "tovaro-cli: warning: the running number could not be saved in gone/tovaro.ini: the file or folder "
         "does not exist\n"},
        {"tovaro-cli --from damaged --to computer --date --date-from capture --move-extensions "
         ".avi,.mov,.jpg",
         0,
         "1.AVI -> 1 -" + made + ".avi\n2.MOV -> 2 -" + made + ".mov\n3.JPG -> 3 -" + made +
             ".jpg\nDate of Photo used the file's own day where the capture date could not be read: "
             "1.AVI (it is damaged); 2.MOV (it is damaged); 3.JPG (its contents are not what its extension "
             "names).\nMoved 3 of 3 files.\n",
         ""},
        {"mkdir -p camera/100 camera/101; touch camera/100/I.JPG camera/101/I.JPG camera/a.txt; " + folders +
             "--recursive",
         1,
         "100/I.JPG -> I.jpg\n101/I.JPG -> I.jpg: not moved: another file of this transfer, 100/I.JPG, gets "
         "that "
         "name first\nMoved 1 of 2 files. 1 not moved. " +
             left,
         ""},
        // "~/..." is the home folder's; a lone "~" is a folder of that name.
        {"HOME=$PWD tovaro-cli --from=~/camera --to=~ --recursive --dry-run", 1,
         "101/I.JPG -> I.jpg: would not be moved: the destination folder does not exist\n"
         "Dry run: 0 of 1 file would be moved; nothing was changed. " +
             left,
         "tovaro-cli: the destination folder ~ does not exist\n"},
        // Another transfer holds the running number: a lock on the lock file beside the settings file.
        {"python3 -c 'import fcntl, os, sys; f = open(\".s.ini.lock\", \"w\"); "
         "fcntl.lockf(f, fcntl.LOCK_EX); os.system(sys.argv[1])' '" +
             folders +
             "--number --recursive 2>w & for i in $(seq 500); do grep -qs wait w && break; sleep 0.01; done; "
             "kill -INT $!; wait $!; echo $?'; cat w >&2",
         0,
         "Moved 0 of 1 file. 1 not moved. Stopped on request: the files not yet handled stay in the camera "
         "folder. " +
             left + "130\n",
         "tovaro-cli: waiting for another transfer to finish with the running number\u2026\n"},
        {"mkfifo p; exec 3<>p 4>p 3<&-; rm -r camera/1*; touch camera/A.JPG camera/B.JPG; " + folders + ">&4",
         1, "", "tovaro-cli: the report could not be written to standard output\n"},
        {"ls camera", 0, "B.JPG\na.txt\n", ""},
        // A line a file, whatever its name; a relative camera folder still names the members by its absolute
        // path.
        {"mkdir rel; touch rel/a.jpg 'rel/b\n.jpg'; tovaro-cli --from rel --to computer --zip "
         "--settings s.ini && unzip -Z1 computer/ArchivePics.zip",
         0,
         "a.jpg -> a.jpg\nb\\n.jpg -> b\\n.jpg\nArchived 2 of 2 files.\n" + dir / "rel/a.jpg\n" +
             dir / "rel/b^J.jpg\n",
         ""},
        // Two runs at once never hand out a number twice; the one from another file system copies in
        // batches that stay within few open files (soft and hard limit).
        {"a=$(mktemp -d /dev/shm/a.XXXXXX); mkdir b n; for i in $(seq 300); do : >$a/$i.JPG; : >b/$i.JPG; "
         "done; printf '[settings]\\ncounter=1000\\n' >n.ini; n() { (ulimit -n 128; tovaro-cli --from $1 "
         "--to n --settings n.ini --number --quiet 2>/dev/null); }; n $a & n b && wait $! && ls n | sed "
         "'s/.* -//; s/[.].*//' | sort -un | sed -n '1p;$p;$='; cat n.ini; rmdir $a",
         0, "1000\n1599\n600\n[settings]\ncounter=1600\n", ""},
        // Ctrl-C during --zip: the archive holds what was packed, whole; the rest stays.
        {"mkdir big z; for i in $(seq 40); do head -c 1M /dev/urandom >big/$i.JPG; done; tovaro-cli --zip "
         "--from big --to z --settings s.ini >o & until [ -s z/ArchivePics.zip ]; do sleep 0.01; done; "
         "kill -INT $!; wait $!; echo $? $(grep -c 'Stopped on request' o); unzip -tq z/* >/dev/null && "
         "{ unzip -Z1 z/*; ls big; } | wc -l",
         0, "130 1\n40\n", ""},
        // A camera still writing a clip, with a pause: it stays, whole once the writer is done, to another
        // file system (from /dev/shm) and into the archive alike.
        {"c=$(mktemp -d /dev/shm/cam.XXXXXX); mkdir clip; for zip in '' --zip; do rm -f w; { echo 1; "
         "until [ -e w ]; do sleep 0.05; done; echo 2; } >$c/CLIP.JPG & until [ -s $c/CLIP.JPG ]; do sleep "
         "0.05; done; tovaro-cli --from $c --to clip --settings s.ini $zip; echo $?; touch w; wait; "
         "cat $c/*; done; rm -r $c",
         0,
         "CLIP.JPG -> CLIP.jpg: not moved: it is still being written\nMoved 0 of 1 file. 1 not "
         "moved.\n1\n1\n2\n"
         "CLIP.JPG -> CLIP.jpg: not archived: it is still being written\nArchived 0 of 1 file. 1 not "
         "archived.\n1\n1\n2\n",
         ""},
    };
    for (const auto& run : runs) {
        const int status = RunCommand(
            "cd " + ShellQuote(dir.Path()) + " && export XDG_STATE_HOME=\"$PWD/state\" && PATH=\"$(dirname " +
            ShellQuote(TOVARO_CLI_PATH) + "):$PATH\" && { " + run.command + "; } >out 2>err");
        EXPECT_EQ(std::tuple(status, ReadFile(dir / "out"), ReadFile(dir / "err")),
                  std::tuple(run.status, run.out, run.err))
            << run.command;
    }
}

}  // namespace

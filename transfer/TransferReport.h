// What a pass did with each file it took, and what it was asked to do. The passes show nothing themselves;
// the caller decides what to say.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace transfer {

class ImportLog;

// What became of one taken file.
enum class Outcome {
    Done,  // moved; or archived, checked and removed from the camera folder
    Kept,  // it stays where it was (in the camera folder; under its new name once renamed for the archive)
    CopyKept,  // a whole copy is in the destination folder or the archive, and the original stays as well
    // The destination already holds a file with the very same bytes under the new name: the original stays,
    // and it counts as done (it is safely on the computer).
    AlreadyThere,
};

struct TransferItem {
    std::string oldName;  // the entry's name in the camera folder
    std::string newName;  // the name it was given
    Outcome outcome = Outcome::Kept;
    std::string reason;  // why it is not Done, in plain words
    // The dated folder below the destination that it goes into (PassOptions::folders), "/" between levels;
    // empty for the destination folder itself.
    std::string folder;

    // The new name with the dated folder in front, as the destination folder's contents show it.
    std::string NewPath() const { return folder.empty() ? newName : folder + "/" + newName; }
    // Whether it counts as done: moved (archived), or already there.
    bool Done() const { return outcome == Outcome::Done || outcome == Outcome::AlreadyThere; }
};

// The disk service's answer to an eject (CardEject.h): it worked, or the service's own words for what stopped
// it (a bus error has no errno).
class StepResult {
  public:
    static StepResult Ok() { return StepResult(); }
    static StepResult Failed(std::string reason) { return StepResult(std::move(reason)); }

    bool IsOk() const { return !m_failed; }
    const std::string& Reason() const { return m_reason; }

  private:
    StepResult() = default;
    explicit StepResult(std::string reason) : m_failed(true), m_reason(std::move(reason)) {}

    bool m_failed = false;
    std::string m_reason;
};

struct TransferReport {
    std::vector<TransferItem> items;  // one per taken entry handled, in that order
    // How many entries the pass took: a pass that was stopped handled fewer, and the others stay.
    size_t met = 0;
    // Why the pass could not run at all (the camera folder can't be read, the destination folder does not
    // exist); no file was touched. Empty when it ran.
    std::string problem;
    // Why the running number could not be kept in the settings file, when a write of "counter" failed
    // (the files themselves are unaffected, but the next pass would hand out the same numbers again).
    std::string counterError;
    // Why the import log could not be written after the transfer had begun (the files are unaffected, but
    // what the log lacks can't be undone).
    std::string logError;
    // Something the user should know about the pass as a whole, such as where an earlier archive was kept.
    std::string notice;
    // The files of the camera folder that the pass did not take, counted by extension (lower-cased, from the
    // last "."; "" for a name without one). Folders and hidden files are not counted.
    std::map<std::string, size_t> leftBehind;
    // Folders and entries below the camera folder that could not be read or examined, a sentence each:
    // whatever they hold stays, so they count as not done.
    std::vector<std::string> unread;
    // What became of the card when the transfer was to eject it (EjectCard): "You can remove the card." or
    // why it stays; empty when no ejection was asked.
    std::string card;
    // The pass was asked to stop and did, before the end of its list.
    bool cancelled = false;

    size_t Taken() const { return std::max(met, items.size()); }
    size_t Done() const;                                // the items that count as done, AlreadyThere too
    size_t Moved() const;                               // the items that were moved (archived)
    size_t Failed() const { return Taken() - Done(); }  // what stays, the entries not handled too
    // Whether everything the pass met is done: every taken file, every folder and entry read.
    bool AllDone() const { return Failed() == 0 && unread.empty() && problem.empty(); }
};

// What became of a file that was not Done, as one phrase: "not moved: the disk is full", "copied, but the
// original stays: it is write-protected" (archived for the archive pass); "would not be moved: ..." in a dry
// run.
std::string OutcomeText(const TransferItem& item, bool archive, bool dryRun = false);

// "3 files were already on the computer, so they stay in the camera folder"; empty when none was.
std::string AlreadyThereText(const TransferReport& report);

// "14 other files stay in the camera folder (.cr2 ×10, .mp4 ×4)"; empty when the pass left none.
std::string LeftBehindText(const TransferReport& report);
// The same of some of them, counted by kind as in TransferReport::leftBehind.
std::string LeftBehindText(const std::map<std::string, size_t>& kinds);

// Set from any thread, or from a signal handler, to ask a running pass to stop after the file in hand.
using CancelFlag = std::atomic<bool>;
static_assert(CancelFlag::is_always_lock_free, "a signal handler sets it");

// Where Date of Photo takes the day from.
enum class DateSource {
    FileTime,  // the file's creation time
    Capture,   // the capture date the camera recorded in the file, or the file's time where there is none
};

// How the archive pass compresses its pictures. Both write ordinary deflated members that every reader reads.
enum class Compression {
    Standard,  // zlib at level 8, as always
    Fast,      // ISA-L's fast deflate: several times faster; a hair larger on compressible pictures (BMP)
};

// Every default keeps the behaviour of a plain transfer: the built-in extension lists, only the files
// directly in the camera folder, and the file's own time for Date of Photo. ReadPassSettings fills the
// options that the settings file may set.
struct PassOptions {
    bool dryRun = false;  // compose and report the new names; change no file and no setting
    const CancelFlag* cancel = nullptr;
    // The number the naming inputs show is the saved counter, as loaded (not a number the user chose): a
    // Number pass takes it afresh from the settings file once no other pass uses the counter, so that two
    // passes at once go on from each other instead of handing out the same numbers.
    bool numberFromSavedCounter = false;
    // How many threads the archive pass compresses and checks on; 0: one for each core.
    unsigned workers = 0;
    std::function<void(const TransferItem&)> onItem;  // called with each taken entry's final outcome
    // Called as each taken entry has been handled, with the count so far and the number of taken entries in
    // all. The archive pass learns the final outcomes only once the archive is closed and checked, so it
    // calls onItem for all entries at the end; this is its progress signal.
    std::function<void(size_t handled, size_t total)> onProgress;
    // Called with a sentence the user should see at once while the pass runs, such as that it waits for
    // another transfer to finish with the running number.
    std::function<void(const std::string&)> onNotice;
    // The extensions each pass takes, lower-cased, each with its leading "." (ParseExtensionList); empty:
    // MoveExtensions and ArchiveExtensions.
    std::vector<std::string> moveExtensions;
    std::vector<std::string> archiveExtensions;
    // Walk the camera folder's subfolders too, as a card keeps its pictures (DCIM/100CANON, 101CANON, ...).
    bool recursive = false;
    DateSource dateSource = DateSource::FileTime;
    Compression compression = Compression::Standard;
    // A file whose very content is already in the destination (byte for byte) is not moved again: it stays
    // in the camera folder (Outcome::AlreadyThere). The move pass only.
    bool skipImported = false;
    // Where a real pass records what it does to each file (ImportLog.h); none: it records nothing. A pass
    // whose log can't be written does nothing at all (report.problem says why).
    ImportLog* log = nullptr;
    // The files a preview listed (paths below the camera folder): the transfer takes only those, under the
    // names the preview showed; a file that appeared since stays, and takes no number. None: every file.
    const std::set<std::string>* onlyListed = nullptr;
    // The dated folders below the destination that moved files go into, as a pattern (DatedFolders.h); empty:
    // the destination folder itself. The archive pass has none.
    std::string folders;
    // After a transfer that went well, eject the camera folder's card (CardEject.h): the front ends do that.
    bool eject = false;
};

}  // namespace transfer

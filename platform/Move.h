// Moving a file to a new name without ever replacing what is already there, and without ever losing it.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Outcome.h"

namespace platform {

enum class MoveOutcome {
    Moved,     // the file is under its new name, and no longer under its old one
    NotMoved,  // nothing changed: the file is under its old name, nothing new is under the new one
    CopyOnly,  // a whole copy, flushed to the disk, is under the new name, and the original stayed as well
};

struct MoveResult {
    MoveOutcome outcome = MoveOutcome::Moved;
    Failure cause;       // what failed when not Moved (error ECANCELED: stopped on request)
    std::string reason;  // the cause in plain words when not Moved

    bool Moved() const { return outcome == MoveOutcome::Moved; }
    int Error() const { return cause.error; }
    // Not moved; the reason is the failure's own words unless one is given.
    static MoveResult Failed(Failure cause, std::string reason = {});
};

// Moves `from` to `to` and never replaces an existing `to` (error EEXIST).
//
// - Within one file system: a rename with RENAME_NOREPLACE; where the file system refuses that flag, a hard
//   link plus unlink, which cannot replace either (see MoveWithoutFlag for what is left). A rename that only
//   changes the letter case of the same file (as on a camera card's case-insensitive file system) is allowed.
// - Across file systems, a regular file goes through CrossCopy (below); a symbolic link is moved as a link;
//   folders, pipes, sockets and devices are not moved (EXDEV).
// `cancel`, when set during a copy, abandons it: the copy is removed and the source stays (ECANCELED).
MoveResult MoveNoReplace(const std::string& from, const std::string& to,
                         const std::atomic<bool>* cancel = nullptr);

// A regular file on its way to another file system, in steps, so that a caller can make many copies durable
// together before it removes any source:
//   1. Start: the source is copied into a new file without a name in the destination folder (where the file
//      system has none, a hidden temporary file, locked so that a sweep by another run leaves it alone),
//      its mode and times kept; what the source was when the copy began is remembered.
//   2. Flush: the copy's data reaches the disk.
//   3. PutInPlace: the copy takes its final name, never replacing; the caller then flushes the folder.
//   4. Finish: only when the folder was flushed is the source removed, through RemoveIfUnchanged. A source
//      that changed meanwhile, or is still being written, keeps its place and the stale copy goes; in every
//      other case both stay and the result says why.
// A CrossCopy that is dropped before Finish removes whatever it wrote, under either name.
class CrossCopy {
  public:
    static std::optional<CrossCopy> Start(const std::string& from, const std::string& to,
                                          const std::atomic<bool>* cancel, MoveResult* failure);
    CrossCopy(CrossCopy&&) noexcept;
    CrossCopy& operator=(CrossCopy&&) noexcept;
    ~CrossCopy();

    // `fileSystemFlushed`: the whole file system that holds the copy was flushed after it was written, and
    // said so without an error; the copy then needs no flush of its own.
    bool Flush(MoveResult* failure, bool fileSystemFlushed = false);
    bool PutInPlace(MoveResult* failure);
    // `folderFlushed`: whether the destination folder was flushed after PutInPlace.
    MoveResult Finish(const Status& folderFlushed);
    const std::string& Destination() const { return m_to; }
    uint64_t Bytes() const { return m_source.size; }
    const File& Copy() const { return m_file; }

  private:
    CrossCopy(std::string from, std::string to, std::string temp, File file, FileInfo source);
    void Discard();

    std::string m_from;
    std::string m_to;
    std::string m_temp;  // the copy's temporary name until PutInPlace; empty for an unnamed copy
    File m_file;         // the copy, open (and locked) until Finish
    FileInfo m_source;   // the source as it was when the copy began
    bool m_placed = false;
    bool m_done = false;
};

// MoveNoReplace in two parts, for a caller that completes many copies to another file system together: either
// the move is done or failed (`result`), or a copy has been started (`copy`) that the caller completes, alone
// or in a CrossCopyBatch.
struct StartedMove {
    MoveResult result;
    std::optional<CrossCopy> copy;
};
StartedMove StartMove(const std::string& from, const std::string& to, const std::atomic<bool>* cancel);

// Copies to another file system completed together: each copy's data is already on its way to the disk
// (CrossCopy::Start starts its writeback); Complete flushes each, puts each in place, flushes each
// destination folder once, and only then finishes each copy, removing its source where that is safe. The
// copies are flushed by one flush of their file system (syncfs), as `sync -f` does: a file-by-file fsync
// costs a journal commit each, several milliseconds for a small file. A small file then costs one disk round
// trip per batch instead of one of its own.
class CrossCopyBatch {
  public:
    void Add(CrossCopy copy);
    size_t Size() const { return m_copies.size(); }
    uint64_t Bytes() const { return m_bytes; }
    // The outcome of each copy, in the order they were added; the batch is empty afterwards.
    std::vector<MoveResult> Complete();

  private:
    std::vector<CrossCopy> m_copies;
    uint64_t m_bytes = 0;
};

}  // namespace platform

// What a pass did with each file it took. The passes show nothing themselves; the caller decides.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace transfer {

struct TransferItem {
    std::string oldName;  // the entry's name in the camera folder
    std::string newName;  // the name it was given
    bool done = false;    // moved (move pass), or archived and removed (archive pass)
    std::string reason;   // why not, in plain words, when !done
};

struct TransferReport {
    std::vector<TransferItem> items;  // one per taken entry, in the order handled
    // Why the running number could not be kept in the settings file, when a write of "counter" failed
    // (the files themselves are unaffected, but the next pass would hand out the same numbers again).
    std::string counterError;
    // Something the user should know about the pass as a whole, such as where an earlier archive was kept.
    std::string notice;

    size_t Taken() const { return items.size(); }
    size_t Failed() const;
    size_t Done() const { return Taken() - Failed(); }
};

struct PassOptions {
    bool dryRun = false;  // compose and report the new names; change no file and no setting
    std::function<void(const TransferItem&)> onItem;  // called with each taken entry's final outcome
    // Called as each taken entry has been handled, with the count so far. The archive pass learns the final
    // outcomes only once the archive is closed and checked, so it calls onItem for all entries at the end;
    // this is its progress signal.
    std::function<void(size_t handled)> onProgress;
};

}  // namespace transfer

// Keeps the running number in the settings file after every file of a pass, without rewriting the whole
// file each time.
#pragma once

#include <sys/types.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/File.h"
#include "settings/SettingsFile.h"

namespace transfer {

class NamingInputs;

// The lock that a pass holds on the running number of `settings` for as long as it uses it: an
// open-file-description lock (which network file systems keep too) on a hidden lock file beside the settings
// file, or on the settings file itself where its folder can't be written. Whoever holds it may replace the
// settings file without losing a pass's counter. A closed File where there is no settings file, nor one to
// come; where the file system keeps no locks, an unlocked one (platform::LocksWereUnavailable). Waits at most
// `patience` for another holder to let go (then fails with EAGAIN); fails with ECANCELED when `cancel` was
// set while waiting, and with the error of a lock that could not be asked for. `onWait` (when given) is
// called once when it has to wait.
platform::Result<platform::File> LockCounter(const SettingsFile& settings, std::chrono::milliseconds patience,
                                             const std::atomic<bool>* cancel = nullptr,
                                             const std::function<void()>& onWait = {});

// How long a change of the settings (a saved folder, the options) waits for a pass that holds the counter.
inline constexpr std::chrono::milliseconds kSettingsPatience{3000};

// The counter rule for one pass: after each taken file, while Number is checked, the next number goes into
// "counter" of the settings file at once, so that another program reading the file, or the next run after a
// crash, finds the true next number.
//
// Replacing the whole file after every file is slow (a new file, a rename and, on some file systems,
// writeback that the rename starts). So only the first write of a pass replaces the file; the keeper then
// holds it open and overwrites the digits in place, as long as the new text has the length of the old one
// and lies within one 512-byte sector. Such a write allocates no block, so a full disk can't fail it (where a
// file system copies on write and does fail it, the fallback below takes over), and a disk writes a sector
// whole, so a crash can't leave a mix of old and new digits. Anything else (a number that grows or shrinks
// by a digit, digits across a sector boundary, a failed write, a file that another program replaced or
// rewrote) goes back to the atomic replacement and finds the value again.
class CounterKeeper {
  public:
    explicit CounterKeeper(const SettingsFile& settings);

    // Before the first file of a Number pass: waits until no other pass -- of this program or another copy of
    // it, window or command line -- uses the counter of this settings file, and holds it until Finish, so
    // that no number is ever handed out twice. A pass whose start is the saved counter (`fromSavedCounter`)
    // reads it again once it holds it: after a wait it goes on where the other pass ended. `onWait` (when
    // given) is called once when it has to wait. The claim is LockCounter's, without a limit on the wait.
    platform::Status Claim(NamingInputs& inputs, bool fromSavedCounter, const std::atomic<bool>* cancel,
                           const std::function<void()>& onWait = {});

    // Once claimed: why numbers of up to `longest` characters, which the pass is about to hand out, could not
    // be kept (a settings file whose folder takes no new file, where a longer number would not fit in
    // place); "" when they can. The pass then hands out none.
    std::string WhyCannotKeep(size_t longest) const;

    // After each taken file: keeps `passNumber` (the next number to use) as "counter" while Number is
    // checked, and does nothing otherwise. A failure when a due write failed; the file then still holds a
    // whole earlier version.
    platform::Status Keep(const NamingInputs& inputs, int32_t passNumber);

    // At the end of the pass: waits until the last kept value is on the disk. When another program has
    // replaced the file since (two copies of the program share it, and the last write wins), writes the
    // value once more into the file that now stands there. Ok when nothing was kept; a failure when the
    // value could not be made safe. Closes the file.
    platform::Status Finish(const NamingInputs& inputs);

  private:
    bool WriteInPlace(const std::string& text);
    bool IsStillInPlace();
    platform::Status Replace(const std::string& text);
    void Locate();
    platform::Status SyncFolder() const;

    SettingsFile m_settings;
    platform::File m_claim;  // the lock file, locked while the pass holds the counter
    std::string m_kept;      // the last value kept; empty while none has been
    std::string m_path;      // the path the open file was found under
    platform::File m_file;   // open while the value's place in the file is known
    dev_t m_device = 0;      // which file that is, and how long it was when found
    ino_t m_inode = 0;
    uint64_t m_size = 0;
    uint64_t m_offset = 0;  // where the value's text starts
    std::string m_onDisk;   // the value's text as it stands there now
};

}  // namespace transfer

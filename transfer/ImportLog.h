// The import log: what every transfer did to which file, kept so that a transfer can be looked at, and
// undone, afterwards. One file of plain lines, appended to by every transfer of every copy of the program.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"
#include "transfer/TransferReport.h"

namespace transfer {

// One line of the log. Fields are separated by tabs, in this order:
//   transfer id, time (UTC, ISO 8601), event, mode, old path, new path, archive, member, size, modification
//   time
// Events: "start" (old path: the camera folder, new path: the destination folder), "plan" (a file about to be
// moved or archived), "done" (it was), "kept" (it stays where it was; a copy may be in the destination too),
// "end", "back" (undo put the file back under its old name), "stayed" (undo left it where it was),
// "undone" (the transfer has been undone). Modes: "move", "archive". For the archive, the new path is the
// picture's renamed path in its own folder, the archive is the archive's path and the member its name there
// (both empty for a move). Paths are absolute. Size and modification time (seconds.nanoseconds) are the
// file's as it was planned. In names, a backslash, tab, line feed, carriage return and every other control
// byte are escaped ("\\",
// "\t", "\n", "\r", "\xHH"); all other bytes stand as they are, so any name survives exactly.
struct LogRecord {
    std::string transfer;
    std::string time;
    std::string event;
    std::string mode;
    std::string oldPath;
    std::string newPath;
    std::string archive;
    std::string member;
    uint64_t size = 0;
    timespec modified{};
};

std::string FormatLogRecord(const LogRecord& record);
// No value for a line that is not a whole record (the torn end of a log written during a power cut).
std::optional<LogRecord> ParseLogRecord(std::string_view line);

// `path` made absolute against the current folder, as every path of the log is, without empty and "."
// segments.
std::string AbsolutePath(const std::string& path);

// The folder of the log: $XDG_STATE_HOME/tovaro when that is an absolute path, else ~/.local/state/tovaro.
// Empty when neither is known.
std::string ImportLogFolder();

// The log file, open for appending. Every append is one write of whole records at the end of the file, so the
// records of two transfers at once never mix within a line.
class ImportLog {
  public:
    // Opens the log in `folder` (made with mode 0700 where missing; the file with 0600). LogProblem words a
    // failure.
    static platform::Result<ImportLog> Open(const std::string& folder);

    const std::string& Path() const { return m_path; }
    // Appends the records and, when `flush` is set, waits until they are on the disk.
    platform::Status Append(const std::vector<LogRecord>& records, bool flush);

    // A transfer holds the log shared while it runs, undo holds it alone: undo never runs beside a transfer.
    // Each is given up when the log is closed. EWOULDBLOCK when another holds it the other way.
    platform::Status TryHoldForTransfer();
    platform::Status TryHoldForUndo();

  private:
    ImportLog(std::string path, platform::File file) : m_path(std::move(path)), m_file(std::move(file)) {}

    std::string m_path;
    platform::File m_file;
};

// Why the import log could not be opened (ImportLog::Open) or written, in plain words.
std::string LogProblem(const platform::Failure& failure);

// Every whole record of the log at `path`, in the order written. An absent log has no records.
platform::Result<std::vector<LogRecord>> ReadImportLog(const std::string& path);
// The same one record at a time, only those of `event` when it is given.
platform::Status ForEachLogRecord(const std::string& path, std::string_view event,
                                  const std::function<void(LogRecord&&)>& visit);

// Writes the records of one transfer as it runs: the start, the plan of each batch of files before the batch
// acts, the outcome of each file, the end. The first write happens at Start, which says whether the log can
// be written; later failures are told by Problem(), and a pass then stops before its next batch acts.
class TransferRecorder {
  public:
    TransferRecorder(ImportLog& log, bool archive);

    // The transfer's start record, flushed.
    platform::Status Start(const std::string& fromDir, const std::string& toDir);
    void SetArchive(const std::string& archivePath) { m_archive = archivePath; }
    // A file about to be acted on: `oldPath` its path now, `newPath` where it goes (for the archive: its
    // renamed path, which is its member name). Kept with the others until Flush, which must come before any
    // of them acts.
    void Plan(const std::string& oldPath, const std::string& newPath);
    // The outcome of the planned file at `oldPath`: `done` when it went (moved; archived and removed).
    // Nothing for a file never planned. Kept with the others until Flush.
    void Outcome(const std::string& oldPath, bool done);
    // Appends what was kept so far in one write and waits until it is on the disk: once per batch, before
    // the batch acts.
    void Flush();
    // The end record, flushed, after a "kept" for every planned file that never came to act (a stopped
    // transfer).
    void End();

    const std::string& Id() const { return m_id; }
    // The first failure to write the log, if any.
    const platform::Status& Problem() const { return m_problem; }

  private:
    LogRecord Record(const char* event) const;
    std::string Absolute(const std::string& path) const;
    void Write(std::vector<LogRecord> records, bool flush);

    ImportLog& m_log;
    std::string m_id;
    std::string m_mode;
    std::string m_archive;
    std::string m_here;                          // the current folder, for paths given relative to it
    std::map<std::string, LogRecord> m_planned;  // by old path, until its outcome comes
    std::vector<LogRecord> m_waiting;            // records not yet appended
    platform::Status m_problem;
};

// For a real pass given a log (options.log): starts `recorder`. False, with report.problem saying why, when
// the log can't be written; the pass then does nothing.
bool StartRecording(const PassOptions& options, bool archive, const std::string& fromDir,
                    const std::string& toDir, std::optional<TransferRecorder>& recorder,
                    TransferReport& report);
// Writes the end record, and tells of any record that could not be written.
void EndRecording(std::optional<TransferRecorder>& recorder, TransferReport& report);

}  // namespace transfer

#include "transfer/ImportLog.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>

#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Sys.h"

namespace transfer {
namespace {

constexpr const char* kLogName = "imports.log";
constexpr size_t kFields = 10;

void AppendEscaped(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::optional<std::string> Unescaped(std::string_view text) {
    if (text.find('\\') == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 'x': {
                const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
                const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
                if (low < 0) {
                    return std::nullopt;
                }
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

std::optional<uint64_t> Number(std::string_view text) {
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

std::string TimeText(time_t t) {
    tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Unique among the transfers of every copy of the program: the time, the process and a random part.
std::string NewTransferId() {
    std::random_device random;
    char id[64];
    const time_t now = ::time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char stamp[20];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    std::snprintf(id, sizeof id, "%s-%d-%04x", stamp, static_cast<int>(::getpid()), random() & 0xFFFF);
    return id;
}

platform::Status MakeFolders(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) {
        return {};
    }
    const platform::Failure failed = platform::Failure::Now("mkdir", folder);
    const std::string parent = platform::FolderOf(folder);
    if (failed.error != ENOENT || parent == folder) {
        return failed;
    }
    const platform::Status made = MakeFolders(parent);
    return made ? platform::Status::Check(::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST, "mkdir",
                                          folder)
                : made.Error().WithPath(folder);
}

// The event field of a log line, as written (events need no escapes).
std::string_view EventOf(std::string_view line) {
    const size_t first = line.find('\t');
    const size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
    const size_t third = second == std::string_view::npos ? second : line.find('\t', second + 1);
    return third == std::string_view::npos ? std::string_view() : line.substr(second + 1, third - second - 1);
}

// An absolute path without empty and "." segments ("/a//b/./c/" is "/a/b/c"), so that a folder given as
// "dest/" and as "dest" logs the same paths. ".." stays: past a link only the file system knows where it
// leads.
std::string Tidy(std::string_view path) {
    if (!path.starts_with('/')) {
        return std::string(path);
    }
    std::string out;
    for (size_t start = 0; start < path.size();) {
        const size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, slash - start);
        if (!segment.empty() && segment != ".") {
            out += '/';
            out += segment;
        }
        start = slash + 1;
    }
    return out.empty() ? "/" : out;
}

// Empty when it can't be found out.
std::string CurrentFolder() {
    char* here = ::getcwd(nullptr, 0);
    const std::string folder = here != nullptr ? here : "";
    std::free(here);
    return folder;
}

}  // namespace

// Undo may run from any folder: every path goes into the log as an absolute one.
std::string AbsolutePath(const std::string& path) {
    const std::string here = path.starts_with('/') ? std::string() : CurrentFolder();
    return Tidy(here.empty() ? path : platform::JoinPath(here, path));
}

std::string FormatLogRecord(const LogRecord& r) {
    std::string line;
    for (const std::string* text :
         {&r.transfer, &r.time, &r.event, &r.mode, &r.oldPath, &r.newPath, &r.archive, &r.member}) {
        AppendEscaped(line, *text);
        line += '\t';
    }
    line.pop_back();
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "\t%llu\t%lld.%09ld\n", static_cast<unsigned long long>(r.size),
                  static_cast<long long>(r.modified.tv_sec), r.modified.tv_nsec);
    return line + numbers;
}

std::optional<LogRecord> ParseLogRecord(std::string_view line) {
    std::string_view fields[kFields];
    size_t count = 0;
    size_t start = 0;
    for (size_t tab; count + 1 < kFields && (tab = line.find('\t', start)) != std::string_view::npos;
         start = tab + 1) {
        fields[count++] = line.substr(start, tab - start);
    }
    fields[count++] = line.substr(start);
    if (count != kFields || fields[kFields - 1].find('\t') != std::string_view::npos) {
        return std::nullopt;
    }
    LogRecord r;
    std::string* texts[] = {&r.transfer, &r.time,    &r.event,   &r.mode,
                            &r.oldPath,  &r.newPath, &r.archive, &r.member};
    for (size_t i = 0; i < std::size(texts); ++i) {
        auto text = Unescaped(fields[i]);
        if (!text) {
            return std::nullopt;
        }
        *texts[i] = std::move(*text);
    }
    const std::string_view when = fields[9];
    const size_t dot = when.find('.');
    const auto size = Number(fields[8]);
    const auto seconds = dot == std::string_view::npos ? std::nullopt : Number(when.substr(0, dot));
    const auto nanos = dot == std::string_view::npos ? std::nullopt : Number(when.substr(dot + 1));
    if (!size || !seconds || !nanos || *nanos >= 1000000000) {
        return std::nullopt;
    }
    r.size = *size;
    r.modified = {static_cast<time_t>(*seconds), static_cast<long>(*nanos)};
    return r;
}

std::string ImportLogFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return platform::JoinPath(state, "tovaro");
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] != '\0' ? std::string(home) + "/.local/state/tovaro" : std::string();
}

platform::Result<ImportLog> ImportLog::Open(const std::string& folder) {
    if (folder.empty()) {
        return platform::Failure{ENOENT, "getenv"};
    }
    const std::string path = platform::JoinPath(folder, kLogName);
    if (const platform::Status made = MakeFolders(folder); !made) {
        return made.Error();
    }
    auto file = platform::File::Open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (!file) {
        return file.Error();
    }
    return ImportLog(path, std::move(*file));
}

std::string LogProblem(const platform::Failure& failure) {
    const std::string why = platform::DescribeError(failure.error);
    if (failure.path.empty()) {
        return "there is no folder for the import log (neither XDG_STATE_HOME nor HOME is set)";
    }
    if (std::string_view(failure.call) == "mkdir") {
        return "the folder " + failure.path + " of the import log could not be made: " + why;
    }
    return "the import log " + failure.path + " could not be " +
           (std::string_view(failure.call) == "open" ? "opened: " : "written: ") + why;
}

platform::Status ImportLog::Append(const std::vector<LogRecord>& records, bool flush) {
    std::string text;
    for (const LogRecord& record : records) {
        text += FormatLogRecord(record);
    }
    // One write: with O_APPEND it lands whole at the end, after whatever another transfer appended.
    platform::Status written = m_file.WriteAll(text.data(), text.size());
    written = written && flush ? m_file.Sync() : written;
    return written ? written : written.Error().WithPath(m_path);
}

platform::Status ImportLog::TryHoldForTransfer() {
    return platform::Status::Check(platform::Sys().flock(m_file.Descriptor(), LOCK_SH | LOCK_NB) == 0,
                                   "flock");
}

platform::Status ImportLog::TryHoldForUndo() {
    return platform::Status::Check(platform::Sys().flock(m_file.Descriptor(), LOCK_EX | LOCK_NB) == 0,
                                   "flock");
}

platform::Status ForEachLogRecord(const std::string& path, std::string_view event,
                                  const std::function<void(LogRecord&&)>& visit) {
    auto file = platform::File::OpenForReading(path);
    if (!file) {
        return file.Error().error == ENOENT ? platform::Status() : file.Error();
    }
    // Read a piece at a time: a log that has grown over years need not fit in memory at once, and most of
    // its lines are passed over by their event alone.
    constexpr size_t kPiece = 1 << 20;
    std::string text;
    size_t start = 0;
    for (;;) {
        text.erase(0, start);
        start = 0;
        const size_t had = text.size();
        text.resize(had + kPiece);
        const platform::Result<size_t> got = file->Read(text.data() + had, kPiece);
        if (!got) {
            return got.Error().WithPath(path);
        }
        text.resize(had + *got);
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string_view line = std::string_view(text).substr(start, end - start);
            if (!event.empty() && EventOf(line) != event) {
                continue;
            }
            if (auto record = ParseLogRecord(line)) {
                visit(std::move(*record));
            }
        }
        if (*got == 0) {
            return {};  // what is left is the torn end of a log written during a power cut
        }
    }
}

platform::Result<std::vector<LogRecord>> ReadImportLog(const std::string& path) {
    std::vector<LogRecord> records;
    const platform::Status read =
        ForEachLogRecord(path, {}, [&](LogRecord&& r) { records.push_back(std::move(r)); });
    return read ? platform::Result<std::vector<LogRecord>>(std::move(records)) : read.Error();
}

TransferRecorder::TransferRecorder(ImportLog& log, bool archive)
    : m_log(log), m_id(NewTransferId()), m_mode(archive ? "archive" : "move"), m_here(CurrentFolder()) {}

LogRecord TransferRecorder::Record(const char* event) const {
    LogRecord record;
    record.transfer = m_id;
    record.time = TimeText(::time(nullptr));
    record.event = event;
    record.mode = m_mode;
    return record;
}

// As AbsolutePath, without asking the system for the current folder for every file.
std::string TransferRecorder::Absolute(const std::string& path) const {
    return Tidy(path.starts_with('/') || m_here.empty() ? path : platform::JoinPath(m_here, path));
}

void TransferRecorder::Write(std::vector<LogRecord> records, bool flush) {
    const platform::Status appended = m_log.Append(records, flush);
    m_problem = m_problem ? appended : m_problem;
}

platform::Status TransferRecorder::Start(const std::string& fromDir, const std::string& toDir) {
    m_problem = m_log.TryHoldForTransfer();
    if (!m_problem) {
        return m_problem;
    }
    LogRecord start = Record("start");
    start.oldPath = Absolute(fromDir);
    start.newPath = Absolute(toDir);
    Write({start}, true);
    return m_problem;
}

void TransferRecorder::Plan(const std::string& oldPath, const std::string& newPath) {
    LogRecord plan = Record("plan");
    plan.oldPath = Absolute(oldPath);
    plan.newPath = Absolute(newPath);
    if (!m_archive.empty()) {
        plan.archive = Absolute(m_archive);
        plan.member = newPath;  // as the archive stores it, every backslash a slash
        std::replace(plan.member.begin(), plan.member.end(), '\\', '/');
    }
    if (const auto info = platform::InfoOfPath(oldPath, /*followLinks=*/false)) {
        plan.size = info->size;
        plan.modified = info->modified;
    }
    m_waiting.push_back(plan);
    m_planned[plan.oldPath] = std::move(plan);
}

void TransferRecorder::Outcome(const std::string& oldPath, bool done) {
    const auto planned = m_planned.find(Absolute(oldPath));
    if (planned == m_planned.end()) {
        return;  // it stayed before it was planned: an unsafe name, a clash the plan foresaw
    }
    LogRecord outcome = std::move(planned->second);
    m_planned.erase(planned);
    outcome.time = TimeText(::time(nullptr));
    outcome.event = done ? "done" : "kept";
    m_waiting.push_back(std::move(outcome));
}

void TransferRecorder::Flush() {
    Write(std::move(m_waiting), true);
    m_waiting.clear();
}

void TransferRecorder::End() {
    while (!m_planned.empty()) {
        Outcome(m_planned.begin()->first, /*done=*/false);
    }
    m_waiting.push_back(Record("end"));
    Flush();
}

bool StartRecording(const PassOptions& options, bool archive, const std::string& fromDir,
                    const std::string& toDir, std::optional<TransferRecorder>& recorder,
                    TransferReport& report) {
    if (options.log == nullptr || options.dryRun) {
        return true;
    }
    recorder.emplace(*options.log, archive);
    if (const platform::Status started = recorder->Start(fromDir, toDir); !started) {
        report.problem = std::string_view(started.Error().call) == "flock"
                             ? "the last transfer is being undone: try again once that is finished"
                             : LogProblem(started.Error());
        return false;
    }
    return true;
}

void EndRecording(std::optional<TransferRecorder>& recorder, TransferReport& report) {
    if (recorder) {
        recorder->End();
        report.logError = recorder->Problem() ? std::string() : LogProblem(recorder->Problem().Error());
    }
}

}  // namespace transfer

#include "cli/Transfer.h"

#include <cerrno>
#include <csignal>
#include <iterator>
#include <memory>
#include <ostream>

#ifdef TOVARO_DESKTOP_BUS
#include "desktop/DesktopBus.h"
#endif
#include "platform/ExecutablePath.h"
#include "platform/File.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "settings/SettingsFile.h"
#include "transfer/ArchivePass.h"
#include "transfer/CardEject.h"
#include "transfer/History.h"
#include "transfer/ImportLog.h"
#include "transfer/MovePass.h"
#include "transfer/PassSettings.h"

namespace cli {
namespace {

// A line on standard error that tells how far the pass has got. It is cleared before anything else is
// printed, so it never mixes with the report lines on a terminal.
class ProgressLine {
  public:
    ProgressLine(std::ostream& err, bool enabled) : m_err(err), m_enabled(enabled) {}
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Show(size_t handled, size_t total) {
        if (m_enabled) {
            m_err << "\r" << handled << " of " << total << (total == 1 ? " file" : " files") << " handled..."
                  << std::flush;
            m_shown = true;
        }
    }
    void Clear() {
        if (m_shown) {
            m_err << "\r\033[K" << std::flush;
            m_shown = false;
        }
    }

  private:
    std::ostream& m_err;
    bool m_enabled;
    bool m_shown = false;
};

transfer::CancelFlag g_stop{false};
volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
    g_stopSignal = signal;
    g_stop.store(true);
}

// While a pass runs, Ctrl-C, a hang-up or a plain kill stop it after the file in hand: the pass then finishes
// properly (an archive is closed and checked with what it holds) and says what it did. A second such signal
// ends the program at once, as it would without us.
class StopSignals {
  public:
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], &action, &m_previous[i]);
        }
    }
    ~StopSignals() {
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_previous[std::size(kSignals)]{};
};

// A name as one line of output: control characters (a line break in a name would split the line) and the
// backslash are written as C escapes, the way `ls -b` shows them; every other byte as it is.
std::string Printable(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                                  static_cast<char>('0' + ((byte >> 3) & 7)),
                                  static_cast<char>('0' + (byte & 7)), '\0'};
            out += octal;
        } else {
            out += c;
        }
    }
    return out;
}

// "moved" or "archived", as the pass that runs.
std::string Verb(const CliOptions& options) {
    return options.zip ? "archived" : "moved";
}

std::string ItemLine(const transfer::TransferItem& item, const CliOptions& options) {
    std::string line = Printable(item.oldName) + " -> " + Printable(item.NewPath());
    if (item.outcome != transfer::Outcome::Done) {
        line += ": " + transfer::OutcomeText(item, options.zip, options.dryRun);
    }
    return line;
}

std::string Files(size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

// Counts every file the pass took, handled or not (a stopped pass), and the files it did not take.
std::string Summary(const transfer::TransferReport& report, const CliOptions& options) {
    const std::string verb = Verb(options);
    const std::string moved = std::to_string(report.Moved()) + " of " + Files(report.Taken());
    std::string summary = options.dryRun
                              ? "Dry run: " + moved + " would be " + verb + "; nothing was changed."
                              : std::string(options.zip ? "Archived " : "Moved ") + moved + ".";
    if (const size_t there = report.Done() - report.Moved(); there > 0) {
        summary += " " + std::to_string(there) + " already on the computer.";
    }
    if (report.Failed() > 0 && !options.dryRun) {
        summary += " " + std::to_string(report.Failed()) + " not " + verb + ".";
    }
    if (report.cancelled) {
        summary += " Stopped on request: the files not yet handled stay in the camera folder.";
    }
    if (const std::string left = transfer::LeftBehindText(report); !left.empty()) {
        summary += " " + left + ".";
    }
    return summary;
}

// The form the window would show: the naming texts, and under Number the number box as the window fills it
// when Number is clicked (the saved counter, "~" when none), unless a start was given.
transfer::PlainNamingInputs InputsFor(const CliOptions& options, const SettingsFile& settings) {
    transfer::PlainNamingInputs inputs;
    inputs.text = options.text;
    inputs.renameFind = options.renameFind;
    inputs.renameNew = options.renameNew;
    if (options.nameOption == transfer::kNameNumber) {
        inputs.numberChecked = true;
        inputs.numberText =
            options.startNumber ? transfer::FormatDialogInt(*options.startNumber) : settings.Read("counter");
    }
    return inputs;
}

// Why the camera folder can't be searched, or "" when it can. The window treats such a folder as empty; a
// script is better told that its folder name was wrong.
std::string FolderProblem(const std::string& folder) {
    const auto info = platform::InfoOfPath(folder);
    if (!info) {
        return platform::DescribeError(info.Error().error);
    }
    return info->IsDirectory() ? "" : "it is not a folder";
}

// The options given on the command line win over the settings file's.
void ApplyCommandLine(const CliOptions& options, transfer::PassOptions& passOptions) {
    if (options.moveExtensions) {
        passOptions.moveExtensions = *options.moveExtensions;
    }
    if (options.zipExtensions) {
        passOptions.archiveExtensions = *options.zipExtensions;
    }
    passOptions.recursive = passOptions.recursive || options.recursive;
    passOptions.skipImported = passOptions.skipImported || options.skipImported;
    passOptions.dateSource = options.dateSource.value_or(passOptions.dateSource);
    passOptions.compression = options.compression.value_or(passOptions.compression);
    passOptions.folders = options.folders.value_or(passOptions.folders);
    passOptions.eject = passOptions.eject || options.eject;
}

// The desktop's disk service, never asking the user anything: a script may run where nobody answers.
std::unique_ptr<transfer::DiskService> DiskService() {
#ifdef TOVARO_DESKTOP_BUS
    return desktop::MakeDiskService(/*interactive=*/false);
#else
    return nullptr;
#endif
}

// How many transfers --log shows.
constexpr size_t kTransfersShown = 10;

std::string TransferLine(const transfer::PastTransfer& t) {
    return t.time + " " + (t.archive ? "archived " : "moved ") + std::to_string(t.DoneCount()) + " of " +
           Files(t.files.size()) + " from " + Printable(t.fromDir) + " to " + Printable(t.toDir) +
           (t.undone ? " (undone)" : "") + "  [" + t.id + "]";
}

std::string LoggedFileLine(const transfer::LogRecord& r) {
    std::string line =
        "  " + Printable(r.oldPath) + " -> " +
        (r.archive.empty() ? Printable(r.newPath) : Printable(r.archive) + ": " + Printable(r.member));
    if (r.event == "kept") {
        line += ": stayed";
    } else if (r.event == "plan") {
        line += ": not known (the transfer was stopped before it could say)";
    }
    return line;
}

}  // namespace

int ShowLog(std::ostream& out, std::ostream& err) {
    const std::string path = platform::JoinPath(transfer::ImportLogFolder(), "imports.log");
    const auto records = transfer::ReadImportLog(path);
    if (!records) {
        err << "tovaro-cli: the import log " << path
            << " can't be read: " << platform::DescribeError(records.Error().error) << "\n";
        return kExitSomeNotMoved;
    }
    const std::vector<transfer::PastTransfer> transfers = transfer::PastTransfers(*records);
    if (transfers.empty()) {
        out << "No transfer is recorded in " << path << ".\n";
        return kExitAllMoved;
    }
    const size_t first = transfers.size() > kTransfersShown ? transfers.size() - kTransfersShown : 0;
    for (size_t i = first; i < transfers.size(); ++i) {
        out << TransferLine(transfers[i]) << "\n";
    }
    out << "\nThe files of the latest transfer:\n";
    for (const transfer::LogRecord& r : transfers.back().files) {
        out << LoggedFileLine(r) << "\n";
    }
    return kExitAllMoved;
}

int RunUndo(std::ostream& out, std::ostream& err) {
    const transfer::UndoReport report = transfer::UndoLatestTransfer(transfer::ImportLogFolder());
    for (const transfer::UndoItem& item : report.items) {
        out << Printable(item.from) << " -> " << Printable(item.to)
            << (item.back ? "" : ": stays: " + item.reason) << "\n";
    }
    if (report.transfer.empty()) {
        err << "tovaro-cli: nothing was undone: " << report.problem << "\n";
        return kExitSomeNotMoved;
    }
    if (!report.problem.empty()) {
        err << "tovaro-cli: " << report.problem << "\n";
    }
    out << "Undid transfer " << report.transfer << ": " << report.Back() << " of "
        << Files(report.items.size()) << " went back."
        << (report.Stayed() > 0
                ? " " + std::to_string(report.Stayed()) + (report.Stayed() == 1 ? " stays." : " stay.")
                : "")
        << " The running number is not wound back.\n";
    return report.Stayed() == 0 && report.problem.empty() ? kExitAllMoved : kExitSomeNotMoved;
}

int RunTransfer(const CliOptions& options, std::ostream& out, std::ostream& err, bool showProgress) {
    if (const std::string problem = FolderProblem(options.fromDir); !problem.empty()) {
        err << "tovaro-cli: cannot read the camera folder " << options.fromDir << ": " << problem << "\n";
        return kExitSomeNotMoved;
    }
    const SettingsFile settings =
        options.settingsPath.empty() ? SettingsFile() : SettingsFile(options.settingsPath);
    transfer::PlainNamingInputs inputs = InputsFor(options, settings);
    transfer::PassOptions passOptions;
    if (const std::string refused = transfer::ReadPassSettings(settings, passOptions); !refused.empty()) {
        err << "tovaro-cli: " << refused << "\n";
        return kExitUsage;
    }
    ApplyCommandLine(options, passOptions);

    // A transfer that can't record what it does would be one that can't be undone: it does not start.
    platform::Result<transfer::ImportLog> log = platform::Failure{};
    if (!options.dryRun) {
        log = transfer::ImportLog::Open(transfer::ImportLogFolder());
        if (!log) {
            err << "tovaro-cli: " << transfer::LogProblem(log.Error()) << "; nothing was moved\n";
            return kExitSomeNotMoved;
        }
        passOptions.log = &*log;
    }

    ProgressLine progress(err, showProgress && !options.quiet);
    passOptions.dryRun = options.dryRun;
    passOptions.numberFromSavedCounter = !options.startNumber;
    g_stop.store(false);
    g_stopSignal = 0;
    passOptions.cancel = &g_stop;
    // A report that can't be written (a closed pipe, a full disk) stops the pass after the file in hand, as
    // Ctrl-C does: a script must not take a cut-off list for the whole one, nor lose the rest of it.
    passOptions.onItem = [&](const transfer::TransferItem& item) {
        if (!options.quiet || !item.Done()) {
            progress.Clear();
            out << ItemLine(item, options) << "\n" << std::flush;
        }
        if (!out) {
            g_stop.store(true);
        }
    };
    passOptions.onNotice = [&](const std::string& sentence) {
        progress.Clear();
        err << "tovaro-cli: " << sentence << "\n" << std::flush;
    };
    passOptions.onProgress = [&](size_t handled, size_t total) { progress.Show(handled, total); };
    const auto pass = options.zip ? transfer::ArchivePass : transfer::MovePass;
    transfer::TransferReport report;
    transfer::DriveUse drive(options.fromDir);
    {
        const StopSignals stopSignals;
        report = pass(options.fromDir, options.toDir, options.nameOption, inputs, settings, passOptions);
    }
    progress.Clear();
    const auto disks = passOptions.eject && !options.dryRun ? DiskService() : nullptr;
    report.card = transfer::EjectCard(report, passOptions, drive, disks.get());

    if (!report.notice.empty() && !options.quiet) {
        out << report.notice << "\n";
    }

    if (!report.problem.empty()) {
        err << "tovaro-cli: " << report.problem << "\n";
    }
    for (const std::string& unread : report.unread) {
        err << "tovaro-cli: " << unread << "\n";
    }
    if (!report.counterError.empty()) {
        err << "tovaro-cli: warning: " << report.counterError << "\n";
    }
    if (!report.logError.empty()) {
        err << "tovaro-cli: warning: " << report.logError << "\n";
    }
    if (const std::string copied = SettingsFile::TakeCopyNotice(); !copied.empty()) {
        err << "tovaro-cli: " << copied << "\n";
    }
    if (!options.quiet) {
        out << Summary(report, options) << "\n";
    }
    const bool ejected = report.card == transfer::kCardEjected;
    if (!report.card.empty() && !(ejected && options.quiet)) {
        (ejected ? out : err) << report.card << "\n";
    }
    // A counter that could not be kept fails the run too: the next run would hand out the same numbers.
    if (g_stopSignal != 0) {
        return 128 + g_stopSignal;
    }
    return report.AllDone() && report.counterError.empty() && report.logError.empty() && out
               ? kExitAllMoved
               : kExitSomeNotMoved;
}

}  // namespace cli

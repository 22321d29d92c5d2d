#include "app/HistoryMenu.h"

#include <QAction>
#include <QMenu>
#include <algorithm>
#include <cerrno>

#include "app/UserPrompts.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "transfer/History.h"

namespace {

// How many files a box lists before it says how many more there are.
constexpr size_t kListed = 10;

std::string Files(size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

// The transfers of the log, or why it can't be read.
std::vector<transfer::PastTransfer> ReadTransfers(std::string* problem) {
    const std::string path = platform::JoinPath(transfer::ImportLogFolder(), "imports.log");
    const auto records = transfer::ReadImportLog(path);
    if (!records) {
        *problem = "The import log " + path +
                   " can't be read: " + platform::DescribeError(records.Error().error) + ".";
        return {};
    }
    return transfer::PastTransfers(*records);
}

std::string Describe(const transfer::PastTransfer& t) {
    return "The transfer of " + t.time + (t.archive ? " archived " : " moved ") +
           std::to_string(t.DoneCount()) + " of " + Files(t.files.size()) + " from " + t.fromDir + " to " +
           t.toDir + (t.undone ? "; it has been undone." : ".");
}

std::string FileList(const transfer::PastTransfer& t) {
    std::string text;
    for (size_t i = 0; i < t.files.size(); ++i) {
        if (i == kListed) {
            return text + "\n... and " + std::to_string(t.files.size() - kListed) + " more.";
        }
        const transfer::LogRecord& r = t.files[i];
        text += "\n" + platform::NameOf(r.oldPath) + " -> " + platform::NameOf(r.newPath) +
                (r.event == "kept"   ? " (stayed)"
                 : r.event == "plan" ? " (not known: it was stopped)"
                                     : "");
    }
    return text;
}

std::string UndoOutcome(const transfer::UndoReport& report) {
    std::string text = std::to_string(report.Back()) + " of " + Files(report.items.size()) +
                       " went back to their old names.";
    size_t listed = 0;
    for (const transfer::UndoItem& item : report.items) {
        if (!item.back && listed++ < kListed) {
            text += "\n" + item.to + " stays at " + item.from + ": " + item.reason + ".";
        }
    }
    if (listed > kListed) {
        text += "\n... and " + std::to_string(listed - kListed) + " more.";
    }
    if (!report.problem.empty()) {
        text += "\n\n" + report.problem + ".";
    }
    return text + "\n\nThe running number is not wound back.";
}

}  // namespace

HistoryMenu::HistoryMenu(QMenu& menu, QWidget& owner, UserPrompts& prompts, std::string caption)
    : QObject(&menu), m_owner(owner), m_prompts(prompts), m_caption(std::move(caption)) {
    m_show = menu.addAction(QStringLiteral("Show the last transfer"));
    m_show->setObjectName(QStringLiteral("showLastTransfer"));
    connect(m_show, &QAction::triggered, this, &HistoryMenu::ShowLastTransfer);
    m_undo = menu.addAction(QStringLiteral("Undo the last transfer..."));
    m_undo->setObjectName(QStringLiteral("undoLastTransfer"));
    connect(m_undo, &QAction::triggered, this, &HistoryMenu::UndoLastTransfer);
    connect(this, &HistoryMenu::undoFinished, this, &HistoryMenu::OnUndoFinished, Qt::QueuedConnection);
}

HistoryMenu::~HistoryMenu() {
    if (m_undoThread.joinable()) {
        m_undoThread.join();
    }
}

void HistoryMenu::SetEnabled(bool enabled) {
    m_show->setEnabled(enabled);
    m_undo->setEnabled(enabled);
}

void HistoryMenu::Tell(const std::string& text, bool warn) {
    m_prompts.MessageBox(&m_owner, text, m_caption, warn ? kBoxOk | kBoxIconExclamation : kBoxOk);
}

void HistoryMenu::ShowLastTransfer() {
    std::string problem;
    const std::vector<transfer::PastTransfer> transfers = ReadTransfers(&problem);
    if (transfers.empty()) {
        Tell(problem.empty() ? "No transfer is recorded yet." : problem, !problem.empty());
        return;
    }
    Tell(Describe(transfers.back()) + "\n" + FileList(transfers.back()), false);
}

void HistoryMenu::UndoLastTransfer() {
    std::string problem;
    const std::vector<transfer::PastTransfer> transfers = ReadTransfers(&problem);
    const transfer::PastTransfer* latest = transfer::LatestUndoable(transfers);
    if (latest == nullptr) {
        Tell(problem.empty() ? "There is no transfer to undo." : problem, !problem.empty());
        return;
    }
    if (transfer::AnyTransferRuns(transfer::ImportLogFolder())) {
        Tell("A transfer is running: undo once it has finished.", true);
        return;
    }
    const std::string question = "Undo the transfer of " + latest->time + "?\n\n" +
                                 Files(latest->files.size()) + (latest->files.size() == 1 ? " goes" : " go") +
                                 " back from " + (latest->archive ? "the archive in " : "") + latest->toDir +
                                 " to " + latest->fromDir + ", where their old names are free.";
    if (m_prompts.MessageBox(&m_owner, question, m_caption, kBoxYesNo | kBoxIconQuestion) != kAnswerYes) {
        return;
    }
    SetEnabled(false);
    emit undoRunning(true);
    m_undoThread = std::thread([this, folder = transfer::ImportLogFolder()] {
        m_undoReport = transfer::UndoLatestTransfer(folder);
        emit undoFinished();
    });
}

void HistoryMenu::OnUndoFinished() {
    m_undoThread.join();
    SetEnabled(true);
    emit undoRunning(false);
    const transfer::UndoReport& report = m_undoReport;
    if (report.transfer.empty()) {
        Tell("Nothing was undone: " + report.problem + ".", true);
        return;
    }
    Tell(UndoOutcome(report), report.Stayed() > 0 || !report.problem.empty());
}

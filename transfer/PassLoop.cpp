#include "transfer/PassLoop.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "platform/File.h"
#include "platform/Path.h"
#include "settings/SettingsFile.h"
#include "transfer/CounterKeeper.h"

namespace transfer {
namespace {

std::string CounterError(const SettingsFile& settings, const platform::Status& kept) {
    const std::string path = settings.Path();
    return kept           ? std::string()
           : path.empty() ? "there is no settings file to keep the running number in"
                          : "the running number could not be saved in " + path + ": " +
                                platform::DescribeError(kept.Error().error);
}

// Takes out of the plan the files a preview did not list: they appeared since, and stay.
void KeepToListed(const std::set<std::string>& listed, TransferPlan& plan,
                  std::vector<TransferItem>& appeared) {
    std::vector<PlannedFile> kept;
    std::map<size_t, size_t> leads;  // a group's first file before, and now
    for (PlannedFile& file : plan.files) {
        if (!listed.contains(file.item.oldName)) {
            file.item.outcome = Outcome::Kept;
            file.item.reason = "it appeared after the preview, so it was not taken";
            appeared.push_back(std::move(file.item));
            continue;
        }
        file.lead = leads.try_emplace(file.lead, kept.size()).first->second;
        kept.push_back(std::move(file));
    }
    plan.files = std::move(kept);
}

}  // namespace

void RunPassLoop(const PassRequest& request, PassKind kind, const FileStep& step, TransferReport& report,
                 const BatchStep& beforeBatch, const std::function<void()>& afterEachFile) {
    const PassOptions& options = request.options;
    TransferPlan plan = ListTransfer(request, kind);
    std::vector<TransferItem> appeared;
    if (options.onlyListed != nullptr) {
        KeepToListed(*options.onlyListed, plan, appeared);
    }
    report.problem = plan.problem;
    report.leftBehind = plan.leftBehind;
    report.unread = plan.unread;
    report.met = plan.files.size() + appeared.size();
    const auto tellNotice = [&] {
        report.notice += (report.notice.empty() || plan.notice.empty() ? "" : " ") + plan.notice;
    };
    if (plan.files.empty() && !plan.problem.empty()) {
        return;
    }

    const bool numbered = request.option == kNameNumber && request.inputs.IsNumberChecked();
    CounterKeeper counter(request.settings);
    const auto waiting = [&] {
        if (options.onNotice) {
            options.onNotice("waiting for another transfer to finish with the running number\u2026");
        }
    };
    if (!options.dryRun && request.inputs.IsNumberChecked() && !plan.files.empty()) {
        const platform::Status claimed =
            counter.Claim(request.inputs, options.numberFromSavedCounter, options.cancel, waiting);
        if (!claimed) {
            if (claimed.Error().error == ECANCELED) {
                report.cancelled = true;
            } else {
                report.problem = "the running number can't be kept apart from other transfers: " +
                                 claimed.Error().Describe();
            }
            tellNotice();
            return;
        }
    }
    NameTransfer(request, plan);
    tellNotice();
    if (!options.dryRun && request.inputs.IsNumberChecked() && !plan.files.empty()) {
        size_t longest = 0;
        for (const PlannedFile& planned : plan.files) {
            longest = std::max(longest, FormatDialogInt(planned.numberAfter).size());
        }
        if (std::string refused = counter.WhyCannotKeep(longest); !refused.empty()) {
            report.problem = std::move(refused);
            return;
        }
    }
    if (!options.dryRun) {
        // Left by a run that was killed: copies in the destination, a settings file's new version.
        platform::RemoveStaleTemporaries(request.toDir);
        if (const std::string settings = request.settings.Path(); !settings.empty()) {
            platform::RemoveStaleTemporaries(platform::FolderOf(platform::LinkTarget(settings)));
        }
    }
    bool leadWent = false;
    for (size_t i = 0, batchEnd = 0; i < plan.files.size(); ++i) {
        const PlannedFile& planned = plan.files[i];
        const bool leads = planned.lead == i;
        if (leads && options.cancel != nullptr && options.cancel->load()) {
            report.cancelled = true;
            break;
        }
        if (i == batchEnd) {
            batchEnd = std::min(i + kPlanBatchFiles, plan.files.size());
            std::vector<std::pair<std::string, const TransferItem*>> going;
            for (size_t j = i; j < batchEnd && beforeBatch; ++j) {
                if (plan.files[j].item.outcome == Outcome::Done) {
                    going.emplace_back(platform::JoinPath(request.fromDir, plan.files[j].item.oldName),
                                       &plan.files[j].item);
                }
            }
            if (!going.empty() && !beforeBatch(going)) {
                report.cancelled = true;
                break;
            }
        }
        // The item has its place in the report before its step runs: a step may hand the file on to work that
        // reports on it by its index, even while the step is still running.
        TransferItem& item = report.items.emplace_back(planned.item);
        bool went = false;
        if (!leads && !leadWent && item.outcome == Outcome::Done) {
            item.outcome = Outcome::Kept;
            item.reason = "it stays together with " + platform::NameOf(plan.files[planned.lead].item.oldName);
        } else if (item.outcome == Outcome::Done) {
            item.outcome = Outcome::Kept;
            const bool othersFollow = i + 1 < plan.files.size() && plan.files[i + 1].lead == i;
            went = step(platform::JoinPath(request.fromDir, item.oldName), item, leads && othersFollow);
        }
        leadWent = leads ? went : leadWent;
        if (numbered) {
            request.inputs.SetNumberText(FormatDialogInt(planned.numberAfter));
        }
        if (!options.dryRun) {
            // Each write holds the whole number: one that works makes good any that failed before it.
            report.counterError =
                CounterError(request.settings, counter.Keep(request.inputs, planned.numberAfter));
        }
        if (options.onProgress) {
            options.onProgress(report.items.size(), plan.files.size());
        }
        if (afterEachFile) {
            afterEachFile();
        }
    }
    if (const platform::Status finished =
            options.dryRun ? platform::Status() : counter.Finish(request.inputs);
        report.counterError.empty()) {
        report.counterError = CounterError(request.settings, finished);
    }
    report.items.insert(report.items.end(), appeared.begin(), appeared.end());
    if (platform::LocksWereUnavailable()) {
        report.notice +=
            std::string(report.notice.empty() ? "" : " ") +
            "A file system here keeps no locks, so another transfer at the same time could use the "
            "same running number or archive.";
    }
}

}  // namespace transfer

#include "transfer/TransferReport.h"

#include <algorithm>

namespace transfer {

size_t TransferReport::Done() const {
    return static_cast<size_t>(
        std::count_if(items.begin(), items.end(), [](const TransferItem& item) { return item.Done(); }));
}

size_t TransferReport::Moved() const {
    return static_cast<size_t>(std::count_if(
        items.begin(), items.end(), [](const TransferItem& item) { return item.outcome == Outcome::Done; }));
}

std::string AlreadyThereText(const TransferReport& report) {
    const size_t count = report.Done() - report.Moved();
    if (count == 0) {
        return {};
    }
    return std::to_string(count) + (count == 1 ? " file was" : " files were") +
           " already on the computer, so " + (count == 1 ? "it stays" : "they stay") +
           " in the camera folder";
}

std::string OutcomeText(const TransferItem& item, bool archive, bool dryRun) {
    const std::string verb = archive ? "archived" : "moved";
    switch (item.outcome) {
        case Outcome::Done:
            return verb;
        case Outcome::CopyKept:
            return std::string(archive ? "archived" : "copied") + ", but the original stays: " + item.reason;
        case Outcome::AlreadyThere:
            return item.reason;
        case Outcome::Kept:
            break;
    }
    return (dryRun ? "would not be " : "not ") + verb + ": " + item.reason;
}

std::string LeftBehindText(const TransferReport& report) {
    return LeftBehindText(report.leftBehind);
}

std::string LeftBehindText(const std::map<std::string, size_t>& left) {
    std::vector<std::pair<std::string, size_t>> kinds(left.begin(), left.end());
    size_t total = 0;
    for (const auto& kind : kinds) {
        total += kind.second;
    }
    if (total == 0) {
        return {};
    }
    // The most common kinds first: they are what the user most likely forgot.
    std::stable_sort(kinds.begin(), kinds.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text = std::to_string(total) + (total == 1 ? " other file stays" : " other files stay") +
                       " in the camera folder (";
    for (size_t i = 0; i < kinds.size(); ++i) {
        text += (i == 0 ? "" : ", ") + (kinds[i].first.empty() ? "no extension" : kinds[i].first);
        if (kinds[i].second > 1) {
            text += " \u00d7" + std::to_string(kinds[i].second);
        }
    }
    return text + ")";
}

}  // namespace transfer

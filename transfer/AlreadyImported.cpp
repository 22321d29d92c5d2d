#include "transfer/AlreadyImported.h"

#include <set>

#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Path.h"
#include "transfer/ImportLog.h"
#include "transfer/TransferPlan.h"

namespace transfer {

ImportedFiles::ImportedFiles(std::string toDir, std::string logPath)
    : m_toDir(std::move(toDir)), m_logPath(std::move(logPath)) {}

void ImportedFiles::Gather() {
    m_gathered = true;
    std::set<std::string> seen;
    const auto add = [&](const std::string& path, uint64_t size) {
        if (seen.insert(path).second) {
            m_bySize[size].push_back(path);
        }
    };
    if (const auto listing = platform::ListFolder(m_toDir)) {
        for (const platform::FolderEntry& entry : *listing) {
            const std::string path = platform::JoinPath(m_toDir, entry.name);
            const auto info = entry.isDirectory ? std::nullopt : platform::InfoOfPath(path, false);
            if (info && info->IsRegular()) {
                add(path, info->size);
            }
        }
    }
    // What earlier transfers put below the destination, in folders of their own too. The log's sizes may be
    // stale: the comparison reads the files as they are now.
    const auto records = m_logPath.empty() ? std::nullopt : ReadImportLog(m_logPath);
    const std::string below = AbsolutePath(m_toDir) + "/";
    for (const LogRecord& r : records.value_or(std::vector<LogRecord>())) {
        // Only what is still there as it was put there: a log of many transfers into one folder must not
        // make every file compare with a crowd of names long gone.
        if (r.event == "done" && r.archive.empty() && r.newPath.starts_with(below) &&
            !seen.contains(r.newPath)) {
            const auto info = platform::InfoOfPath(r.newPath, /*followLinks=*/false);
            if (info && info->IsRegular() && info->size == r.size) {
                add(r.newPath, r.size);
            } else {
                seen.insert(r.newPath);
            }
        }
    }
}

std::optional<std::string> ImportedFiles::Find(const std::string& source, const std::string& destination) {
    const auto info = platform::InfoOfPath(source, /*followLinks=*/false);
    if (!info || !info->IsRegular()) {
        return std::nullopt;
    }
    if (!m_gathered) {
        Gather();
    }
    const auto candidates = m_bySize.find(info->size);
    if (candidates != m_bySize.end()) {
        for (const std::string& candidate : candidates->second) {
            const auto there = platform::InfoOfPath(candidate, /*followLinks=*/false);
            if (candidate != destination && there && !there->IsSameFile(*info) &&
                HoldTheSameBytes(source, candidate)) {
                return candidate;
            }
        }
    }
    return std::nullopt;
}

}  // namespace transfer

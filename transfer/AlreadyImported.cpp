#include "transfer/AlreadyImported.h"

#include <unordered_set>

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
    // The names each folder holds now, listed once: a logged file whose name its folder no longer holds is
    // gone, and costs no look of its own.
    std::unordered_map<std::string, std::unordered_set<std::string>> held;
    const auto namesIn = [&](const std::string& folder) -> const std::unordered_set<std::string>& {
        const auto [names, added] = held.try_emplace(folder);
        if (added) {
            for (const platform::FolderEntry& entry :
                 platform::ListFolder(folder).value_or(std::vector<platform::FolderEntry>())) {
                if (!entry.isDots && !entry.isDirectory) {
                    names->second.insert(entry.name);
                }
            }
        }
        return names->second;
    };
    std::unordered_set<std::string> added;
    const auto addIfRegular = [&](const std::string& path, std::optional<uint64_t> size) {
        const auto info = platform::InfoOfPath(path, /*followLinks=*/false);
        if (info && info->IsRegular() && (!size || info->size == *size) && added.insert(path).second) {
            m_bySize[info->size].push_back(path);
        }
    };
    const std::string toDir = AbsolutePath(m_toDir);
    for (const std::string& name : namesIn(toDir)) {
        addIfRegular(platform::JoinPath(toDir, name), std::nullopt);
    }
    // What earlier transfers put below the destination, in folders of their own too: each path with the size
    // its latest record gave. Only what is still there as it was put there counts: a log of many transfers
    // into one folder must not make every file compare with a crowd of names long gone.
    std::unordered_map<std::string, uint64_t> logged;
    const std::string below = toDir + "/";
    if (!m_logPath.empty()) {
        (void)ForEachLogRecord(m_logPath, "done", [&](LogRecord&& r) {
            if (r.archive.empty() && r.newPath.starts_with(below)) {
                logged.insert_or_assign(std::move(r.newPath), r.size);
            }
        });
    }
    for (const auto& [path, size] : logged) {
        if (namesIn(platform::FolderOf(path)).contains(platform::NameOf(path))) {
            addIfRegular(path, size);
        }
    }
}

std::optional<std::string> ImportedFiles::Find(const std::string& source, const std::string& destination) {
    if (!m_gathered) {
        Gather();
    }
    if (m_bySize.empty()) {
        return std::nullopt;
    }
    const auto info = platform::InfoOfPath(source, /*followLinks=*/false);
    const auto candidates = info && info->IsRegular() ? m_bySize.find(info->size) : m_bySize.end();
    if (candidates == m_bySize.end()) {
        return std::nullopt;
    }
    for (const std::string& candidate : candidates->second) {
        const auto there = platform::InfoOfPath(candidate, /*followLinks=*/false);
        if (candidate != destination && there && !there->IsSameFile(*info) &&
            HoldTheSameBytes(source, candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace transfer

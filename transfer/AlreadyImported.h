// Finding a camera file whose very content is already on the computer, so that a card put in a second time
// (or a picture that 100CANON and 101CANON both hold) is not copied again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace transfer {

// The files of one destination that may hold a camera file's content. Sizes pick the candidates: the
// destination folder's own files, and the files earlier transfers put anywhere below it (the import log);
// only a byte comparison with the file now present decides. A camera file of a size no candidate has costs
// nothing but a look at its size: no file is read.
class ImportedFiles {
  public:
    // `logPath`: the import log, or empty for none.
    ImportedFiles(std::string toDir, std::string logPath);

    // The path of a file other than `destination` (its new name's place, which the plan has compared) with
    // the very content of `source`. No value when there is none. The candidates are gathered at the first
    // call, before this transfer has put anything in the destination.
    std::optional<std::string> Find(const std::string& source, const std::string& destination);

  private:
    void Gather();

    std::string m_toDir;
    std::string m_logPath;
    bool m_gathered = false;  // the candidates are gathered at the first file, once
    std::unordered_map<uint64_t, std::vector<std::string>> m_bySize;
};

}  // namespace transfer

#include "platform/Folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>
#include <memory>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Sys.h"

namespace platform {

Result<std::vector<FolderEntry>> ListFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    const int fd = Sys().open(folder.c_str(), O_RDONLY | O_DIRECTORY, 0);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(fd >= 0 ? ::fdopendir(fd) : nullptr, ::closedir);
    if (!dir) {
        const Failure failure = Failure::Now(fd >= 0 ? "fdopendir" : "open", folder);
        if (fd >= 0) {
            Sys().close(fd);
        }
        return failure;
    }
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir.get());
        if (d == nullptr) {
            if (errno != 0) {
                return Failure::Now("readdir",
                                    folder);  // a listing cut short would pass over files in silence
            }
            break;
        }
        FolderEntry entry;
        entry.name = d->d_name;
        entry.isDots = entry.name == "." || entry.name == "..";
        if (d->d_type == DT_UNKNOWN) {
            const auto info = InfoOfPath(JoinPath(folder, entry.name), /*followLinks=*/false);
            entry.isDirectory = info && info->IsDirectory();
            entry.examined = info ? Status() : info.Error();
        } else {
            entry.isDirectory = d->d_type == DT_DIR;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace platform

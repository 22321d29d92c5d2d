#include "platform/Outcome.h"

#include <cstring>

namespace platform {

std::string Failure::Describe() const {
    std::string text = DescribeError(error);
    if (!path.empty()) {
        text += std::string(" (") + call + " " + path + ")";
    }
    return text;
}

std::string DescribeError(int error) {
    switch (error) {
        case 0:
            return "no error";
        case EEXIST:
            return "a file with that name already exists";
        case ENOENT:
            return "the file or folder does not exist";
        case EXDEV:
            return "it can't be moved to another file system";
        case ECANCELED:
            return "the transfer was stopped";
        case ENOSPC:
            return "the disk is full";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EMFILE:
        case ENFILE:
            return "too many open files";
        default:
            return std::strerror(error);
    }
}

}  // namespace platform

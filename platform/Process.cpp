#include "platform/Process.h"

#include <sys/resource.h>
#include <optional>
#include <vector>

#include "platform/Folder.h"

namespace platform {
namespace {

// The limit the program was started with; set before any thread starts, read only after.
rlimit g_originalLimit{RLIM_INFINITY, RLIM_INFINITY};
bool g_raised = false;

}  // namespace

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) {
        return;
    }
    g_originalLimit = limit;
    limit.rlim_cur = limit.rlim_max;
    g_raised = ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

size_t OpenFilesLeft() {
    rlimit limit{};
    const auto open = ListFolder("/proc/self/fd");
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || !open) {
        return 0;
    }
    const size_t used = open->size() > 2 ? open->size() - 2 : 0;  // without "." and ".."
    return limit.rlim_cur > used ? static_cast<size_t>(limit.rlim_cur - used) : 0;
}

void RestoreForHelper(pid_t helper) {
    if (g_raised) {
        ::prlimit(helper, RLIMIT_NOFILE, &g_originalLimit, nullptr);
    }
}

}  // namespace platform

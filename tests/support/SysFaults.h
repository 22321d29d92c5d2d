// Stand-ins for entries of platform::SysCalls, for tests that inject faults.
#pragma once

#include <cerrno>
#include <cstring>

#include "platform/Sys.h"

namespace testsupport {

// A call that always fails with `Errno`; it fits any entry of the table: `calls.fsync = Fail<EIO>;`.
template <int Errno, typename R, typename... Args>
R Fail(Args...) {
    errno = Errno;
    return R(-1);
}

// Every rename but of our own temporary files crosses file systems, so that copies are made.
inline int RenameAcrossFileSystems(const char* from, const char* to, unsigned flags) {
    return std::strstr(from, "/.tovaro-") ? platform::RealSysCalls().renameat2(from, to, flags)
                                          : Fail<EXDEV, int>();
}

}  // namespace testsupport

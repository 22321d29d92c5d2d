// Stand-ins for entries of platform::SysCalls, for tests that inject faults.
#pragma once

#include <cerrno>

#include "platform/Sys.h"

namespace testsupport {

// A call that always fails with `Errno`; it fits any entry of the table: `calls.fsync = Fail<EIO>;`.
template <int Errno, typename R, typename... Args>
R Fail(Args...) {
    errno = Errno;
    return R(-1);
}

}  // namespace testsupport

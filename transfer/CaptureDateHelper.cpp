// tovaro-capture-date: the helper program that reads capture dates for a pass (CaptureDateReader). It reads
// file paths from its standard input, each ended by a NUL byte, and answers each with one line on its
// standard output: the CaptureStatus as a number and, when found, the time ("0 1700000000\n", "1 0\n").
//
// The files come from a card and the parser may hang or abort on one of them: here that ends only this
// program, which the pass then starts afresh. Its own limits make sure it never outlives its use: each file
// has an alarm a little after the pass's own time limit (which ends this program by SIGALRM, should the pass
// be gone), and its address space is limited, so that a damaged file can't make it take the machine's memory.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "transfer/CaptureDate.h"

namespace {

// The sanitizers reserve terabytes of address space for their own bookkeeping, so there the limit is left to
// them; a memory hog then ends this program with their report instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif
#else
constexpr bool kUnderSanitizer = false;
#endif

// Room for the largest RAW picture a parser may map whole, and for the library and its heap.
constexpr rlim_t kAddressSpace = rlim_t{2} << 30;

}  // namespace

int main() {
    if (!kUnderSanitizer) {
        const rlimit limit{kAddressSpace, kAddressSpace};
        ::setrlimit(RLIMIT_AS, &limit);
    }
    std::string path;
    while (std::getline(std::cin, path, '\0')) {
        ::alarm(transfer::kCaptureTimeLimitSeconds + 2);
        const transfer::CaptureRead read = transfer::ReadCaptureTime(path);
        ::alarm(0);
        std::printf("%d %lld\n", static_cast<int>(read.status), static_cast<long long>(read.time));
        if (std::fflush(stdout) != 0) {
            return 1;
        }
    }
    return 0;
}

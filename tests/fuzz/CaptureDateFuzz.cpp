// Fuzz target of the capture-date reader as the helper program runs it: the first byte chooses the file's
// extension, the rest is the file. Whatever the bytes, it gives a date or none, within the helper's time
// limit (the fuzzer's -timeout) and without a crash.
#include <iterator>

#include "transfer/CaptureDate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using transfer::CaptureStatus;
    static constexpr std::string_view kExtensions[] = {".jpg", ".tif", ".png", ".webp", ".heic", ".cr2",
                                                       ".cr3", ".crw", ".orf", ".rw2",  ".raf",  ".mrw",
                                                       ".nef", ".mp4", ".mov", ".avi",  ".gif"};
    if (size > 0) {
        const auto read =
            transfer::CaptureTimeOfBytes(data + 1, size - 1, kExtensions[data[0] % std::size(kExtensions)]);
        // Only the pass's side gives the statuses after Damaged; a date comes with Found alone.
        if (read.status > CaptureStatus::Damaged || (read.status != CaptureStatus::Found && read.time != 0)) {
            __builtin_trap();
        }
    }
    return 0;
}

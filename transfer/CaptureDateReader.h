// Reads capture dates for a pass through the helper program (tovaro-capture-date), so that a file that hangs
// or crashes the parser costs that file its date, never the pass.
#pragma once

#include <string>

#include "platform/ChildProcess.h"
#include "transfer/CaptureDate.h"
#include "transfer/TransferReport.h"

namespace transfer {

class CaptureDateReader {
  public:
    // Reads through `program` (by default the installed helper), giving each file `limitSeconds`. While it
    // waits for an answer it looks at `cancel` every few hundredths of a second.
    explicit CaptureDateReader(const CancelFlag* cancel, std::string program = DefaultProgram(),
                               int limitSeconds = kCaptureTimeLimitSeconds);

    // The capture date of the file at `path` (see ReadCaptureTime). The helper is started on the first call,
    // killed when it has not answered within the time limit or when the pass is cancelled, and started
    // afresh for the next file when it died. Unavailable, with the failure in StartError() (its path the
    // program), when it can't be started.
    CaptureRead Read(const std::string& path);

    // Why the helper could not be started, for the report.
    const platform::Status& StartError() const { return m_startError; }

    static std::string DefaultProgram();

  private:
    CaptureRead Answer();

    const CancelFlag* m_cancel;
    std::string m_program;
    int m_limitSeconds;
    platform::ChildProcess m_helper;
    platform::Status m_startError;
};

}  // namespace transfer

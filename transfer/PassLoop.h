// The loop both passes share: plan the transfer, then hand each file that is to go to the pass's own step,
// and keep the running number after each file.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "transfer/TransferPlan.h"
#include "transfer/TransferReport.h"

namespace transfer {

// A pass's own work on one file the plan sends: `source` is its path in the camera folder; `item` comes with
// both names, outcome Kept and no reason. The step checks again as it acts, sets the outcome, and the reason
// when it is not Done. `leadsGroup` is set for the first file of a group that others travel with: the step
// then returns only once that file is safely in place (copied, named, flushed) or has failed. It returns
// whether the file went on its way (moved or copied; renamed and packed): the files that travel with it
// follow only then.
using FileStep = std::function<bool(const std::string& source, TransferItem& item, bool leadsGroup)>;

// Runs before a batch of files acts, with each file of the batch that the plan sends to the step (its path in
// the camera folder and its item): the pass records them all and waits once for the records to be on the
// disk, so that no file acts before its record is safe. False when the records could not be made safe: then
// no file of the batch, nor any after it, acts, and the pass ends as a stopped one does.
using BatchStep = std::function<bool(const std::vector<std::pair<std::string, const TransferItem*>>& files)>;

// Plans the transfer (ListTransfer; under Number, once no other pass uses the counter, NameTransfer) and
// runs `step` on every file the plan sends, in its order, filling `report`: one item per taken entry
// handled, what the plan met (report.met, problem, unread, leftBehind, notice), a counter that could not be
// kept, and whether the pass was cancelled. A file the plan keeps, or whose group's first file did not go,
// is reported without calling `step`.
//
// Under Number every taken entry uses up its number, whatever became of it, and the counter is kept after
// each (not in a dry run). `beforeBatch` (when given) runs before each batch of up to kPlanBatchFiles files,
// first thing for its first file. Progress goes to options.onProgress, then `afterEachFile` runs (when
// given), with the file's item last in the report. The cancel flag is looked at before each file, or group of
// files that travel together. Final outcomes (options.onItem) are the pass's to report.
void RunPassLoop(const PassRequest& request, PassKind kind, const FileStep& step, TransferReport& report,
                 const BatchStep& beforeBatch = {}, const std::function<void()>& afterEachFile = {});

// How many files a batch holds at most. Its records cost one wait for the disk, which weighs as much as a few
// hundred renames within one file system; a crash leaves at most the batch's records of files not yet moved,
// which undo passes over.
constexpr size_t kPlanBatchFiles = 1024;

}  // namespace transfer

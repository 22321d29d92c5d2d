#include "transfer/TransferReport.h"

#include <algorithm>

namespace transfer {

size_t TransferReport::Failed() const {
    return static_cast<size_t>(
        std::count_if(items.begin(), items.end(), [](const TransferItem& item) { return !item.done; }));
}

}  // namespace transfer

// How many rows the bands of a pass's row kernels take.
#pragma once

#include <algorithm>

namespace qv::passes {

// Several bands per worker, so that a pool balances around other work on the same cores (the
// host converts frames while the filter draws), and at least `fewest` rows a band, so that the
// rows a band reads around its own cost little.
inline constexpr int kBandsPerWorker = 8;

inline int BandRows(int rows, int workers, int fewest) {
    const int bands = kBandsPerWorker * std::max(workers, 1);
    return std::max(fewest, (rows + bands - 1) / bands);
}

}  // namespace qv::passes

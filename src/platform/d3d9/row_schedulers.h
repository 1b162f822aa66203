// Row schedulers for the optimised rasteriser: serial, shuffled (tests: bands in random order
// catch kernels that depend on band order), and a worker pool.
#pragma once

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "common/worker_pool.h"
#include "platform/d3d9/pixel_program.h"

namespace qv::gfx {

class SerialRowScheduler final : public RowScheduler {
public:
    void Run(int rows, int grain, FunctionRef<void(int, int)> band) override {
        (void)grain;
        if (rows > 0) band(0, rows);
    }
    int Workers() const override { return 1; }
};

class ShuffledRowScheduler final : public RowScheduler {
public:
    explicit ShuffledRowScheduler(uint32_t seed, int bandRows = 0) : rng_(seed), bandRows_(bandRows) {}
    void Run(int rows, int grain, FunctionRef<void(int, int)> band) override {
        const int step = std::max(1, bandRows_ > 0 ? bandRows_ : grain);
        std::vector<int> starts;
        for (int y = 0; y < rows; y += step) starts.push_back(y);
        std::shuffle(starts.begin(), starts.end(), rng_);
        for (int y0 : starts) band(y0, std::min(rows, y0 + step));
    }
    int Workers() const override { return 1; }

private:
    std::mt19937 rng_;
    int bandRows_;
};

class PoolRowScheduler final : public RowScheduler {
public:
    explicit PoolRowScheduler(WorkerPool& pool) : pool_(pool) {}
    void Run(int rows, int grain, FunctionRef<void(int, int)> band) override {
        pool_.ParallelBands(rows, grain, band);
    }
    int Workers() const override { return pool_.Size(); }

private:
    WorkerPool& pool_;
};

}  // namespace qv::gfx

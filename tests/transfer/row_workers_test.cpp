// The upload and download workers: conversion rules, groups and tails, untouched samples,
// and the split of rows over worker threads, on every SIMD target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "common/worker_pool.h"
#include "host/host_records.h"
#include "support/pass_harness.h"
#include "transfer/packed_frame.h"

namespace qv::test {
namespace {

using transfer::DownloadWorker;
using transfer::PackedTexelWidth;
using transfer::RowTransfer;
using transfer::UploadWorker;

constexpr int16_t kUntouched = static_cast<int16_t>(0x5A5A);
constexpr int kGuardSamples = 16;  // before the first row and after the last

// Rows of 16-bit samples with a pitch of their own, surrounded by guard samples; everything
// starts as kUntouched so stray and missing writes show.
class Rows {
public:
    Rows(int rows, int pitch)
        : rows_(rows), pitch_(pitch), data_(static_cast<size_t>(rows * pitch + 2 * kGuardSamples), kUntouched) {}
    int16_t* Row(int r) { return data_.data() + kGuardSamples + static_cast<ptrdiff_t>(r) * pitch_; }
    const int16_t* Row(int r) const { return data_.data() + kGuardSamples + static_cast<ptrdiff_t>(r) * pitch_; }
    int pitch() const { return pitch_; }
    int rows() const { return rows_; }
    bool GuardsIntact() const {
        for (int i = 0; i < kGuardSamples; ++i) {
            if (data_[i] != kUntouched || data_[data_.size() - 1 - i] != kUntouched) return false;
        }
        return true;
    }
    bool operator==(const Rows& o) const { return data_ == o.data_; }

private:
    int rows_;
    int pitch_;
    std::vector<int16_t> data_;
};

// The rules in their plainest form, in 32-bit arithmetic.
int16_t UploadRule(int16_t sample, int k) {
    const int offset = k % 3 == 0 ? 0 : 2048;
    return static_cast<int16_t>(std::clamp(sample + offset, 0, 4096));
}
int16_t DownloadRule(int16_t stored, int k) {
    const int offset = k % 3 == 0 ? 0 : 2048;
    return static_cast<int16_t>(std::clamp<int>(stored, 0, 4096) - offset);
}

// Host frame rows: 3 x width samples back to back (the host's pitch), or wider.
Rows HostRows(int width, int rows, int pitch = 0) { return Rows(rows, pitch ? pitch : 3 * width); }
// Packed rows: texW texels, with `padTexels` of padding as a lock may report.
Rows PackedRows(int width, int rows, int padTexels = 3) {
    return Rows(rows, 4 * (PackedTexelWidth(width) + padTexels));
}

void FillRandom(Rows& r, int samplesPerRow, uint32_t seed, int lo = -32768, int hi = 32767) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    for (int y = 0; y < r.rows(); ++y)
        for (int k = 0; k < samplesPerRow; ++k) r.Row(y)[k] = static_cast<int16_t>(d(rng));
}

// Runs a worker as the host would with `workers` threads: each index once.
void RunWorkers(transfer::RowTransfer t, bool upload, int workers) {
    for (int i = 0; i < workers; ++i) (upload ? UploadWorker : DownloadWorker)(i, workers, &t, nullptr);
}

RowTransfer UploadTransfer(const Rows& host, Rows& packed, int width) {
    return transfer::MakeRowTransfer(host.Row(0), host.pitch(), packed.Row(0), packed.pitch(), width, host.rows());
}
RowTransfer DownloadTransfer(const Rows& packed, Rows& host, int width) {
    return transfer::MakeRowTransfer(packed.Row(0), packed.pitch(), host.Row(0), host.pitch(), width, packed.rows());
}

// Every written sample follows the rule; every other sample is untouched.
::testing::AssertionResult ConvertedExactly(const Rows& in, const Rows& out, int width, bool upload) {
    for (int y = 0; y < in.rows(); ++y) {
        for (int k = 0; k < out.pitch(); ++k) {
            const int16_t got = out.Row(y)[k];
            const int16_t want =
                k < 3 * width ? (upload ? UploadRule(in.Row(y)[k], k) : DownloadRule(in.Row(y)[k], k)) : kUntouched;
            if (got != want) {
                return ::testing::AssertionFailure() << "row " << y << " sample " << k << " (input " << in.Row(y)[k]
                                                     << "): got " << got << ", want " << want;
            }
        }
    }
    if (!out.GuardsIntact()) return ::testing::AssertionFailure() << "write outside the rows";
    return ::testing::AssertionSuccess();
}

TEST(PackedFrameLayout, FourPixelsTakeThreeTexels) {
    EXPECT_EQ(PackedTexelWidth(1), 1);
    EXPECT_EQ(PackedTexelWidth(2), 2);
    EXPECT_EQ(PackedTexelWidth(3), 3);
    EXPECT_EQ(PackedTexelWidth(4), 3);
    EXPECT_EQ(PackedTexelWidth(7), 6);
    EXPECT_EQ(PackedTexelWidth(8), 6);
    EXPECT_EQ(PackedTexelWidth(1920), 1440);
    for (int w = 1; w <= 64; ++w) {
        EXPECT_GE(4 * PackedTexelWidth(w), 3 * w) << w;
        EXPECT_LT(4 * (PackedTexelWidth(w) - 1), 3 * w) << w;
    }
}

TEST(PackedFrameLayout, TheRecordSplitsAWidthIntoGroupsOfEightAndATail) {
    const RowTransfer t = transfer::MakeRowTransfer(nullptr, 11, nullptr, 22, 1917, 5);
    EXPECT_EQ(t.sourcePitch, 11);
    EXPECT_EQ(t.destinationPitch, 22);
    EXPECT_EQ(t.groupCount, 239);
    EXPECT_EQ(t.tailCount, 5);
    EXPECT_EQ(t.rowCount, 5);
}

// Single samples at and beyond every limit, in each position of a group and in the tail.
TEST(UploadWorker, ClampsWithoutWrapAround) {
    struct Case {
        int component;
        int16_t sample;
        int16_t stored;
    };
    const Case cases[] = {{0, -5, 0},      {0, 4097, 4096},  {0, 0, 0},        {0, 4096, 4096},  {0, 32767, 4096},
                          {0, -32768, 0},  {1, -2049, 0},    {1, -2048, 0},    {1, 0, 2048},     {1, 2048, 4096},
                          {1, 2049, 4096}, {1, 32767, 4096}, {1, 30720, 4096}, {1, -32768, 0},   {2, -2049, 0},
                          {2, 0, 2048},    {2, 2048, 4096},  {2, 32767, 4096}, {2, 30719, 4096}, {2, -1, 2047}};
    ForEachSimdTarget([&](const std::string& target) {
        for (const Case& c : cases) {
            for (int x = 0; x < 9; ++x) {  // pixels 0-7 form the group, pixel 8 is the tail
                Rows host = HostRows(9, 1);
                for (int k = 0; k < 27; ++k) host.Row(0)[k] = 1000;
                host.Row(0)[3 * x + c.component] = c.sample;
                Rows packed = PackedRows(9, 1);
                RunWorkers(UploadTransfer(host, packed, 9), true, 1);
                EXPECT_EQ(packed.Row(0)[3 * x + c.component], c.stored)
                    << target << " component " << c.component << " sample " << c.sample << " pixel " << x;
            }
        }
    });
}

TEST(DownloadWorker, ClampsStoredValuesReadAsSigned) {
    struct Case {
        int component;
        uint16_t stored;
        int16_t sample;
    };
    const Case cases[] = {{0, 4096, 4096},   {1, 0, -2048},     {2, 4096, 2048}, {0, 65535, 0},
                          {1, 65535, -2048}, {2, 32768, -2048}, {0, 32768, 0},   {0, 32767, 4096},
                          {1, 4097, 2048},   {2, 2048, 0},      {1, 2047, -1},   {0, 17, 17}};
    ForEachSimdTarget([&](const std::string& target) {
        for (const Case& c : cases) {
            for (int x = 0; x < 9; ++x) {
                Rows packed = PackedRows(9, 1);
                for (int k = 0; k < 27; ++k) packed.Row(0)[k] = 1000;
                packed.Row(0)[3 * x + c.component] = static_cast<int16_t>(c.stored);
                Rows host = HostRows(9, 1);
                RunWorkers(DownloadTransfer(packed, host, 9), false, 1);
                EXPECT_EQ(host.Row(0)[3 * x + c.component], c.sample)
                    << target << " component " << c.component << " stored " << c.stored << " pixel " << x;
            }
        }
    });
}

TEST(DownloadWorker, TheExampleTexelGivesFullLumaAndChromaLimits) {
    Rows packed = PackedRows(1, 1);
    packed.Row(0)[0] = 4096;
    packed.Row(0)[1] = 0;
    packed.Row(0)[2] = 4096;
    Rows host = HostRows(1, 1);
    RunWorkers(DownloadTransfer(packed, host, 1), false, 1);
    EXPECT_EQ(host.Row(0)[0], 4096);
    EXPECT_EQ(host.Row(0)[1], -2048);
    EXPECT_EQ(host.Row(0)[2], 2048);
}

// Full-range random rows of every width up to 40 and a few awkward larger ones, with padded
// packed pitches and host rows wider than the frame: every written sample follows the rule,
// the rest (the last texel's spare channels, padding, guards) stays untouched.
TEST(RowWorkers, FollowTheRulesAtEveryWidthAndTouchNothingElse) {
    std::vector<int> widths;
    for (int w = 1; w <= 40; ++w) widths.push_back(w);
    for (int w : {63, 64, 65, 1917, 1920}) widths.push_back(w);
    ForEachSimdTarget([&](const std::string& target) {
        for (int w : widths) {
            const int rows = w > 100 ? 3 : 4;
            Rows host = HostRows(w, rows);
            FillRandom(host, 3 * w, 100u + w);
            Rows packed = PackedRows(w, rows, 1 + w % 3);
            RunWorkers(UploadTransfer(host, packed, w), true, 1);
            EXPECT_TRUE(ConvertedExactly(host, packed, w, true)) << target << " upload width " << w;

            Rows stored = PackedRows(w, rows, 2);
            FillRandom(stored, 4 * PackedTexelWidth(w), 200u + w);
            Rows edit = HostRows(w, rows, 3 * (w + 5));  // an edit buffer wider than the frame
            RunWorkers(DownloadTransfer(stored, edit, w), false, 1);
            EXPECT_TRUE(ConvertedExactly(stored, edit, w, false)) << target << " download width " << w;
        }
    });
}

TEST(RowWorkers, TheLastTexelsSpareChannelsStayUnwritten) {
    // Width 1: one texel, channel A spare. Width 7: six texels, channels 21..23 spare.
    for (int w : {1, 2, 3, 5, 6, 7}) {
        Rows host = HostRows(w, 1);
        FillRandom(host, 3 * w, 7u);
        Rows packed = PackedRows(w, 1, 0);
        RunWorkers(UploadTransfer(host, packed, w), true, 1);
        for (int k = 3 * w; k < 4 * PackedTexelWidth(w); ++k) EXPECT_EQ(packed.Row(0)[k], kUntouched) << w << " " << k;
        EXPECT_NE(packed.Row(0)[3 * w - 1], kUntouched) << w;
    }
}

// A pixel gives the same result whether it falls in a group of eight or in the tail: the same
// content shifted right by 0..8 pixels must come out shifted, sample for sample.
TEST(RowWorkers, APixelConvertsAlikeInAGroupAndInTheTail) {
    const int content = 21;
    std::vector<int16_t> samples(3 * content);
    const int16_t edges[] = {-32768, -2049, -2048, -1, 0, 1, 2047, 2048, 2049, 4095, 4096, 4097, 30720, 32767};
    std::mt19937 rng(5);
    for (auto& s : samples) s = edges[rng() % std::size(edges)];
    ForEachSimdTarget([&](const std::string& target) {
        for (bool upload : {true, false}) {
            std::vector<int16_t> first;
            for (int shift = 0; shift <= 8; ++shift) {
                const int w = content + shift;
                Rows in = upload ? HostRows(w, 1) : PackedRows(w, 1);
                for (int k = 0; k < 3 * shift; ++k) in.Row(0)[k] = 0;
                std::copy(samples.begin(), samples.end(), in.Row(0) + 3 * shift);
                Rows out = upload ? PackedRows(w, 1) : HostRows(w, 1);
                RunWorkers(upload ? UploadTransfer(in, out, w) : DownloadTransfer(in, out, w), upload, 1);
                std::vector<int16_t> got(out.Row(0) + 3 * shift, out.Row(0) + 3 * w);
                if (shift == 0) {
                    first = got;
                } else {
                    EXPECT_EQ(got, first) << target << (upload ? " upload" : " download") << " shift " << shift;
                }
            }
        }
    });
}

// Which rows worker i of n converts, seen from what it writes.
std::vector<int> RowsWrittenBy(int index, int count, int rows) {
    Rows host = HostRows(1, rows);
    FillRandom(host, 3, 1u, 0, 100);
    Rows packed = PackedRows(1, rows, 0);
    RowTransfer t = UploadTransfer(host, packed, 1);
    UploadWorker(index, count, &t, nullptr);
    std::vector<int> written;
    for (int r = 0; r < rows; ++r) {
        if (packed.Row(r)[0] != kUntouched) written.push_back(r);
    }
    return written;
}

TEST(RowWorkers, TwoRowsOnFourWorkers) {
    EXPECT_EQ(RowsWrittenBy(0, 4, 2), std::vector<int>{});
    EXPECT_EQ(RowsWrittenBy(1, 4, 2), std::vector<int>{0});
    EXPECT_EQ(RowsWrittenBy(2, 4, 2), std::vector<int>{});
    EXPECT_EQ(RowsWrittenBy(3, 4, 2), std::vector<int>{1});
}

TEST(RowWorkers, ThousandAndEightyRowsOnThreeWorkers) {
    for (int i = 0; i < 3; ++i) {
        const std::vector<int> rows = RowsWrittenBy(i, 3, 1080);
        ASSERT_EQ(rows.size(), 360u) << i;
        EXPECT_EQ(rows.front(), 360 * i);
        EXPECT_EQ(rows.back(), 360 * i + 359);
    }
}

TEST(RowWorkers, WorkersCoverEveryRowOnceForAnyCount) {
    for (int rows : {0, 1, 2, 3, 7, 1080, 1088}) {
        for (int n = 1; n <= 40; ++n) {
            int next = 0;
            for (int i = 0; i < n; ++i) {
                const transfer::RowRange r = transfer::WorkerRows(rows, i, n);
                EXPECT_EQ(r.first, next) << rows << " rows, worker " << i << " of " << n;
                EXPECT_GE(r.end, r.first);
                next = r.end;
            }
            EXPECT_EQ(next, rows) << rows << " rows on " << n;
        }
    }
    // Products beyond 32 bits still split evenly.
    const transfer::RowRange last = transfer::WorkerRows(1 << 30, 6, 7);
    EXPECT_EQ(last.end, 1 << 30);
    EXPECT_EQ(last.first, static_cast<int32_t>((int64_t{1} << 30) * 6 / 7));
}

TEST(RowWorkers, IndicesOutsideTheCountAndAMissingRecordConvertNothing) {
    EXPECT_TRUE(RowsWrittenBy(4, 4, 8).empty());
    EXPECT_TRUE(RowsWrittenBy(-1, 4, 8).empty());
    EXPECT_TRUE(RowsWrittenBy(0, 0, 8).empty());
    UploadWorker(0, 1, nullptr, nullptr);
    DownloadWorker(0, 1, nullptr, nullptr);
}

// One worker or many, one after another or at once on a pool, more workers than rows: the
// same bytes.
TEST(RowWorkers, AnyWorkerCountGivesTheSameFrame) {
    const int w = 37;
    const int rows = 5;
    Rows host = HostRows(w, rows);
    FillRandom(host, 3 * w, 9u);
    Rows single = PackedRows(w, rows);
    RunWorkers(UploadTransfer(host, single, w), true, 1);
    Rows singleBack = HostRows(w, rows);
    RunWorkers(DownloadTransfer(single, singleBack, w), false, 1);
    for (int n = 2; n <= 9; ++n) {
        Rows packed = PackedRows(w, rows);
        RunWorkers(UploadTransfer(host, packed, w), true, n);
        EXPECT_TRUE(packed == single) << n;
        WorkerPool pool(n);
        Rows pooled = PackedRows(w, rows);
        RowTransfer up = UploadTransfer(host, pooled, w);
        pool.RunOnEach([&](int i, int count) { UploadWorker(i, count, &up, nullptr); });
        EXPECT_TRUE(pooled == single) << n;
        Rows back = HostRows(w, rows);
        RowTransfer down = DownloadTransfer(pooled, back, w);
        pool.RunOnEach([&](int i, int count) { DownloadWorker(i, count, &down, nullptr); });
        EXPECT_TRUE(back == singleBack) << n;
    }
}

TEST(RowWorkers, UploadThenDownloadReturnsEverySampleInRange) {
    ForEachSimdTarget([&](const std::string& target) {
        for (int w : {1, 7, 8, 9, 1920}) {
            Rows host = HostRows(w, 2);
            std::mt19937 rng(w);
            for (int r = 0; r < 2; ++r)
                for (int k = 0; k < 3 * w; ++k)
                    host.Row(r)[k] =
                        static_cast<int16_t>(k % 3 == 0 ? rng() % 4097 : static_cast<int>(rng() % 4097) - 2048);
            Rows packed = PackedRows(w, 2);
            RunWorkers(UploadTransfer(host, packed, w), true, 2);
            Rows back = HostRows(w, 2);
            RunWorkers(DownloadTransfer(packed, back, w), false, 2);
            EXPECT_TRUE(back == host) << target << " width " << w;
        }
    });
}

}  // namespace
}  // namespace qv::test

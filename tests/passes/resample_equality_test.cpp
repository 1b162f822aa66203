// The optimised resampling programs against the reference, bit for bit: enlargements by 1.001,
// 1.5, 2, 3 and 7.3 and reductions by the same ratios and by 50 and 60, in each direction, on
// random and real images of odd sizes and one texel high or wide, and enlargements whose reads
// skip or repeat texels, on every SIMD target, with one worker, with bands in shuffled order
// and with a pool of workers; the guard bands around every output stay untouched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/worker_pool.h"
#include "passes/resample_setup.h"
#include "platform/d3d9/row_schedulers.h"

namespace qv::test::resample {
namespace {

struct Case {
    Pass pass;
    int length;  // input extent along the pass
    int size;    // output extent along the pass
    int across;  // extent across the pass
};

std::string Describe(const Case& c, const char* content) {
    return std::string(ProgramOf(c.pass)) + " " + std::to_string(c.length) + " to " + std::to_string(c.size) +
           " across " + std::to_string(c.across) + " (" + content + ")";
}

// Along the pass: ratios 1.001, 1.5, 2, 3, 7.3 up and down, 50 and 60 down, and the extremes
// of one texel in and one texel out; odd extents across, and one texel across.
std::vector<Case> Cases() {
    const int up[][2] = {{1000, 1001}, {37, 55}, {21, 42}, {13, 39}, {10, 73}, {1, 3}, {2, 9}};
    const int down[][2] = {{1001, 1000}, {55, 37}, {42, 21}, {39, 13}, {73, 10}, {500, 10}, {1920, 32}, {9, 1}};
    const int across[] = {1, 2, 7};
    std::vector<Case> cases;
    for (Pass p : {Pass::UpscaleH, Pass::UpscaleV}) {
        for (const auto& r : up)
            for (int a : across) cases.push_back(Case{p, r[0], r[1], a});
    }
    for (Pass p : {Pass::DownscaleH, Pass::DownscaleV}) {
        for (const auto& r : down)
            for (int a : across) cases.push_back(Case{p, r[0], r[1], a});
    }
    return cases;
}

Image RandomContent(const Case& c, uint32_t seed) {
    return IsHorizontal(c.pass) ? Image::Random(c.length, c.across, seed) : Image::Random(c.across, c.length, seed);
}

Image SampleContent(const Case& c, int offset) {
    return IsHorizontal(c.pass) ? Image::FromSample(c.length, c.across, offset, offset / 2)
                                : Image::FromSample(c.across, c.length, offset, offset / 2);
}

void ExpectOptimisedMatches(const Case& c, const PassSetup& setup, const char* content, WorkerPool& pool) {
    const Image reference = RunReference(ProgramOf(c.pass), setup);
    ASSERT_TRUE(reference.GuardsIntact()) << Describe(c, content);
    ForEachSimdTarget([&](const std::string& target) {
        gfx::SerialRowScheduler serial;
        gfx::ShuffledRowScheduler shuffled1(c.length * 31 + c.size, 1);
        gfx::ShuffledRowScheduler shuffled3(c.length * 17 + c.across, 3);
        gfx::PoolRowScheduler pooled(pool);
        const std::pair<gfx::RowScheduler*, const char*> schedulers[] = {
            {&serial, "serial"}, {&shuffled1, "shuffled 1-row bands"}, {&shuffled3, "shuffled 3-row bands"},
            {&pooled, "worker pool"}};
        for (const auto& [scheduler, name] : schedulers) {
            const Image optimised = RunOptimised(ProgramOf(c.pass), setup, *scheduler);
            std::string difference;
            EXPECT_TRUE(optimised.SameAs(reference, &difference))
                << Describe(c, content) << " on " << target << ", " << name << ": " << difference;
            EXPECT_TRUE(optimised.GuardsIntact()) << Describe(c, content) << " on " << target << ", " << name;
        }
    });
}

void ExpectOptimisedMatches(const Case& c, const Image& in, const char* content, WorkerPool& pool) {
    ExpectOptimisedMatches(c, SetupFor(c.pass, in, c.size), content, pool);
}

TEST(ResampleOptimised, MatchesReferenceOnRandomImages) {
    WorkerPool pool(3);
    uint32_t seed = 1;
    for (const Case& c : Cases()) ExpectOptimisedMatches(c, RandomContent(c, seed++), "random", pool);
}

TEST(ResampleOptimised, MatchesReferenceOnTheSampleClip) {
    WorkerPool pool(3);
    int offset = 0;
    for (const Case& c : Cases()) {
        ExpectOptimisedMatches(c, SampleContent(c, offset), "sample", pool);
        offset += 37;
    }
}

// Every extent from 1 to 40 along the pass (vector tails, odd 2x2 blocks, converted rows whose
// first whole vector starts off a vector boundary and is or is not followed by another) and
// across it (partial row groups of the horizontal passes, partial column vectors of the
// vertical ones).
TEST(ResampleOptimised, MatchesReferenceForEveryExtentUpTo40) {
    WorkerPool pool(2);
    uint32_t seed = 100;
    for (Pass p : {Pass::UpscaleH, Pass::UpscaleV, Pass::DownscaleH, Pass::DownscaleV}) {
        const bool up = p == Pass::UpscaleH || p == Pass::UpscaleV;
        for (int n = 1; n <= 40; ++n) {
            const Case along = up ? Case{p, (2 * n + 2) / 3, n, 5} : Case{p, n + n / 2 + 1, n, 5};
            const Case across = up ? Case{p, 13, 20, n} : Case{p, 20, 13, n};
            ExpectOptimisedMatches(along, RandomContent(along, seed++), "random", pool);
            ExpectOptimisedMatches(across, RandomContent(across, seed++), "random", pool);
        }
    }
}

// Texel reciprocals in the scale block that do not match the image: reads along the pass (and,
// for the horizontal pass, the range window's rows across it) skip or repeat texels, so the
// taps of neighbouring outputs are no longer runs of consecutive texels.
TEST(ResampleOptimised, MatchesReferenceWhenReadsSkipOrRepeatTexels) {
    WorkerPool pool(2);
    const Case widen{Pass::UpscaleH, 37, 70, 9};
    const Case heighten{Pass::UpscaleV, 37, 70, 9};
    uint32_t seed = 500;
    for (const float stretch : {0.7f, 1.8f}) {
        const Image wideIn = RandomContent(widen, seed++);
        PassSetup wide = SetupFor(widen.pass, wideIn, widen.size);
        wide.scale.srcTexSizeInverse = {stretch / 37.0f, stretch / 9.0f};
        ExpectOptimisedMatches(widen, wide, stretch < 1.0f ? "repeating reads" : "skipping reads", pool);

        const Image highIn = RandomContent(heighten, seed++);
        PassSetup high = SetupFor(heighten.pass, highIn, heighten.size);
        high.scale.tmpTexSizeInverse.y = stretch / 37.0f;
        ExpectOptimisedMatches(heighten, high, stretch < 1.0f ? "repeating reads" : "skipping reads", pool);
    }
}

// Both directions at once over a realistic crop: the four passes chained as the pass chain
// runs them for 1280x720 <-> 1920x1080, scaled down by 8 in each extent.
TEST(ResampleOptimised, MatchesReferenceOverAChainedResize) {
    WorkerPool pool(2);
    const Image source = Image::FromSample(160, 90, 100, 60);
    const Case widen{Pass::UpscaleH, 160, 240, 90};
    ExpectOptimisedMatches(widen, source, "sample 160x90 to 240 wide", pool);
    const Image wide = RunReference(ProgramOf(Pass::UpscaleH), SetupFor(Pass::UpscaleH, source, 240));
    ExpectOptimisedMatches(Case{Pass::UpscaleV, 90, 135, 240}, wide, "sample 240x90 to 135 high", pool);

    const Image big = Image::FromSample(240, 135, 20, 10);
    ExpectOptimisedMatches(Case{Pass::DownscaleH, 240, 160, 135}, big, "sample 240x135 to 160 wide", pool);
    const Image narrow = RunReference(ProgramOf(Pass::DownscaleH), SetupFor(Pass::DownscaleH, big, 160));
    ExpectOptimisedMatches(Case{Pass::DownscaleV, 135, 90, 160}, narrow, "sample 160x135 to 90 high", pool);
}

}  // namespace
}  // namespace qv::test::resample

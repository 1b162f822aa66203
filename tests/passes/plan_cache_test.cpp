// The resampling plans kept between draws: handed out again only for the same numbers, the same
// weight-table texels and the same sampler filters, made afresh on any change; and, at the level
// of the passes, draws of one thread in a row that differ in a single size each still match the
// reference.
#include "passes/plan_cache.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <span>
#include <utility>
#include <vector>

#include "passes/resample_setup.h"

namespace qv::test {
namespace {

using passes::PlanCache;
using passes::PlanKey;

struct Table {
    std::vector<float> texels = std::vector<float>(4 * 8, 0.25f);
    gfx::SamplerBinding Binding(gfx::Filter min = gfx::Filter::Point, gfx::Filter mag = gfx::Filter::Linear) const {
        gfx::SamplerBinding b;
        b.texture.bits = reinterpret_cast<const uint8_t*>(texels.data());
        b.texture.width = 8;
        b.texture.height = 1;
        b.texture.pitch = 8 * 16;
        b.texture.format = D3DFMT_A32B32G32R32F;
        b.state = gfx::SamplerState{min, mag};
        return b;
    }
};

// A cache whose plans count the makes that produced them.
struct Counted {
    PlanCache<int> cache;
    int makes = 0;
    int Get(const PlanKey& key, const gfx::SamplerBinding& table) {
        return cache.Get(key, table, [&] { return ++makes; });
    }
};

TEST(PlanCache, HandsOutTheKeptPlanOnlyWhileKeyTableAndFiltersAreTheSame) {
    Table table;
    Counted c;
    const auto key = [](float r, int n) { return PlanKey().Add(r).Add(n); };
    EXPECT_EQ(c.Get(key(1.5f, 10), table.Binding()), 1);
    EXPECT_EQ(c.Get(key(1.5f, 10), table.Binding()), 1);  // kept
    EXPECT_EQ(c.Get(key(1.5f, 11), table.Binding()), 2);  // another count
    EXPECT_EQ(c.Get(key(1.25f, 11), table.Binding()), 3);  // another ratio

    table.texels[4 * 5 + 2] = 0.5f;  // one table channel of one entry
    EXPECT_EQ(c.Get(key(1.25f, 11), table.Binding()), 4);
    EXPECT_EQ(c.Get(key(1.25f, 11), table.Binding()), 4);
    EXPECT_EQ(c.Get(key(1.25f, 11), table.Binding(gfx::Filter::Linear)), 5);  // another minifying filter
    EXPECT_EQ(c.makes, 5);
}

TEST(PlanCache, ComparesNumbersByTheirBits) {
    Table table;
    Counted c;
    EXPECT_EQ(c.Get(PlanKey().Add(0.0f), table.Binding()), 1);
    EXPECT_EQ(c.Get(PlanKey().Add(-0.0f), table.Binding()), 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(c.Get(PlanKey().Add(nan), table.Binding()), 3);
    EXPECT_EQ(c.Get(PlanKey().Add(nan), table.Binding()), 3);  // the same bits
    // The same words, one more of them.
    EXPECT_EQ(c.Get(PlanKey().Add(nan).Add(0), table.Binding()), 4);
}

TEST(PlanCache, AKeyLongerThanItHoldsIsNeverTakenForAnother) {
    Table table;
    Counted c;
    const auto longKey = [](int last) {
        PlanKey k;
        for (int i = 0; i < 20; ++i) k.Add(i);
        return k.Add(last);
    };
    EXPECT_EQ(c.Get(longKey(1), table.Binding()), 1);
    EXPECT_EQ(c.Get(longKey(2), table.Binding()), 2);
    EXPECT_EQ(c.Get(longKey(2), table.Binding()), 3);  // made afresh every time, never mixed up
}

TEST(PlanCache, AFailedMakeKeepsNothing) {
    Table table;
    PlanCache<int> cache;
    EXPECT_EQ(cache.Get(PlanKey().Add(1), table.Binding(), [] { return 7; }), 7);
    EXPECT_THROW(cache.Get(PlanKey().Add(2), table.Binding(), []() -> int { throw std::runtime_error("no memory"); }),
                 std::runtime_error);
    // Neither the plan of key 1 is handed out for key 2 nor is key 1's plan taken as still kept.
    EXPECT_EQ(cache.Get(PlanKey().Add(2), table.Binding(), [] { return 9; }), 9);
    EXPECT_EQ(cache.Get(PlanKey().Add(1), table.Binding(), [] { return 8; }), 8);
}

// Draws in a row on one thread, each differing from the one before in a single extent (of the
// input along or across the pass, or of the output), then back to the first: each must match
// the reference, so no plan made for one draw serves another.
TEST(PlanCache, ResamplingDrawsInARowEachMatchTheReference) {
    using resample::Pass;
    struct Step {
        int length, across, size;
    };
    const Step enlargements[] = {{40, 12, 61}, {40, 13, 61}, {41, 13, 61}, {41, 13, 62}, {40, 12, 61}};
    const Step reductions[] = {{61, 12, 40}, {61, 13, 40}, {62, 13, 40}, {62, 13, 41}, {61, 12, 40}};
    const std::pair<Pass, std::span<const Step>> runs[] = {{Pass::UpscaleH, enlargements},
                                                            {Pass::UpscaleV, enlargements},
                                                            {Pass::DownscaleH, reductions},
                                                            {Pass::DownscaleV, reductions}};
    for (const auto& [p, steps] : runs) {
        for (const Step& s : steps) {
            SCOPED_TRACE(testing::Message() << resample::ProgramOf(p) << " " << s.length << "x" << s.across << " -> "
                                            << s.size);
            const bool horizontal = resample::IsHorizontal(p);
            const Image input = Image::Random(horizontal ? s.length : s.across, horizontal ? s.across : s.length,
                                              11u * static_cast<uint32_t>(s.length + s.across));
            resample::RunBoth(p, input, s.size);
        }
    }
}

}  // namespace
}  // namespace qv::test

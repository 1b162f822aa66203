// The resampling programs' plans, kept between draws. A plan follows from the draw's constants
// and the weight table alone, and every frame of a video draws with the same ones, so each
// thread keeps the last plan it made for each program and hands it out again while its inputs
// are the same, bit for bit: later frames neither compute nor allocate one.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

// What a plan is computed from, besides the weight table: numbers compared by their bits, so a
// NaN matches only the same NaN and -0 never matches +0.
class PlanKey {
public:
    PlanKey& Add(float v) { return Add(std::bit_cast<uint32_t>(v)); }
    PlanKey& Add(int v) { return Add(static_cast<uint32_t>(v)); }
    PlanKey& Add(uint32_t v) {
        words_[count_ < kMaxWords ? count_ : kMaxWords - 1] = v;
        ++count_;
        return *this;
    }
    // A key given more numbers than it holds matches nothing, so the plan is made afresh.
    bool Matches(const PlanKey& other) const {
        return count_ <= kMaxWords && count_ == other.count_ && words_ == other.words_;
    }

private:
    static constexpr size_t kMaxWords = 12;
    std::array<uint32_t, kMaxWords> words_{};
    size_t count_ = 0;
};

template <class Plan>
class PlanCache {
public:
    // The plan `make()` gives for `key` and `table`: the kept one when the last was made for the
    // same key, the same sampler state and the same table texels.
    template <class Make>
    const Plan& Get(const PlanKey& key, const gfx::SamplerBinding& table, Make&& make) {
        if (!(kept_ && key.Matches(key_) && SameTable(table))) {
            kept_ = false;  // a throwing make() leaves nothing half kept
            plan_ = make();
            key_ = key;
            KeepTable(table);
            kept_ = true;
        }
        return plan_;
    }

private:
    static size_t RowBytes(const gfx::TextureView& t) {
        return static_cast<size_t>(t.width) * gfx::SampledTexelBytes(t.format);
    }

    bool SameTable(const gfx::SamplerBinding& table) const {
        const gfx::TextureView& t = table.texture;
        if (t.width != tableWidth_ || t.height != tableHeight_ || t.format != tableFormat_ ||
            table.state.minFilter != tableState_.minFilter || table.state.magFilter != tableState_.magFilter) {
            return false;
        }
        const size_t row = RowBytes(t);
        for (int y = 0; y < t.height; ++y) {
            if (std::memcmp(t.bits + y * t.pitch, texels_.data() + static_cast<size_t>(y) * row, row) != 0) return false;
        }
        return true;
    }

    void KeepTable(const gfx::SamplerBinding& table) {
        const gfx::TextureView& t = table.texture;
        const size_t row = RowBytes(t);
        texels_.resize(row * static_cast<size_t>(t.height));
        for (int y = 0; y < t.height; ++y) {
            std::memcpy(texels_.data() + static_cast<size_t>(y) * row, t.bits + y * t.pitch, row);
        }
        tableWidth_ = t.width;
        tableHeight_ = t.height;
        tableFormat_ = t.format;
        tableState_ = table.state;
    }

    bool kept_ = false;
    Plan plan_{};
    PlanKey key_;
    std::vector<uint8_t> texels_;  // the table's texels, row after row
    int tableWidth_ = 0;
    int tableHeight_ = 0;
    D3DFORMAT tableFormat_ = D3DFMT_UNKNOWN;
    gfx::SamplerState tableState_;
};

}  // namespace qv::passes

#include "yuv_converter.h"

#include <zimg.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::cli {

static_assert(std::endian::native == std::endian::little,
              "Y4M samples above 8 bits and host pixels are little-endian in memory");

namespace {

constexpr size_t kAlignment = 64;  // zimg's buffer and stride alignment

size_t AlignUp(size_t n) { return (n + kAlignment - 1) / kAlignment * kAlignment; }

int RoundUpToBlock(int n, int shift) { return ((n + (1 << shift) - 1) >> shift) << shift; }

[[noreturn]] void ThrowZimgError(const char* what) {
    char message[512] = {};
    zimg_get_last_error(message, sizeof(message));
    zimg_clear_last_error();
    throw std::runtime_error(std::string("colour conversion (") + what + "): " + message);
}

zimg_chroma_location_e Siting(Chroma chroma) {
    switch (chroma) {
        case Chroma::k420Mpeg2:
        case Chroma::k422:
            return ZIMG_CHROMA_LEFT;
        case Chroma::k420Paldv:
            return ZIMG_CHROMA_TOP_LEFT;
        case Chroma::k420Jpeg:
        case Chroma::k444:
        case Chroma::kMono:
            return ZIMG_CHROMA_CENTER;
    }
    return ZIMG_CHROMA_CENTER;
}

zimg_dither_type_e ZimgDither(Dither dither) {
    switch (dither) {
        case Dither::kNone:
            return ZIMG_DITHER_NONE;
        case Dither::kOrdered:
            return ZIMG_DITHER_ORDERED;
        case Dither::kErrorDiffusion:
            return ZIMG_DITHER_ERROR_DIFFUSION;
    }
    return ZIMG_DITHER_NONE;
}

// The integer side of a conversion: the format's planes, padded to whole chroma blocks.
zimg_image_format IntegerFormat(const YuvFormat& f, unsigned paddedW, unsigned paddedH) {
    zimg_image_format z;
    zimg_image_format_default(&z, ZIMG_API_VERSION);
    z.width = paddedW;
    z.height = paddedH;
    z.pixel_type = f.depth > 8 ? ZIMG_PIXEL_WORD : ZIMG_PIXEL_BYTE;
    z.subsample_w = static_cast<unsigned>(ChromaShiftX(f.chroma));
    z.subsample_h = static_cast<unsigned>(ChromaShiftY(f.chroma));
    z.color_family = f.chroma == Chroma::kMono ? ZIMG_COLOR_GREY : ZIMG_COLOR_YUV;
    z.depth = static_cast<unsigned>(f.depth);
    z.pixel_range = f.fullRange ? ZIMG_RANGE_FULL : ZIMG_RANGE_LIMITED;
    z.chroma_location = Siting(f.chroma);
    z.field_parity = ZIMG_FIELD_PROGRESSIVE;
    return z;
}

// The host side: 4:4:4 float, luma 0..1 for nominal black..white, chroma -0.5..0.5. Matrix,
// transfer and primaries stay unspecified on both sides, so zimg converts depth and resamples
// chroma only.
zimg_image_format FloatFormat(const YuvFormat& f, unsigned paddedW, unsigned paddedH) {
    zimg_image_format z = IntegerFormat(f, paddedW, paddedH);
    z.pixel_type = ZIMG_PIXEL_FLOAT;
    z.subsample_w = 0;
    z.subsample_h = 0;
    z.depth = 32;
    return z;
}

}  // namespace

// Planes with zimg's alignment. Plane 0 is paddedW x paddedH; planes 1 and 2 are subsampled.
class AlignedPlanes {
public:
    AlignedPlanes(int planes, int width, int height, int shiftX, int shiftY, int bytesPerSample)
        : count_(planes) {
        for (int p = 0; p < planes; ++p) {
            width_[p] = p == 0 ? width : width >> shiftX;
            height_[p] = p == 0 ? height : height >> shiftY;
            stride_[p] = AlignUp(static_cast<size_t>(width_[p]) * static_cast<size_t>(bytesPerSample));
            const size_t bytes = stride_[p] * static_cast<size_t>(height_[p]);
            data_[p] = static_cast<uint8_t*>(std::aligned_alloc(kAlignment, std::max(bytes, kAlignment)));
            if (data_[p] == nullptr) throw std::bad_alloc();
        }
    }
    ~AlignedPlanes() {
        for (int p = 0; p < count_; ++p) std::free(data_[p]);
    }
    AlignedPlanes(const AlignedPlanes&) = delete;
    AlignedPlanes& operator=(const AlignedPlanes&) = delete;

    int Count() const { return count_; }
    int Width(int p) const { return width_[p]; }
    int Height(int p) const { return height_[p]; }
    size_t Stride(int p) const { return stride_[p]; }
    uint8_t* Row(int p, int y) { return data_[p] + stride_[p] * static_cast<size_t>(y); }
    template <typename T>
    T* RowAs(int p, int y) { return reinterpret_cast<T*>(Row(p, y)); }

    zimg_image_buffer_const ConstBuffer() const {
        zimg_image_buffer_const b{};
        b.version = ZIMG_API_VERSION;
        for (int p = 0; p < count_; ++p) {
            b.plane[p].data = data_[p];
            b.plane[p].stride = static_cast<ptrdiff_t>(stride_[p]);
            b.plane[p].mask = ZIMG_BUFFER_MAX;
        }
        return b;
    }
    zimg_image_buffer Buffer() {
        zimg_image_buffer b{};
        b.version = ZIMG_API_VERSION;
        for (int p = 0; p < count_; ++p) {
            b.plane[p].data = data_[p];
            b.plane[p].stride = static_cast<ptrdiff_t>(stride_[p]);
            b.plane[p].mask = ZIMG_BUFFER_MAX;
        }
        return b;
    }

private:
    int count_;
    int width_[3] = {};
    int height_[3] = {};
    size_t stride_[3] = {};
    uint8_t* data_[3] = {};
};

class ZimgGraph {
public:
    ZimgGraph(const zimg_image_format& src, const zimg_image_format& dst, Dither dither) {
        zimg_graph_builder_params params;
        zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
        params.dither_type = ZimgDither(dither);
        // Chroma up- and down-sampling with Spline36, the filter's own family: sharp, and a 4:2:0
        // clip that passes through unchanged comes back within a step or so (bilinear blurs the
        // chroma by several steps per round trip).
        params.resample_filter_uv = ZIMG_RESIZE_SPLINE36;
        graph_ = zimg_filter_graph_build(&src, &dst, &params);
        if (graph_ == nullptr) ThrowZimgError("building the graph");
        size_t tmp = 0;
        if (zimg_filter_graph_get_tmp_size(graph_, &tmp) != ZIMG_ERROR_SUCCESS) {
            zimg_filter_graph_free(graph_);
            ThrowZimgError("sizing its buffer");
        }
        tmp_ = static_cast<uint8_t*>(std::aligned_alloc(kAlignment, AlignUp(std::max<size_t>(tmp, 1))));
        if (tmp_ == nullptr) {
            zimg_filter_graph_free(graph_);
            throw std::bad_alloc();
        }
    }
    ~ZimgGraph() {
        zimg_filter_graph_free(graph_);
        std::free(tmp_);
    }
    ZimgGraph(const ZimgGraph&) = delete;
    ZimgGraph& operator=(const ZimgGraph&) = delete;

    void Process(const AlignedPlanes& src, AlignedPlanes& dst) {
        const zimg_image_buffer_const in = src.ConstBuffer();
        const zimg_image_buffer out = dst.Buffer();
        if (zimg_filter_graph_process(graph_, &in, &out, tmp_, nullptr, nullptr, nullptr, nullptr) !=
            ZIMG_ERROR_SUCCESS) {
            ThrowZimgError("converting a frame");
        }
    }

private:
    zimg_filter_graph* graph_ = nullptr;
    uint8_t* tmp_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// YUV -> host

YuvToHost::YuvToHost(const YuvFormat& format) : format_(format) {
    const int sx = ChromaShiftX(format.chroma);
    const int sy = ChromaShiftY(format.chroma);
    const int pw = RoundUpToBlock(format.width, sx);
    const int ph = RoundUpToBlock(format.height, sy);
    const int planes = PlaneCount(format.chroma);
    source_ = std::make_unique<AlignedPlanes>(planes, pw, ph, sx, sy, BytesPerSample(format.depth));
    floats_ = std::make_unique<AlignedPlanes>(planes, pw, ph, 0, 0, static_cast<int>(sizeof(float)));
    graph_ = std::make_unique<ZimgGraph>(IntegerFormat(format, static_cast<unsigned>(pw), static_cast<unsigned>(ph)),
                                         FloatFormat(format, static_cast<unsigned>(pw), static_cast<unsigned>(ph)),
                                         Dither::kNone);
}

YuvToHost::~YuvToHost() = default;

void YuvToHost::Convert(const uint8_t* frame, YcPixel* dst) {
    const int bytes = BytesPerSample(format_.depth);
    // Copy each plane into its aligned, padded buffer; a luma plane of odd size repeats its last
    // column and row so that every chroma sample has its full block.
    for (int p = 0; p < source_->Count(); ++p) {
        const int w = PlaneWidth(format_, p);
        const int h = PlaneHeight(format_, p);
        const size_t rowBytes = static_cast<size_t>(w) * static_cast<size_t>(bytes);
        for (int y = 0; y < source_->Height(p); ++y) {
            uint8_t* row = source_->Row(p, y);
            const int from = std::min(y, h - 1);
            std::memcpy(row, frame + rowBytes * static_cast<size_t>(from), rowBytes);
            for (int x = w; x < source_->Width(p); ++x) {
                std::memcpy(row + static_cast<size_t>(x) * bytes, row + static_cast<size_t>(w - 1) * bytes,
                            static_cast<size_t>(bytes));
            }
        }
        frame += PlaneBytes(format_, p);
    }
    graph_->Process(*source_, *floats_);
    const bool mono = format_.chroma == Chroma::kMono;
    for (int y = 0; y < format_.height; ++y) {
        const float* ys = floats_->RowAs<float>(0, y);
        const float* cbs = mono ? nullptr : floats_->RowAs<float>(1, y);
        const float* crs = mono ? nullptr : floats_->RowAs<float>(2, y);
        FloatPlanesToHostRow(ys, cbs, crs, dst + static_cast<size_t>(y) * static_cast<size_t>(format_.width),
                             format_.width);
    }
}

// ---------------------------------------------------------------------------------------------
// host -> YUV

HostToYuv::HostToYuv(const YuvFormat& format, Dither dither) : format_(format) {
    const int sx = ChromaShiftX(format.chroma);
    const int sy = ChromaShiftY(format.chroma);
    const int pw = RoundUpToBlock(format.width, sx);
    const int ph = RoundUpToBlock(format.height, sy);
    const int planes = PlaneCount(format.chroma);
    floats_ = std::make_unique<AlignedPlanes>(planes, pw, ph, 0, 0, static_cast<int>(sizeof(float)));
    target_ = std::make_unique<AlignedPlanes>(planes, pw, ph, sx, sy, BytesPerSample(format.depth));
    graph_ = std::make_unique<ZimgGraph>(FloatFormat(format, static_cast<unsigned>(pw), static_cast<unsigned>(ph)),
                                         IntegerFormat(format, static_cast<unsigned>(pw), static_cast<unsigned>(ph)),
                                         dither);
}

HostToYuv::~HostToYuv() = default;

void HostToYuv::Convert(const YcPixel* src, ptrdiff_t pitchSamples, uint8_t* frame) {
    const bool mono = format_.chroma == Chroma::kMono;
    for (int y = 0; y < floats_->Height(0); ++y) {
        const int from = std::min(y, format_.height - 1);
        const auto* row = reinterpret_cast<const YcPixel*>(reinterpret_cast<const int16_t*>(src) +
                                                           pitchSamples * from);
        float* ys = floats_->RowAs<float>(0, y);
        float* cbs = mono ? nullptr : floats_->RowAs<float>(1, y);
        float* crs = mono ? nullptr : floats_->RowAs<float>(2, y);
        HostRowToFloatPlanes(row, ys, cbs, crs, format_.width);
        // Columns padded to a whole chroma block repeat the last pixel.
        for (int x = format_.width; x < floats_->Width(0); ++x) {
            ys[x] = ys[format_.width - 1];
            if (!mono) {
                cbs[x] = cbs[format_.width - 1];
                crs[x] = crs[format_.width - 1];
            }
        }
    }
    graph_->Process(*floats_, *target_);
    const int bytes = BytesPerSample(format_.depth);
    for (int p = 0; p < target_->Count(); ++p) {
        const size_t rowBytes = static_cast<size_t>(PlaneWidth(format_, p)) * static_cast<size_t>(bytes);
        for (int y = 0; y < PlaneHeight(format_, p); ++y) {
            std::memcpy(frame + rowBytes * static_cast<size_t>(y), target_->Row(p, y), rowBytes);
        }
        frame += PlaneBytes(format_, p);
    }
}

}  // namespace qv::cli

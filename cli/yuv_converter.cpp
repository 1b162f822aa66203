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

#include "aligned_frame.h"

namespace qv::cli {

static_assert(std::endian::native == std::endian::little,
              "Y4M samples above 8 bits and host pixels are little-endian in memory");

namespace {

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

// The frame's own planes, when zimg can read or write them in place: an aligned frame whose rows
// are whole multiples of the alignment and whose size is whole chroma blocks (no padding).
template <typename Buffer, typename Byte>
bool PlanesInPlace(const YuvFormat& f, Byte* frame, Buffer* planes) {
    if (reinterpret_cast<uintptr_t>(frame) % kZimgAlignment != 0) return false;
    if (f.width % (1 << ChromaShiftX(f.chroma)) != 0 || f.height % (1 << ChromaShiftY(f.chroma)) != 0) return false;
    *planes = Buffer{};
    planes->version = ZIMG_API_VERSION;
    for (int p = 0; p < PlaneCount(f.chroma); ++p) {
        const size_t rowBytes = static_cast<size_t>(PlaneWidth(f, p)) * static_cast<size_t>(BytesPerSample(f.depth));
        if (rowBytes % kZimgAlignment != 0) return false;
        planes->plane[p].data = frame;
        planes->plane[p].stride = static_cast<ptrdiff_t>(rowBytes);
        planes->plane[p].mask = ZIMG_BUFFER_MAX;
        frame += PlaneBytes(f, p);
    }
    return true;
}

}  // namespace

// A few rows of each plane, as zimg reads its input and writes its output through the I/O
// callbacks: row r of a plane lies at row (r & mask). The whole frame never exists at float
// precision, so the rows stay in cache between zimg and the host's own conversions.
class RowRing {
public:
    // lines: zimg's buffering in luma rows; planes 1 and 2 hold lines >> shiftY rows.
    RowRing(int planes, int width, int height, int shiftX, int shiftY, int bytesPerSample, unsigned lines)
        : count_(planes) {
        const unsigned mask = zimg_select_buffer_mask(lines);
        const bool whole = mask == ZIMG_BUFFER_MAX;
        for (int p = 0; p < planes; ++p) {
            const int sx = p == 0 ? 0 : shiftX;
            const int sy = p == 0 ? 0 : shiftY;
            const int rows = whole ? height >> sy : static_cast<int>((mask + 1) >> sy);
            if (rows < 1) throw std::logic_error("colour conversion: a row buffer smaller than a chroma block");
            mask_[p] = whole ? ZIMG_BUFFER_MAX : mask >> sy;
            stride_[p] = AlignUp(static_cast<size_t>(width >> sx) * static_cast<size_t>(bytesPerSample));
            const size_t bytes = stride_[p] * static_cast<size_t>(rows);
            data_[p] = static_cast<uint8_t*>(std::aligned_alloc(kZimgAlignment, std::max(bytes, kZimgAlignment)));
            if (data_[p] == nullptr) {
                Free();
                throw std::bad_alloc();
            }
        }
    }
    ~RowRing() { Free(); }
    RowRing(const RowRing&) = delete;
    RowRing& operator=(const RowRing&) = delete;

    uint8_t* Row(int p, unsigned y) { return data_[p] + stride_[p] * static_cast<size_t>(y & mask_[p]); }
    template <typename T>
    T* RowAs(int p, unsigned y) { return reinterpret_cast<T*>(Row(p, y)); }

    zimg_image_buffer_const ConstBuffer() const { return Described<zimg_image_buffer_const>(); }
    zimg_image_buffer Buffer() { return Described<zimg_image_buffer>(); }

private:
    // The ring's planes as zimg's buffer description (read-only or writable).
    template <typename Buffer>
    Buffer Described() const {
        Buffer b{};
        b.version = ZIMG_API_VERSION;
        for (int p = 0; p < count_; ++p) {
            b.plane[p].data = data_[p];
            b.plane[p].stride = static_cast<ptrdiff_t>(stride_[p]);
            b.plane[p].mask = mask_[p];
        }
        return b;
    }

    void Free() {
        for (uint8_t*& d : data_) {
            std::free(d);
            d = nullptr;
        }
    }

    int count_;
    unsigned mask_[3] = {};
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
        if (zimg_filter_graph_get_tmp_size(graph_, &tmp) != ZIMG_ERROR_SUCCESS ||
            zimg_filter_graph_get_input_buffering(graph_, &inputLines_) != ZIMG_ERROR_SUCCESS ||
            zimg_filter_graph_get_output_buffering(graph_, &outputLines_) != ZIMG_ERROR_SUCCESS) {
            zimg_filter_graph_free(graph_);
            ThrowZimgError("sizing its buffers");
        }
        tmp_ = static_cast<uint8_t*>(std::aligned_alloc(kZimgAlignment, AlignUp(std::max<size_t>(tmp, 1))));
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

    unsigned InputLines() const { return inputLines_; }
    unsigned OutputLines() const { return outputLines_; }

    // What zimg calls for each chroma block row i and luma columns [left, right): before it
    // reads the input rows (unpack), after it has written the output rows (pack). None: the
    // frame itself is read or written in place.
    struct Rows {
        zimg_filter_graph_callback call = nullptr;
        void* user = nullptr;
    };
    template <typename F>
    static Rows Through(const F& f) {
        return Rows{[](void* user, unsigned i, unsigned left, unsigned right) {
                        (*static_cast<const F*>(user))(i, left, right);
                        return 0;
                    },
                    const_cast<void*>(static_cast<const void*>(&f))};
    }

    void Process(const zimg_image_buffer_const& in, const zimg_image_buffer& out, Rows unpack, Rows pack) {
        if (zimg_filter_graph_process(graph_, &in, &out, tmp_, unpack.call, unpack.user, pack.call, pack.user) !=
            ZIMG_ERROR_SUCCESS) {
            ThrowZimgError("converting a frame");
        }
    }

private:

    zimg_filter_graph* graph_ = nullptr;
    uint8_t* tmp_ = nullptr;
    unsigned inputLines_ = 0;
    unsigned outputLines_ = 0;
};

// ---------------------------------------------------------------------------------------------
// YUV -> host

YuvToHost::YuvToHost(const YuvFormat& format) : format_(format) {
    const int sx = ChromaShiftX(format.chroma);
    const int sy = ChromaShiftY(format.chroma);
    const int pw = RoundUpToBlock(format.width, sx);
    const int ph = RoundUpToBlock(format.height, sy);
    const int planes = PlaneCount(format.chroma);
    graph_ = std::make_unique<ZimgGraph>(IntegerFormat(format, static_cast<unsigned>(pw), static_cast<unsigned>(ph)),
                                         FloatFormat(format, static_cast<unsigned>(pw), static_cast<unsigned>(ph)),
                                         Dither::kNone);
    source_ = std::make_unique<RowRing>(planes, pw, ph, sx, sy, BytesPerSample(format.depth), graph_->InputLines());
    floats_ = std::make_unique<RowRing>(planes, pw, ph, 0, 0, static_cast<int>(sizeof(float)), graph_->OutputLines());
}

YuvToHost::~YuvToHost() = default;

void YuvToHost::Convert(const uint8_t* frame, YcPixel* dst) {
    const int bytes = BytesPerSample(format_.depth);
    const int planes = PlaneCount(format_.chroma);
    const int sx = ChromaShiftX(format_.chroma);
    const int sy = ChromaShiftY(format_.chroma);
    const uint8_t* plane[3] = {};
    for (int p = 0; p < planes; ++p) {
        plane[p] = frame;
        frame += PlaneBytes(format_, p);
    }
    // A luma plane of odd size repeats its last column and row so that every chroma sample has
    // its full block; the chroma planes already have one sample per block.
    const auto unpack = [&](unsigned i, unsigned left, unsigned right) {
        for (int p = 0; p < planes; ++p) {
            const int w = PlaneWidth(format_, p);
            const int h = PlaneHeight(format_, p);
            const unsigned shiftX = p == 0 ? 0 : static_cast<unsigned>(sx);
            const unsigned first = p == 0 ? i : i >> sy;
            const unsigned rows = p == 0 ? 1u << sy : 1u;
            const unsigned l = left >> shiftX;
            const unsigned r = (right + (1u << shiftX) - 1) >> shiftX;
            const unsigned copied = std::min(r, static_cast<unsigned>(w));
            const size_t rowBytes = static_cast<size_t>(w) * static_cast<size_t>(bytes);
            for (unsigned y = first; y < first + rows; ++y) {
                uint8_t* row = source_->Row(p, y);
                const uint8_t* from = plane[p] + rowBytes * std::min<size_t>(y, static_cast<size_t>(h - 1));
                if (l < copied) {
                    std::memcpy(row + static_cast<size_t>(l) * bytes, from + static_cast<size_t>(l) * bytes,
                                static_cast<size_t>(copied - l) * bytes);
                }
                for (unsigned x = std::max(l, copied); x < r; ++x) {
                    std::memcpy(row + static_cast<size_t>(x) * bytes, from + static_cast<size_t>(w - 1) * bytes,
                                static_cast<size_t>(bytes));
                }
            }
        }
    };
    const bool mono = format_.chroma == Chroma::kMono;
    const auto pack = [&](unsigned y, unsigned left, unsigned right) {
        const unsigned w = static_cast<unsigned>(format_.width);
        if (y >= static_cast<unsigned>(format_.height) || left >= w) return;
        const int count = static_cast<int>(std::min(right, w) - left);
        const float* ys = floats_->RowAs<float>(0, y) + left;
        const float* cbs = mono ? nullptr : floats_->RowAs<float>(1, y) + left;
        const float* crs = mono ? nullptr : floats_->RowAs<float>(2, y) + left;
        FloatPlanesToHostRow(ys, cbs, crs, dst + static_cast<size_t>(y) * w + left, count);
    };
    zimg_image_buffer_const inPlace;
    if (PlanesInPlace(format_, plane[0], &inPlace)) {
        graph_->Process(inPlace, floats_->Buffer(), {}, ZimgGraph::Through(pack));
    } else {
        graph_->Process(source_->ConstBuffer(), floats_->Buffer(), ZimgGraph::Through(unpack),
                        ZimgGraph::Through(pack));
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
    graph_ = std::make_unique<ZimgGraph>(FloatFormat(format, static_cast<unsigned>(pw), static_cast<unsigned>(ph)),
                                         IntegerFormat(format, static_cast<unsigned>(pw), static_cast<unsigned>(ph)),
                                         dither);
    floats_ = std::make_unique<RowRing>(planes, pw, ph, 0, 0, static_cast<int>(sizeof(float)), graph_->InputLines());
    target_ = std::make_unique<RowRing>(planes, pw, ph, sx, sy, BytesPerSample(format.depth), graph_->OutputLines());
}

HostToYuv::~HostToYuv() = default;

void HostToYuv::Convert(const YcPixel* src, ptrdiff_t pitchSamples, uint8_t* frame) {
    const bool mono = format_.chroma == Chroma::kMono;
    const unsigned w = static_cast<unsigned>(format_.width);
    // Rows and columns padded to a whole chroma block repeat the last row and pixel.
    const auto unpack = [&](unsigned i, unsigned left, unsigned right) {
        const unsigned from = std::min(i, static_cast<unsigned>(format_.height - 1));
        const auto* row = reinterpret_cast<const YcPixel*>(reinterpret_cast<const int16_t*>(src) +
                                                           pitchSamples * static_cast<ptrdiff_t>(from));
        float* ys = floats_->RowAs<float>(0, i);
        float* cbs = mono ? nullptr : floats_->RowAs<float>(1, i);
        float* crs = mono ? nullptr : floats_->RowAs<float>(2, i);
        if (left < w) {
            HostRowToFloatPlanes(row + left, ys + left, cbs ? cbs + left : nullptr, crs ? crs + left : nullptr,
                                 static_cast<int>(std::min(right, w) - left));
        }
        const YcPixel last = row[w - 1];
        for (unsigned x = std::max(left, w); x < right; ++x) {
            ys[x] = FromHostSample(last.y);
            if (!mono) {
                cbs[x] = FromHostSample(last.cb);
                crs[x] = FromHostSample(last.cr);
            }
        }
    };
    const int bytes = BytesPerSample(format_.depth);
    const int planes = PlaneCount(format_.chroma);
    const int sx = ChromaShiftX(format_.chroma);
    const int sy = ChromaShiftY(format_.chroma);
    uint8_t* plane[3] = {};
    for (int p = 0; p < planes; ++p) {
        plane[p] = frame;
        frame += PlaneBytes(format_, p);
    }
    const auto pack = [&](unsigned i, unsigned left, unsigned right) {
        for (int p = 0; p < planes; ++p) {
            const unsigned pw = static_cast<unsigned>(PlaneWidth(format_, p));
            const unsigned ph = static_cast<unsigned>(PlaneHeight(format_, p));
            const unsigned shiftX = p == 0 ? 0 : static_cast<unsigned>(sx);
            const unsigned first = p == 0 ? i : i >> sy;
            const unsigned last = std::min(p == 0 ? i + (1u << sy) : first + 1, ph);
            const unsigned l = left >> shiftX;
            const unsigned r = std::min((right + (1u << shiftX) - 1) >> shiftX, pw);
            if (l >= r) continue;
            const size_t rowBytes = static_cast<size_t>(pw) * static_cast<size_t>(bytes);
            for (unsigned y = first; y < last; ++y) {
                std::memcpy(plane[p] + rowBytes * y + static_cast<size_t>(l) * bytes,
                            target_->Row(p, y) + static_cast<size_t>(l) * bytes, static_cast<size_t>(r - l) * bytes);
            }
        }
    };
    zimg_image_buffer inPlace;
    if (PlanesInPlace(format_, plane[0], &inPlace)) {
        graph_->Process(floats_->ConstBuffer(), inPlace, ZimgGraph::Through(unpack), {});
    } else {
        graph_->Process(floats_->ConstBuffer(), target_->Buffer(), ZimgGraph::Through(unpack),
                        ZimgGraph::Through(pack));
    }
}

}  // namespace qv::cli

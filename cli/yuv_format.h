// Planar YUV layouts the host reads and writes: chroma subsampling with its siting, bit depth,
// range, and where each plane lies in a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::cli {

// Chroma layouts of YUV4MPEG2. The 4:2:0 variants differ only in where the chroma samples sit.
enum class Chroma {
    k420Jpeg,   // centred between the four luma samples
    k420Mpeg2,  // left column, vertically centred
    k420Paldv,  // top-left luma sample
    k422,       // horizontally halved, co-sited with the left luma column
    k444,
    kMono,      // luma only; the host's chroma is zero
};

// Largest frame side the host reads or writes at all; the filter's own limit is smaller.
inline constexpr int kMaxFrameSide = 16384;
inline constexpr int kMinDepth = 8;
inline constexpr int kMaxDepth = 16;

struct YuvFormat {
    int width = 0;
    int height = 0;
    Chroma chroma = Chroma::k420Jpeg;
    int depth = 8;
    bool fullRange = false;  // 0..2^depth-1 instead of 16..235 / 16..240 scaled
};

int PlaneCount(Chroma chroma);
int ChromaShiftX(Chroma chroma);  // log2 of the horizontal subsampling
int ChromaShiftY(Chroma chroma);
int PlaneWidth(const YuvFormat& format, int plane);
int PlaneHeight(const YuvFormat& format, int plane);
int BytesPerSample(int depth);
size_t PlaneBytes(const YuvFormat& format, int plane);
size_t FrameBytes(const YuvFormat& format);

// Names accepted by --output-chroma: 420jpeg, 420mpeg2, 420paldv, 420 (= 420jpeg), 422, 444,
// mono.
std::optional<Chroma> ParseChromaName(std::string_view name);
const char* ChromaName(Chroma chroma);
// Human-readable, for messages and the run's banner: "4:2:0", "mono".
const char* ChromaLabel(Chroma chroma);

// The YUV4MPEG2 colour-space tag value (after "C"): 420jpeg, 420mpeg2, 420paldv, 420, 422, 444,
// mono, with a depth suffix above 8 bits (420p10, 422p12, 444p16, mono10). The 4:2:0 depth
// forms carry no siting and read as centred chroma, like plain 420.
bool ParseY4mColourTag(std::string_view tag, Chroma* chroma, int* depth);
std::string Y4mColourTag(Chroma chroma, int depth);

}  // namespace qv::cli

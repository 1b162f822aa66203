// Names of the pixel programs the effect's passes run; the effect source names the same.
#pragma once

namespace qv::passes {

inline constexpr const char* kUnpackProgram = "unpack";          // p0
inline constexpr const char* kDenoiseProgram = "denoise";        // p1
inline constexpr const char* kUpscaleHProgram = "upscale_h";     // p2
inline constexpr const char* kUpscaleVProgram = "upscale_v";     // p3
inline constexpr const char* kUsmBlurProgram = "usm_blur";       // p4
inline constexpr const char* kUsmLimitProgram = "usm_limit";     // p5
inline constexpr const char* kRecoveryProgram = "recovery";      // p6
inline constexpr const char* kMaskBlurHProgram = "mask_blur_h";  // p7
inline constexpr const char* kMaskBlurVProgram = "mask_blur_v";  // p8
inline constexpr const char* kWarpHProgram = "warp_h";           // p9
inline constexpr const char* kWarpVProgram = "warp_v";           // p10
inline constexpr const char* kDownscaleHProgram = "downscale_h"; // p11
inline constexpr const char* kDownscaleVProgram = "downscale_v"; // p12
inline constexpr const char* kPackProgram = "pack";              // p13

// Registers a program from a pass's source file at load time, with the samplers it reads:
//   QV_REGISTER_PIXEL_PROGRAM(kUnpackProgram, UnpackReference, UnpackOptimised,
//                             gfx::Samplers(kPackedSampler));
#define QV_REGISTER_PIXEL_PROGRAM(name, reference, optimised, samplers)                                \
    static const bool qv_registered_##reference = [] {                                                 \
        ::qv::gfx::RegisterPixelProgram(::qv::gfx::PixelProgram{name, reference, optimised, samplers}); \
        return true;                                                                                   \
    }()

}  // namespace qv::passes

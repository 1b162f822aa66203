// The effect source as carried in the module (resource "QUILLERVANTIS_EFFECT", raw data).
#pragma once

namespace qv::effect {

inline constexpr const char* kEffectResourceName = "QUILLERVANTIS_EFFECT";

const unsigned char* EffectSourceBytes();
unsigned EffectSourceSize();

}  // namespace qv::effect

# Writes the effect source as a byte array and registers it in the module's resource table.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" len)
math(EXPR size "${len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUTPUT} "// Generated from the effect source; do not edit.\n"
  "#include \"effect/effect_resource.h\"\n"
  "namespace qv::effect {\n"
  "static const unsigned char kEffectBytes[${size}] = {${bytes}};\n"
  "const unsigned char* EffectSourceBytes() { return kEffectBytes; }\n"
  "unsigned EffectSourceSize() { return ${size}u; }\n"
  "}  // namespace qv::effect\n")

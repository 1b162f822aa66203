// The filter's effect: eleven texture slots, each read through its own sampler, the three
// constant blocks the processor side sets whole, and the technique of fourteen passes. Every
// sampler clamps at the image's edge; the image samplers read whole texels, and the weight
// table Tex11 is point-sampled when minified and interpolated when magnified.

texture Tex;
sampler s1 {
    Texture = Tex;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex2;
sampler s2 {
    Texture = Tex2;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex3;
sampler s3 {
    Texture = Tex3;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex4;
sampler s4 {
    Texture = Tex4;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex5;
sampler s5 {
    Texture = Tex5;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex6;
sampler s6 {
    Texture = Tex6;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex7;
sampler s7 {
    Texture = Tex7;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex8;
sampler s8 {
    Texture = Tex8;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex9;
sampler s9 {
    Texture = Tex9;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex10;
sampler s10 {
    Texture = Tex10;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
}

texture Tex11;
sampler s11 {
    Texture = Tex11;
    AddressU = CLAMP;
    AddressV = CLAMP;
    MinFilter = POINT;
    MagFilter = LINEAR;
    MipFilter = NONE;
}

// Slider strengths, the denoise weight and the downscale tap counts.
struct params {
    float usm;
    float max;
    float min;
    float denoise;
    float recovery;
    float sharp;
    float H2;
    int radius;
    int htap;
    int vtap;
    int htap2;
    int vtap2;
}

// Scale ratios and the reciprocal sizes of the working textures.
struct scale {
    float hscale;
    float vscale;
    float hscaleInverse;
    float vscaleInverse;
    float2 inputTexSizeInverse;
    float2 srcTexSizeInverse;
    float2 tmpTexSizeInverse;
    float2 tmpTex2SizeInverse;
    float2 workTexSizeInverse;
    float2 destTexSizeInverse;
}

// Halves of the 9-tap and the 7-tap Gaussian.
struct weight {
    float gw_r4[5];
    float gw_r3[4];
}

technique Quillervantis {
    pass p0 { VertexShader = NULL; PixelShader = unpack; }
    pass p1 { VertexShader = NULL; PixelShader = denoise; }
    pass p2 { VertexShader = NULL; PixelShader = upscale_h; }
    pass p3 { VertexShader = NULL; PixelShader = upscale_v; }
    pass p4 { VertexShader = NULL; PixelShader = usm_blur; }
    pass p5 { VertexShader = NULL; PixelShader = usm_limit; }
    pass p6 { VertexShader = NULL; PixelShader = recovery; }
    pass p7 { VertexShader = NULL; PixelShader = mask_blur_h; }
    pass p8 { VertexShader = NULL; PixelShader = mask_blur_v; }
    pass p9 { VertexShader = NULL; PixelShader = warp_h; }
    pass p10 { VertexShader = NULL; PixelShader = warp_v; }
    pass p11 { VertexShader = NULL; PixelShader = downscale_h; }
    pass p12 { VertexShader = NULL; PixelShader = downscale_v; }
    pass p13 { VertexShader = NULL; PixelShader = pack; }
}

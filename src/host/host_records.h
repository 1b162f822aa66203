// Records exchanged with the host. The host is a 32-bit editor: on a 32-bit build every field
// below sits at the byte offset the host expects (checked at the end of this file). On 64-bit
// builds pointers widen, but the field order is unchanged, so a host built from this header
// and the module agree.
#pragma once

#include <cstdint>

namespace qv {

using WindowHandle = void*;
using ModuleHandle = void*;
using EditHandle = void*;

// Host native pixel: y 0..4096, cb and cr -2048..2048.
struct YcPixel {
    int16_t y;
    int16_t cb;
    int16_t cr;
};
static_assert(sizeof(YcPixel) == 6);

struct FilterInstance;
struct FrameRequest;

using ProcessCallback = int32_t (*)(FilterInstance*, FrameRequest*);
using InitCallback = int32_t (*)(FilterInstance*);
using ExitCallback = int32_t (*)(FilterInstance*);
using UpdateCallback = int32_t (*)(FilterInstance*, int32_t status);
using WindowMessageCallback = int32_t (*)(WindowHandle window, uint32_t message, uintptr_t wparam,
                                          intptr_t lparam, EditHandle edit, FilterInstance*);

// The static descriptor that GetFilterTable hands out: 35 fields of 32 bits on the host.
struct FilterDescriptor {
    int32_t flags;                       // +0
    int32_t windowX;                     // +4
    int32_t windowY;                     // +8
    const char* name;                    // +12
    int32_t sliderCount;                 // +16
    const char* const* sliderNames;      // +20
    int32_t* sliderDefaults;             // +24
    int32_t* sliderMinimums;             // +28
    int32_t* sliderMaximums;             // +32
    int32_t checkCount;                  // +36
    const char* const* checkNames;       // +40
    int32_t* checkDefaults;              // +44
    ProcessCallback process;             // +48
    InitCallback init;                   // +52
    ExitCallback exit;                   // +56
    UpdateCallback update;               // +60
    WindowMessageCallback windowMessage; // +64
    int32_t* sliderValues;               // +68
    int32_t* checkValues;                // +72
    void* extraData;                     // +76
    int32_t extraDataSize;               // +80
    const char* information;             // +84
    int32_t further[13];                 // +88 .. +136
};

struct HostServices;

// The host's per-filter record. The host builds it from the descriptor, so the layout is the
// descriptor's; the host fills the slider values, its services, the window and the module.
struct FilterInstance {
    int32_t flags;                     // +0
    int32_t reserved0[3];              // +4
    int32_t sliderCount;               // +16
    const char* const* sliderNames;    // +20
    int32_t* sliderDefaults;           // +24
    int32_t* sliderMinimums;           // +28
    int32_t* sliderMaximums;           // +32
    int32_t reserved1[3];              // +36
    void* callbacks[5];                // +48
    int32_t* sliderValues;             // +68
    void* reserved2[6];                // +72
    HostServices* services;            // +96
    WindowHandle window;               // +100
    ModuleHandle module;               // +104
    int32_t reserved3[8];              // +108
};

// One process call's frame. Valid during that call only.
struct FrameRequest {
    int32_t flags;          // +0
    YcPixel* editBuffer;    // +4
    YcPixel* tempBuffer;    // +8
    int32_t width;          // +12
    int32_t height;         // +16
    int32_t rowLength;      // +20 edit-buffer row length in pixels
    int32_t maxHeight;      // +24
    int32_t frame;          // +28
    int32_t frameCount;     // +32
    int32_t reserved0[6];   // +36
    EditHandle edit;        // +60
    int32_t reserved1[10];  // +64
};

struct HostSystemInfo {
    int32_t flags;          // +0
    const char* info;       // +4
    int32_t filterCount;    // +8
    int32_t minWidth;       // +12
    int32_t minHeight;      // +16
    int32_t maxWidth;       // +20
    int32_t maxHeight;      // +24
    int32_t reserved[16];   // +28
};

// Row pitch of the frames the host delivers through FetchSourceFrame: rows lie back to back,
// 3 x width samples apart, with no padding. Both the upload and the pass-through copy use it.
constexpr int32_t SourceRowSamples(int32_t width) { return 3 * width; }

using WorkerFunction = void (*)(int32_t threadIndex, int32_t threadCount, void* param1, void* param2);

// The host's service table; only the slots the filter uses are named.
struct HostServices {
    void* reserved0[5];                                                        // +0
    int32_t (*IsSaving)(EditHandle edit);                                      // +20
    void* reserved1[15];                                                       // +24
    int32_t (*RefreshFilterWindow)(FilterInstance* instance);                  // +84
    void* reserved2[3];                                                        // +88
    int32_t (*IsFilterActive)(FilterInstance* instance);                       // +100
    void* reserved3[14];                                                       // +104
    int32_t (*GetHostSystemInfo)(EditHandle edit, HostSystemInfo* info);       // +160
    void* reserved4[3];                                                        // +164
    int32_t (*SetSourceCacheSize)(FilterInstance* instance, int32_t width, int32_t height,
                                  int32_t frames, int32_t flags);              // +176
    void* reserved5[5];                                                        // +180
    // Returns source frame n as produced by the filters before this one. Rows lie back to back,
    // SourceRowSamples(width) samples apart. Either size pointer may be null.
    YcPixel* (*FetchSourceFrame)(FilterInstance* instance, EditHandle edit, int32_t frame,
                                 int32_t* width, int32_t* height);             // +200
    // Calls function(i, n, param1, param2) once on each of the host's n worker threads and
    // returns when all have returned.
    int32_t (*RunOnWorkerThreads)(WorkerFunction function, void* param1, void* param2); // +204
    void* reserved6[16];                                                       // +208
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(FilterDescriptor) == 35 * 4);
static_assert(__builtin_offsetof(FilterDescriptor, sliderValues) == 68);
static_assert(__builtin_offsetof(FilterDescriptor, information) == 84);
static_assert(__builtin_offsetof(FilterInstance, sliderValues) == 68);
static_assert(__builtin_offsetof(FilterInstance, services) == 96);
static_assert(__builtin_offsetof(FilterInstance, window) == 100);
static_assert(__builtin_offsetof(FilterInstance, module) == 104);
static_assert(__builtin_offsetof(FrameRequest, editBuffer) == 4);
static_assert(__builtin_offsetof(FrameRequest, width) == 12);
static_assert(__builtin_offsetof(FrameRequest, height) == 16);
static_assert(__builtin_offsetof(FrameRequest, rowLength) == 20);
static_assert(__builtin_offsetof(FrameRequest, frame) == 28);
static_assert(__builtin_offsetof(FrameRequest, frameCount) == 32);
static_assert(__builtin_offsetof(FrameRequest, edit) == 60);
static_assert(__builtin_offsetof(HostSystemInfo, minWidth) == 12);
static_assert(__builtin_offsetof(HostSystemInfo, minHeight) == 16);
static_assert(__builtin_offsetof(HostSystemInfo, maxWidth) == 20);
static_assert(__builtin_offsetof(HostSystemInfo, maxHeight) == 24);
static_assert(__builtin_offsetof(HostServices, IsSaving) == 20);
static_assert(__builtin_offsetof(HostServices, RefreshFilterWindow) == 84);
static_assert(__builtin_offsetof(HostServices, IsFilterActive) == 100);
static_assert(__builtin_offsetof(HostServices, GetHostSystemInfo) == 160);
static_assert(__builtin_offsetof(HostServices, SetSourceCacheSize) == 176);
static_assert(__builtin_offsetof(HostServices, FetchSourceFrame) == 200);
static_assert(__builtin_offsetof(HostServices, RunOnWorkerThreads) == 204);
#endif

}  // namespace qv

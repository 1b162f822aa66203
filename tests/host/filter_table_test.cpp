// The descriptor GetFilterTable hands the host, completed from the machine and the host's
// settings file.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "gpu/gpu_context.h"
#include "host/callbacks.h"
#include "host/filter_table.h"
#include "host/resize_list.h"
#include "host/sliders.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"

namespace {

using qv::FilterDescriptor;
using qv::host::kAdapter;
using qv::host::kSize;

class FilterTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        qv::d3d9::testing::ClearFaults();
        exe_ = ::testing::TempDir() + "qv_host_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        qv::win32::OverrideModuleFileName(exe_);
        qv::win32::SetMessageBoxHandler([this](HWND, const std::string& text, const std::string&, UINT) {
            boxes_.push_back(text);
            return IDOK;
        });
    }
    void TearDown() override {
        qv::win32::OverrideModuleFileName("");
        qv::win32::SetMessageBoxHandler(nullptr);
        qv::d3d9::testing::ClearFaults();
        std::remove((exe_ + ".ini").c_str());
        ReleaseDirect3D();
    }

    static void ReleaseDirect3D() {
        IDirect3D9* d3d = qv::gpu::Context().d3d;
        qv::gpu::Context().d3d = nullptr;
        if (d3d != nullptr) d3d->Release();
    }

    void WriteSettings(const std::string& content) {
        std::ofstream ini(exe_ + ".ini", std::ios::binary);
        ini << content;
    }

    // The descriptor as a fresh load of the module completes it.
    FilterDescriptor* Load() { return qv::host::ReloadFilterTable(); }

    std::string exe_;
    std::vector<std::string> boxes_;
};

std::vector<int32_t> Column(const int32_t* values) { return std::vector<int32_t>(values, values + 11); }

TEST_F(FilterTableTest, DescriptorHoldsTheFiltersNameSlidersAndCallbacks) {
    WriteSettings("[system]\nresizelist=1280x720,1920x1080\n");
    const FilterDescriptor* d = Load();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->flags, 0x40000);
    EXPECT_EQ(d->windowX, 0);
    EXPECT_EQ(d->windowY, 0);
    EXPECT_STREQ(d->name, "Quillervantis");
    ASSERT_EQ(d->sliderCount, 11);
    const std::vector<std::string> names(d->sliderNames, d->sliderNames + 11);
    EXPECT_EQ(names, (std::vector<std::string>{"size", "width", "height", "usm", "radius", "max", "min",
                                                "denoise", "recovery", "sharp", "adapter"}));
    EXPECT_EQ(Column(d->sliderDefaults), (std::vector<int32_t>{0, 1280, 720, 100, 15, 0, 100, 75, 75, 25, 0}));
    EXPECT_EQ(Column(d->sliderMinimums), (std::vector<int32_t>{0, 32, 32, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Column(d->sliderMaximums),
              (std::vector<int32_t>{1, 1920, 1080, 300, 30, 300, 300, 100, 100, 100,
                                    static_cast<int32_t>(qv::d3d9::kAdapterCount) - 1}));
    EXPECT_EQ(d->checkCount, 0);
    EXPECT_EQ(d->checkNames, nullptr);
    EXPECT_EQ(d->checkDefaults, nullptr);
    EXPECT_EQ(d->process, &qv::host::ProcessCallback);
    EXPECT_EQ(d->init, &qv::host::InitCallback);
    EXPECT_EQ(d->exit, &qv::host::ExitCallback);
    EXPECT_EQ(d->update, &qv::host::UpdateCallback);
    EXPECT_EQ(d->windowMessage, &qv::host::WindowMessageCallback);
    EXPECT_EQ(d->sliderValues, nullptr);
    EXPECT_EQ(d->checkValues, nullptr);
    EXPECT_EQ(d->extraData, nullptr);
    EXPECT_EQ(d->extraDataSize, 0);
    EXPECT_STREQ(d->information, "Quillervantis Ver.131215");
    for (int32_t field : d->further) EXPECT_EQ(field, 0);
}

TEST_F(FilterTableTest, PresetsComeFromTheSettingsFileBesideTheHost) {
    WriteSettings("[System]\nResizeList = 1280x720,1920x1080\n");
    const FilterDescriptor* d = Load();
    const qv::host::ResizeList& presets = qv::host::Presets();
    ASSERT_EQ(presets.count, 2);
    EXPECT_EQ(presets.widths[0], 1280);
    EXPECT_EQ(presets.heights[0], 720);
    EXPECT_EQ(presets.widths[1], 1920);
    EXPECT_EQ(presets.heights[1], 1080);
    EXPECT_EQ(d->sliderMaximums[kSize], 1);

    WriteSettings("[system]\nresizelist=640x480,800\n");
    EXPECT_EQ(Load()->sliderMaximums[kSize], 0);
    EXPECT_EQ(qv::host::Presets().count, 1);
}

TEST_F(FilterTableTest, TheHostsExtensionIsReplacedByIni) {
    exe_ += ".exe";
    qv::win32::OverrideModuleFileName(exe_);
    {
        std::ofstream right(exe_.substr(0, exe_.size() - 4) + ".ini");
        right << "[system]\nresizelist=320x240\n";
        std::ofstream wrong(exe_ + ".ini");
        wrong << "[system]\nresizelist=1x1,2x2\n";
    }
    Load();
    std::remove((exe_.substr(0, exe_.size() - 4) + ".ini").c_str());
    ASSERT_EQ(qv::host::Presets().count, 1);
    EXPECT_EQ(qv::host::Presets().widths[0], 320);
}

TEST_F(FilterTableTest, WithoutUsablePresetsTheSizeRangeIsEmpty) {
    for (const char* content : {"", "[system]\nresizelist=\n", "[system]\nother=1280x720\n",
                                "[display]\nresizelist=1280x720\n", "[system]\nresizelist=1280\n"}) {
        WriteSettings(content);
        const FilterDescriptor* d = Load();
        EXPECT_EQ(qv::host::Presets().count, 0) << content;
        EXPECT_EQ(d->sliderMaximums[kSize], -1) << content;
        EXPECT_EQ(qv::host::Presets().widths[0], 0) << content;
    }
    std::remove((exe_ + ".ini").c_str());
    EXPECT_EQ(Load()->sliderMaximums[kSize], -1) << "no settings file";
}

TEST_F(FilterTableTest, MoreThanTwentyPairsKeepTheFirstTwenty) {
    std::string list;
    for (int i = 1; i <= 24; ++i) list += std::to_string(i) + "x" + std::to_string(i) + ",";
    WriteSettings("[system]\nresizelist=" + list + "\n");
    EXPECT_EQ(Load()->sliderMaximums[kSize], 19);
    EXPECT_EQ(qv::host::Presets().count, 20);
    EXPECT_EQ(qv::host::Presets().widths[19], 20);
}

TEST_F(FilterTableTest, OnlyTheFirst255CharactersOfTheValueAreRead) {
    // 248 blanks and "640x480" make 255 characters; the pair after them is cut off.
    WriteSettings("[system]\nresizelist=\"" + std::string(248, ' ') + "640x480,800x600\"\n");
    EXPECT_EQ(Load()->sliderMaximums[kSize], 0);
    EXPECT_EQ(qv::host::Presets().heights[0], 480);
}

TEST_F(FilterTableTest, SizesBeyondInt32Saturate) {
    WriteSettings("[system]\nresizelist=4294967296x720\n");
    Load();
    ASSERT_EQ(qv::host::Presets().count, 1);
    EXPECT_EQ(qv::host::Presets().widths[0], INT32_MAX);
    EXPECT_EQ(qv::host::Presets().heights[0], 720);
}

TEST_F(FilterTableTest, TheAdapterRangeCountsTheAdaptersAndTheObjectIsHeld) {
    const FilterDescriptor* d = Load();
    IDirect3D9* d3d = qv::gpu::Context().d3d;
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d->sliderMaximums[kAdapter], static_cast<int32_t>(d3d->GetAdapterCount()) - 1);
    EXPECT_EQ(d3d->GetAdapterCount(), qv::d3d9::kAdapterCount);
}

TEST_F(FilterTableTest, ALaterLoadReleasesTheEarlierDirect3DObject) {
    Load();
    const size_t alive = qv::d3d9::testing::LiveObjectCount();
    Load();
    Load();
    EXPECT_EQ(qv::d3d9::testing::LiveObjectCount(), alive);
    ReleaseDirect3D();
    EXPECT_EQ(qv::d3d9::testing::LiveObjectCount(), alive - 1);
}

TEST_F(FilterTableTest, WithoutDirect3DTheAdapterRangeStaysAtZeroAndNothingIsShown) {
    Load();  // an adapter range of 0..1 first
    qv::d3d9::testing::FailDirect3DCreate(true);
    const size_t alive = qv::d3d9::testing::LiveObjectCount();
    const FilterDescriptor* d = Load();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(qv::gpu::Context().d3d, nullptr);
    EXPECT_EQ(qv::d3d9::testing::LiveObjectCount(), alive - 1) << "the earlier object was not released";
    EXPECT_EQ(d->sliderMinimums[kAdapter], 0);
    EXPECT_EQ(d->sliderMaximums[kAdapter], 0);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(FilterTableTest, GetFilterTableCompletesOnceAndThenOnlyHandsTheDescriptorOut) {
    WriteSettings("[system]\nresizelist=1280x720\n");
    FilterDescriptor* loaded = Load();
    IDirect3D9* d3d = qv::gpu::Context().d3d;
    WriteSettings("[system]\nresizelist=1x1,2x2,3x3\n");
    EXPECT_EQ(qv::host::GetFilterTable(), loaded);
    EXPECT_EQ(qv::gpu::Context().d3d, d3d) << "the held Direct3D object was replaced";
    EXPECT_EQ(qv::host::Presets().count, 1) << "the settings were read again";
}

// The module built for the host exports GetFilterTable and nothing of its inner names.
TEST(FilterModule, ExportsGetFilterTable) {
    // Loaded as the command-line host loads it: kept mapped after dlclose, since the module's
    // process-wide tables live for the life of the process.
    void* module = dlopen(QV_BINARY_DIR "/Quillervantis.auf", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(module, nullptr) << dlerror();
    using GetFilterTableFn = FilterDescriptor* (*)();
    const auto get = reinterpret_cast<GetFilterTableFn>(dlsym(module, "GetFilterTable"));
    ASSERT_NE(get, nullptr);
    const FilterDescriptor* d = get();
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->name, "Quillervantis");
    EXPECT_EQ(d->sliderCount, 11);
    EXPECT_NE(d, qv::host::GetFilterTable()) << "the module carries its own descriptor";
    EXPECT_EQ(dlsym(module, "_ZN2qv4host14GetFilterTableEv"), nullptr) << "an inner name is exported";
    EXPECT_EQ(dlsym(module, "FindResourceA"), nullptr) << "a stand-in name is exported";
    d->exit(nullptr);  // as a host does before unloading: releases what GetFilterTable created
    dlclose(module);
}

}  // namespace

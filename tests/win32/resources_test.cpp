// The module's resource table, with the effect registered at load.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "effect/effect_resource.h"
#include "platform/win32/win32.h"

namespace {

class ResourceTest : public ::testing::Test {
protected:
    void TearDown() override { qv::win32::ClearInjectedFailures(); }
};

TEST_F(ResourceTest, TheEffectIsInTheTableFromTheStart) {
    int module = 0;  // any module handle names the module's table
    HRSRC found = FindResourceA(&module, "QUILLERVANTIS_EFFECT", RT_RCDATA);
    ASSERT_NE(found, nullptr);
    HGLOBAL loaded = LoadResource(&module, found);
    ASSERT_NE(loaded, nullptr);
    const void* data = LockResource(loaded);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(SizeofResource(&module, found), qv::effect::EffectSourceSize());
    EXPECT_EQ(std::memcmp(data, qv::effect::EffectSourceBytes(), qv::effect::EffectSourceSize()), 0);
}

TEST_F(ResourceTest, NamesMatchWithoutRegardToCaseAndNumbersByValue) {
    EXPECT_NE(FindResourceA(nullptr, "quillervantis_effect", RT_RCDATA), nullptr);
    EXPECT_NE(FindResourceA(nullptr, "QUILLERVANTIS_EFFECT", "#10"), nullptr) << "\"#10\" is type 10";
    static const char kData[] = "numbered";
    qv::win32::RegisterResource(MAKEINTRESOURCEA(7), RT_RCDATA_ID, kData, sizeof kData);
    HRSRC byNumber = FindResourceA(nullptr, "#7", RT_RCDATA);
    ASSERT_NE(byNumber, nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(7), RT_RCDATA), byNumber);
    EXPECT_STREQ(static_cast<const char*>(LockResource(LoadResource(nullptr, byNumber))), "numbered");
    qv::win32::UnregisterResource(MAKEINTRESOURCEA(7), RT_RCDATA_ID);
}

TEST_F(ResourceTest, AMissingResourceIsNotFound) {
    EXPECT_EQ(FindResourceA(nullptr, "NO_SUCH_RESOURCE", RT_RCDATA), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceA(nullptr, "QUILLERVANTIS_EFFECT", MAKEINTRESOURCEA(6)), nullptr) << "wrong type";
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, reinterpret_cast<HRSRC>(0x1)), 0u);
}

TEST_F(ResourceTest, RegisteringReplacesAndUnregisteringInvalidatesEarlierLookups) {
    static const char kFirst[] = "first";
    static const char kSecond[] = "second!";
    qv::win32::RegisterResource("TEST_RESOURCE", RT_RCDATA_ID, kFirst, sizeof kFirst);
    HRSRC first = FindResourceA(nullptr, "TEST_RESOURCE", RT_RCDATA);
    qv::win32::RegisterResource("test_resource", RT_RCDATA_ID, kSecond, sizeof kSecond);
    HRSRC second = FindResourceA(nullptr, "TEST_RESOURCE", RT_RCDATA);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, second), sizeof kSecond);
    EXPECT_EQ(LoadResource(nullptr, first), nullptr) << "a replaced resource's lookup is stale";
    qv::win32::UnregisterResource("TEST_RESOURCE", RT_RCDATA_ID);
    EXPECT_EQ(FindResourceA(nullptr, "TEST_RESOURCE", RT_RCDATA), nullptr);
    EXPECT_EQ(LoadResource(nullptr, second), nullptr);
    EXPECT_THROW(qv::win32::RegisterResource(nullptr, RT_RCDATA_ID, kFirst, 1), std::invalid_argument);
}

TEST_F(ResourceTest, InjectedFailuresHitEachStep) {
    qv::win32::InjectFailure("FindResourceA", 1);
    EXPECT_EQ(FindResourceA(nullptr, "QUILLERVANTIS_EFFECT", RT_RCDATA), nullptr);
    HRSRC found = FindResourceA(nullptr, "QUILLERVANTIS_EFFECT", RT_RCDATA);
    ASSERT_NE(found, nullptr);
    qv::win32::InjectFailure("LoadResource", 2);
    EXPECT_NE(LoadResource(nullptr, found), nullptr);
    EXPECT_EQ(LoadResource(nullptr, found), nullptr);
    HGLOBAL loaded = LoadResource(nullptr, found);
    qv::win32::InjectFailure("LockResource", 1);
    EXPECT_EQ(LockResource(loaded), nullptr);
    EXPECT_NE(LockResource(loaded), nullptr);
    qv::win32::InjectFailure("SizeofResource", 1);
    EXPECT_EQ(SizeofResource(nullptr, found), 0u);
    EXPECT_EQ(SizeofResource(nullptr, found), qv::effect::EffectSourceSize());
}

}  // namespace

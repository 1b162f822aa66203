// Settings files read with Windows' INI rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/win32/win32.h"

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = ::testing::TempDir() + "qv_profile_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
    }
    void TearDown() override { std::remove(path_.c_str()); }

    void Write(const std::string& content) {
        std::ofstream file(path_, std::ios::binary);
        file << content;
    }

    // The value as read into a buffer of `size` bytes, and the count returned.
    std::string Read(const char* section, const char* key, const char* fallback = "", DWORD size = 256,
                     DWORD* count = nullptr) {
        std::string buffer(size + 8, '#');
        const DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, path_.c_str());
        if (count != nullptr) *count = n;
        EXPECT_EQ(buffer[size], '#') << "written past the buffer";
        EXPECT_EQ(std::strlen(buffer.c_str()), n) << "count differs from the text";
        return buffer.c_str();
    }

    std::string path_;
};

TEST_F(ProfileTest, SectionAndKeyMatchWithoutRegardToCaseAndBlanks) {
    Write("[System]\nResizeList=640x480\n[ other ]\n  Key  =  spaced value  \n");
    EXPECT_EQ(Read("system", "resizelist"), "640x480");
    EXPECT_EQ(Read("SYSTEM", "RESIZELIST"), "640x480");
    EXPECT_EQ(Read("other", "key"), "spaced value") << "value and names are trimmed, inner blanks kept";
}

TEST_F(ProfileTest, ValuesLoseOnePairOfEnclosingQuotes) {
    Write("[s]\na=\"quoted value\"\nb='single'\nc=\"unbalanced\nd=\"\"\ne=mid\"dle\"\n");
    EXPECT_EQ(Read("s", "a"), "quoted value");
    EXPECT_EQ(Read("s", "b"), "single");
    EXPECT_EQ(Read("s", "c"), "\"unbalanced");
    EXPECT_EQ(Read("s", "d"), "");
    EXPECT_EQ(Read("s", "e"), "mid\"dle\"");
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    DWORD count = 99;
    EXPECT_EQ(Read("system", "resizelist", "fallback", 256, &count), "fallback");
    EXPECT_EQ(count, 8u);
    Write("[system]\nother=1\n[elsewhere]\nresizelist=1x1\n");
    EXPECT_EQ(Read("system", "resizelist", "none"), "none") << "a key of another section";
    EXPECT_EQ(Read("missing", "other", "none"), "none");
    EXPECT_EQ(Read("system", "resizelist", nullptr), "");
    EXPECT_EQ(Read("system", "resizelist", "trailing   "), "trailing") << "trailing blanks of a default drop";
}

TEST_F(ProfileTest, AnEmptyValueIsFoundAndNotReplacedByTheDefault) {
    Write("[system]\nresizelist=\n");
    EXPECT_EQ(Read("system", "resizelist", "fallback"), "");
}

TEST_F(ProfileTest, CommentsBlankLinesAndStrayLinesAreSkipped) {
    Write("; header comment\n"
          "orphan=before any section\n"
          "\n"
          "[system]\r\n"
          "   ; indented comment\r\n"
          ";resizelist=commented out\r\n"
          "just some words\r\n"
          "[unclosed\r\n"
          "\t\r\n"
          "resizelist=1280x720 ; not a comment\r\n");
    EXPECT_EQ(Read("system", "resizelist"), "1280x720 ; not a comment") << "';' starts comments only at line start";
    EXPECT_EQ(Read("system", ";resizelist", "none"), "none");
    EXPECT_EQ(Read("", "orphan", "none"), "none");
}

TEST_F(ProfileTest, TheFirstSectionAndFirstKeyOfANameWin) {
    Write("\xEF\xBB\xBF[system]\nkey=first\nKEY=second\n[System]\nkey=third\nonly=later\n");
    EXPECT_EQ(Read("system", "key"), "first") << "a byte-order mark does not hide the first section";
    EXPECT_EQ(Read("system", "only", "none"), "none");
}

TEST_F(ProfileTest, AValueLongerThanTheBufferIsCutToSizeMinusOne) {
    Write("[s]\nk=0123456789\n");
    DWORD count = 0;
    EXPECT_EQ(Read("s", "k", "", 5, &count), "0123");
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(Read("s", "k", "", 11, &count), "0123456789");
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(Read("s", "k", "", 1, &count), "");
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Read("s", "missing", "defaultvalue", 4, &count), "def") << "defaults are cut alike";
    char untouched = '#';
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", &untouched, 0, path_.c_str()), 0u);
    EXPECT_EQ(untouched, '#');
}

TEST_F(ProfileTest, NullSectionOrKeyListsNames) {
    Write("[one]\na=1\nb=2\n[two]\n");
    char buffer[64];
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, path_.c_str());
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(std::string(buffer, n + 1), std::string("one\0two\0\0", 9));
    n = GetPrivateProfileStringA("ONE", nullptr, "", buffer, sizeof buffer, path_.c_str());
    EXPECT_EQ(std::string(buffer, n + 1), std::string("a\0b\0\0", 5));
    // A list that does not fit ends in two terminators and counts size - 2.
    n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 6, path_.c_str());
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buffer, 6), std::string("one\0\0\0", 6));
}

TEST_F(ProfileTest, ADirectoryIsNoSettingsFile) {
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "dflt", nullptr, 0, ::testing::TempDir().c_str()), 0u);
    char buffer[16];
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "dflt", buffer, sizeof buffer, ::testing::TempDir().c_str()), 4u);
    EXPECT_STREQ(buffer, "dflt");
}

}  // namespace

// Module file name, path splitting and building.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string>

#include "platform/win32/win32.h"

namespace {

struct Parts {
    char drive[_MAX_DRIVE];
    char dir[_MAX_DIR];
    char fname[_MAX_FNAME];
    char ext[_MAX_EXT];
};

Parts Split(const char* path) {
    Parts p;
    _splitpath(path, p.drive, p.dir, p.fname, p.ext);
    return p;
}

void ExpectParts(const char* path, const char* drive, const char* dir, const char* fname, const char* ext) {
    const Parts p = Split(path);
    EXPECT_STREQ(p.drive, drive) << path;
    EXPECT_STREQ(p.dir, dir) << path;
    EXPECT_STREQ(p.fname, fname) << path;
    EXPECT_STREQ(p.ext, ext) << path;
}

TEST(SplitPath, SplitsLinuxAndWindowsPathsAlike) {
    ExpectParts("/work/main/build/quillervantis", "", "/work/main/build/", "quillervantis", "");
    ExpectParts("C:\\Program Files\\Editor\\editor.exe", "C:", "\\Program Files\\Editor\\", "editor", ".exe");
    ExpectParts("D:/mixed\\seps/file.tar.gz", "D:", "/mixed\\seps/", "file.tar", ".gz");
    ExpectParts("relative.exe", "", "", "relative", ".exe");
    ExpectParts("/home/user/.config", "", "/home/user/", "", ".config");
    ExpectParts("/dotted.dir/noext", "", "/dotted.dir/", "noext", "");  // a dot in a directory is no extension
    ExpectParts("/ends/with/", "", "/ends/with/", "", "");
    ExpectParts("name.", "", "", "name", ".");
    ExpectParts("", "", "", "", "");
}

TEST(SplitPath, TakesNullForPartsNotWanted) {
    char fname[_MAX_FNAME];
    _splitpath("/a/b/c.d", nullptr, nullptr, fname, nullptr);
    EXPECT_STREQ(fname, "c");
}

TEST(SplitPath, UncheckedFormCutsAPartLongerThanItsBuffer) {
    const std::string longName(300, 'n');
    const Parts p = Split(("/d/" + longName + ".x").c_str());
    EXPECT_EQ(std::string(p.fname), longName.substr(0, _MAX_FNAME - 1));
    EXPECT_STREQ(p.ext, ".x");
}

TEST(SplitPath, CheckedFormReportsSmallBuffersAndEmptiesAllParts) {
    char drive[_MAX_DRIVE], dir[4], fname[_MAX_FNAME], ext[_MAX_EXT];
    EXPECT_EQ(_splitpath_s("C:\\long\\name.ext", drive, sizeof drive, dir, sizeof dir, fname, sizeof fname,
                           ext, sizeof ext),
              ERANGE);
    EXPECT_STREQ(drive, "");
    EXPECT_STREQ(dir, "");
    EXPECT_STREQ(fname, "");
    EXPECT_STREQ(ext, "");
    EXPECT_EQ(_splitpath_s("C:\\d\\name.ext", drive, sizeof drive, dir, sizeof dir, fname, sizeof fname, ext,
                           sizeof ext),
              0);
    EXPECT_STREQ(dir, "\\d\\");
    EXPECT_EQ(_splitpath_s(nullptr, drive, sizeof drive, dir, sizeof dir, fname, sizeof fname, ext, sizeof ext),
              EINVAL);
    EXPECT_EQ(_splitpath_s("x", drive, 0, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL) << "buffer without size";
}

TEST(MakePath, JoinsPartsAddingSeparatorAndDot) {
    char path[_MAX_PATH];
    _makepath(path, "C:", "\\dir\\", "name", "ini");
    EXPECT_STREQ(path, "C:\\dir\\name.ini");
    _makepath(path, "C", "\\dir", "name", ".ini");
    EXPECT_STREQ(path, "C:\\dir\\name.ini") << "a drive gets its colon, a directory its separator";
    _makepath(path, "", "/usr/local/bin", "host", "ini");
    EXPECT_STREQ(path, "/usr/local/bin/host.ini");
    _makepath(path, nullptr, "plain", "host", nullptr);
    EXPECT_STREQ(path, "plain/host");
    _makepath(path, nullptr, nullptr, "host", "");
    EXPECT_STREQ(path, "host");
}

TEST(MakePath, RebuildsASplitPathWithAnotherExtension) {
    for (const char* exe : {"/work/main/build/quillervantis", "/opt/editor/editor.bin",
                            "C:\\Program Files\\Editor\\aviutl.exe"}) {
        const Parts p = Split(exe);
        char path[_MAX_PATH];
        _makepath(path, p.drive, p.dir, p.fname, "ini");
        std::string expected(exe);
        const size_t slash = expected.find_last_of("/\\");
        const size_t dot = expected.rfind('.');
        if (dot != std::string::npos && dot > slash) expected.resize(dot);
        EXPECT_EQ(std::string(path), expected + ".ini");
    }
}

TEST(MakePath, CheckedFormRefusesATooSmallBuffer) {
    char path[14];
    EXPECT_EQ(_makepath_s(path, sizeof path, nullptr, "/dir/", "name", "ini"), 0);
    EXPECT_STREQ(path, "/dir/name.ini") << "13 characters and the terminator fit exactly";
    EXPECT_EQ(_makepath_s(path, sizeof path, nullptr, "/dir/", "names", "ini"), ERANGE);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(_makepath_s(nullptr, 10, nullptr, nullptr, "a", nullptr), EINVAL);
}

TEST(MakePath, UncheckedFormStopsAtAPathBuffer) {
    const std::string longName(400, 'n');
    char path[_MAX_PATH + 64];
    std::fill(std::begin(path), std::end(path), '#');
    _makepath(path, nullptr, "/d/", longName.c_str(), "ini");
    EXPECT_EQ(std::string(path).size(), static_cast<size_t>(_MAX_PATH - 1));
    EXPECT_EQ(path[_MAX_PATH], '#') << "written past the path buffer";
}

class ModuleFileName : public ::testing::Test {
protected:
    void TearDown() override {
        qv::win32::OverrideModuleFileName("");
        qv::win32::ClearInjectedFailures();
    }
};

TEST_F(ModuleFileName, IsTheProcessExecutableUnlessOverridden) {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    char buffer[4096];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), static_cast<DWORD>(n));
    EXPECT_STREQ(buffer, exe);

    qv::win32::OverrideModuleFileName("/elsewhere/editor.exe");
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 21u);
    EXPECT_STREQ(buffer, "/elsewhere/editor.exe");
    qv::win32::OverrideModuleFileName("");
    GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, exe);
}

TEST_F(ModuleFileName, ANameThatDoesNotFitIsCutAndReportedAsWindowsDoes) {
    qv::win32::OverrideModuleFileName("/abc/def");  // 8 characters
    char buffer[16];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 9), 8u) << "8 characters and the terminator fit in 9";
    EXPECT_STREQ(buffer, "/abc/def");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 8), 8u);
    EXPECT_STREQ(buffer, "/abc/de");
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 1), 1u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 0), 0u);
}

TEST_F(ModuleFileName, OtherModulesAndInjectedFailuresGiveNothing) {
    char buffer[MAX_PATH];
    int dummy = 0;
    EXPECT_EQ(GetModuleFileNameA(&dummy, buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    qv::win32::InjectFailure("GetModuleFileNameA", 1);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, MAX_PATH), 0u);
    EXPECT_GT(GetModuleFileNameA(nullptr, buffer, MAX_PATH), 0u);
}

}  // namespace

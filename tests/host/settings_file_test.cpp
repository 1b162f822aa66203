// Where the host's settings file is: beside the host executable, extension "ini".
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "host/settings_file.h"
#include "platform/win32/win32.h"

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void TearDown() override {
        qv::win32::OverrideModuleFileName("");
        qv::win32::ClearInjectedFailures();
    }
    static std::string PathFor(const std::string& executable) {
        qv::win32::OverrideModuleFileName(executable);
        return qv::host::SettingsFilePath();
    }
};

TEST_F(SettingsFileTest, IsTheExecutablePathWithExtensionIni) {
    EXPECT_EQ(PathFor("/usr/local/bin/quillervantis"), "/usr/local/bin/quillervantis.ini");
    EXPECT_EQ(PathFor("/opt/editor/aviutl.exe"), "/opt/editor/aviutl.ini");
    EXPECT_EQ(PathFor("/opt/v1.2/editor"), "/opt/v1.2/editor.ini");
    EXPECT_EQ(PathFor("C:\\Program Files\\AviUtl\\aviutl.exe"), "C:\\Program Files\\AviUtl\\aviutl.ini");
}

TEST_F(SettingsFileTest, TheRunningExecutableIsUsedWithoutAnOverride) {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    if (n + 4 >= MAX_PATH) GTEST_SKIP() << "the build directory's path is too long for a settings path";
    EXPECT_EQ(qv::host::SettingsFilePath(), std::string(exe) + ".ini");
}

TEST_F(SettingsFileTest, APathThatCannotBeHadWholeGivesNoSettingsFile) {
    // 259 characters fit a path buffer: the settings path would not ("x.ini" is 4 longer).
    const std::string dir = "/" + std::string(200, 'd') + "/";
    EXPECT_EQ(PathFor(dir + std::string(MAX_PATH - 1 - dir.size(), 'e')), "");
    // A name the module-name buffer cuts would name some other file.
    EXPECT_EQ(PathFor("/" + std::string(300, 'p')), "");
    // The rebuilt path exactly fills the buffer.
    const std::string fits = dir + std::string(MAX_PATH - 1 - dir.size() - 4, 'f');
    EXPECT_EQ(PathFor(fits), fits + ".ini");
    qv::win32::OverrideModuleFileName("");
    qv::win32::InjectFailure("GetModuleFileNameA", 1);
    EXPECT_EQ(qv::host::SettingsFilePath(), "");
}

TEST_F(SettingsFileTest, MissingFileGivesNoPresets) {
    EXPECT_EQ(qv::host::ReadResizeList("/nonexistent/dir/host.ini").count, 0);
    EXPECT_EQ(qv::host::ReadResizeList("").count, 0);
}

}  // namespace

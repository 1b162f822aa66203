// Message texts in code page 932, and where message boxes and window titles go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace {

// "LockRectに失敗" as the module stores it: に = 82 C9, 失 = 8E B8, 敗 = 94 73.
const std::string kLockRectFailedCp932 = "LockRect\x82\xC9\x8E\xB8\x94\x73";

TEST(CodePage932, RoundTripsTheMessageTexts) {
    EXPECT_EQ(qv::win32::EncodeCp932("LockRectに失敗"), kLockRectFailedCp932);
    EXPECT_EQ(qv::win32::DecodeCp932(kLockRectFailedCp932.c_str()), "LockRectに失敗");
    for (const std::string text : {"initTextureに失敗", "CreateDeviceに失敗", "plain ascii", ""}) {
        EXPECT_EQ(qv::win32::DecodeCp932(qv::win32::EncodeCp932(text).c_str()), text);
    }
}

TEST(CodePage932, CharactersWithoutACounterpartAreReplaced) {
    EXPECT_EQ(qv::win32::EncodeCp932("a\xF0\x9F\x98\x80" "b"), "a?b") << "an emoji has no code page 932 form";
    EXPECT_EQ(qv::win32::EncodeCp932("a\xFF" "b"), "a?b") << "broken UTF-8";
    EXPECT_EQ(qv::win32::DecodeCp932("a\x82"), "a\xEF\xBF\xBD") << "a lead byte cut off at the end";
    EXPECT_EQ(qv::win32::DecodeCp932("a\xA0" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(qv::win32::DecodeCp932(nullptr), "");
}

struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

class UserInterfaceTest : public ::testing::Test {
protected:
    void TearDown() override {
        qv::win32::SetMessageBoxHandler(nullptr);
        qv::win32::SetWindowTextHandler(nullptr);
    }
};

TEST_F(UserInterfaceTest, BoxesReachTheInstalledHandlerDecodedAndItsAnswerIsReturned) {
    std::vector<ShownBox> boxes;
    qv::win32::SetMessageBoxHandler([&](HWND owner, const std::string& text, const std::string& caption, UINT type) {
        boxes.push_back({owner, text, caption, type});
        return IDRETRY;
    });
    int owner = 0;
    EXPECT_EQ(MessageBoxA(&owner, kLockRectFailedCp932.c_str(), "warning", MB_RETRYCANCEL | MB_ICONWARNING),
              IDRETRY);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, &owner);
    EXPECT_EQ(boxes[0].text, "LockRectに失敗");
    EXPECT_EQ(boxes[0].caption, "warning");
    EXPECT_EQ(boxes[0].type, MB_RETRYCANCEL | MB_ICONWARNING);
    MessageBoxA(nullptr, "no caption", nullptr, MB_OK);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].caption, "Error") << "Windows' caption for a box without one";
}

TEST_F(UserInterfaceTest, TitlesReachTheInstalledHandlerDecoded) {
    std::vector<std::string> titles;
    HWND seen = nullptr;
    qv::win32::SetWindowTextHandler([&](HWND window, const std::string& text) {
        seen = window;
        titles.push_back(text);
    });
    int window = 0;
    const std::string title = "Quillervantis[" + qv::win32::EncodeCp932("ソフトウェア") + "]";
    EXPECT_TRUE(SetWindowTextA(&window, title.c_str()));
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles[0], "Quillervantis[ソフトウェア]");
    EXPECT_EQ(seen, &window);
}

TEST_F(UserInterfaceTest, WithoutAHandlerBoxesGoToStderrAndAreDismissed) {
    ::testing::internal::CaptureStderr();
    const int answer = MessageBoxA(nullptr, kLockRectFailedCp932.c_str(), "warning", MB_OK);
    const int retry = MessageBoxA(nullptr, "CreateDevice", "Quillervantis", MB_RETRYCANCEL | MB_ICONWARNING);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(retry, IDCANCEL) << "nobody there to retry";
    EXPECT_NE(printed.find("warning: LockRectに失敗\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Quillervantis: CreateDevice\n"), std::string::npos) << printed;
    EXPECT_TRUE(SetWindowTextA(nullptr, "dropped"));
}

TEST(DismissingAnswer, IsOkForOkBoxesAndTheRefusingButtonOtherwise) {
    EXPECT_EQ(qv::win32::DismissingAnswer(MB_OK | MB_ICONWARNING), IDOK);
    EXPECT_EQ(qv::win32::DismissingAnswer(MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(qv::win32::DismissingAnswer(MB_RETRYCANCEL | MB_ICONWARNING), IDCANCEL);
    EXPECT_EQ(qv::win32::DismissingAnswer(MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(qv::win32::DismissingAnswer(MB_YESNO), IDNO);
    EXPECT_EQ(qv::win32::DismissingAnswer(MB_ABORTRETRYIGNORE), IDABORT);
}

}  // namespace

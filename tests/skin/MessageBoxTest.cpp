// Message boxes without a display, and the hook tests use to answer them.
#include <gtest/gtest.h>

#include "platform/ui/MessageBox.h"
#include "tests/skin/SkinFixtures.h"

namespace {

TEST(MessageBox, HeadlessBoxPrintsAndTakesTheDefaultButton) {
  struct DefaultCase {
    UINT type;
    int expected;
  };
  const DefaultCase cases[] = {
      {MB_OK, IDOK},
      {MB_OK | MB_ICONERROR, IDOK},
      {MB_YESNO, IDYES},
      {MB_YESNO | MB_DEFBUTTON2 | MB_ICONERROR, IDNO},
      {MB_RETRYCANCEL, IDRETRY},
      {MB_RETRYCANCEL | MB_DEFBUTTON2, IDCANCEL},
      {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
      {MB_OKCANCEL | MB_DEFBUTTON3, IDOK},  // no third button: the first is the default
      {MB_CANCELTRYCONTINUE | MB_DEFBUTTON2, IDTRYAGAIN},
  };
  for (const DefaultCase& test : cases) {
    testing::internal::CaptureStderr();
    const int answer = MessageBoxA(nullptr, "Something happened", "Reelpress", test.type);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, test.expected) << "type " << test.type;
    EXPECT_NE(printed.find("Reelpress"), std::string::npos);
    EXPECT_NE(printed.find("Something happened"), std::string::npos);
  }
  EXPECT_EQ(MessageBoxA(nullptr, "x", "y", 0x0F), 0) << "an unknown button set shows nothing";
}

TEST(MessageBox, OffscreenApplicationDoesNotBlock) {
  skintest::Application();
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Open failed", nullptr, MB_OK | MB_ICONERROR), IDOK);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Open failed"), std::string::npos);
}

TEST(MessageBox, HandlerSeesEveryBoxAndAnswersIt) {
  std::vector<std::string> seen;
  reel::MessageBoxHandler previous =
      reel::SetMessageBoxHandler([&](HWND, const std::string& text, const std::string& caption, UINT type) {
        seen.push_back(caption + ": " + text + " " + std::to_string(type));
        return IDNO;
      });
  EXPECT_EQ(MessageBoxA(nullptr, "Retry?", "Skin", MB_YESNO | MB_ICONERROR), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Fine", "Skin", MB_OK), IDNO);
  EXPECT_EQ(seen, (std::vector<std::string>{"Skin: Retry? 20", "Skin: Fine 0"}));
  reel::MessageBoxHandler mine = reel::SetMessageBoxHandler(previous);
  EXPECT_TRUE(static_cast<bool>(mine));
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Back to headless", "Skin", MB_YESNO), IDYES);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(seen.size(), 2u);
}

TEST(MessageBox, ButtonSetsAreWindowsOrder) {
  EXPECT_EQ(reel::MessageBoxButtons(MB_OK), std::vector<int>{IDOK});
  EXPECT_EQ(reel::MessageBoxButtons(MB_YESNO | MB_ICONQUESTION), (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(reel::MessageBoxButtons(MB_RETRYCANCEL), (std::vector<int>{IDRETRY, IDCANCEL}));
  EXPECT_EQ(reel::MessageBoxButtons(MB_ABORTRETRYIGNORE), (std::vector<int>{IDABORT, IDRETRY, IDIGNORE}));
}

}  // namespace

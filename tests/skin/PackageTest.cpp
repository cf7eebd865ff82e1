// Skin packages: opening and extracting them (and what goes wrong), the
// skin list and right-click menu, and switching skins.
#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/skin/ZipArchive.h"
#include "tests/skin/SkinFixtures.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using reel::test::ReadFile;
using reel::test::WriteFile;

const char* kRetryQuestion =
    "The central directory was not found. If you're opening a multi-disk archive, make sure you have inserted the "
    "last disk. Retry?";

std::string BitmapBytes(QSize size, QColor colour) {
  reel::test::TempDir scratch("skinbmp");
  skintest::WriteBitmap(scratch / "x.bmp", size, colour);
  return ReadFile(scratch / "x.bmp");
}

// A package whose Skin.ini has a background of `colour` and one button.
std::vector<skintest::ZipEntry> SimpleSkin(QColor colour, const std::string& buttonName) {
  return {
      {"Skin.ini", "[Main]\nScreen=back.bmp\n[COLOR]\nTRANSPARENT=0xFF00FF\n[BUTTONINFO]\n1=" + buttonName +
                       ", strip.bmp, 5,5,45,25, tip, F\n"},
      {"back.bmp", BitmapBytes(QSize(80, 60), colour)},
      {"strip.bmp", BitmapBytes(QSize(160, 20), Qt::gray)},
  };
}

class SkinPackages : public ::testing::Test {
 protected:
  void SetUp() override {
    skintest::Application();
    fs::create_directories(program);
    CSkinDialog::SetStoredLayoutFolder("");
  }

  reel::test::TempDir root{"skinpackages"};
  fs::path program = root / "program";
  skintest::MessageBoxRecorder boxes;
};

TEST_F(SkinPackages, MissingCentralDirectoryAsksToRetry) {
  WriteFile(program / "broken.skn", std::string(300, 'x'));
  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;

  boxes.QueueAnswer(IDNO);
  EXPECT_FALSE(dialog.ExtractSkin((program / "broken.skn").string(), "Tmp"));
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(boxes.Boxes()[0].text, kRetryQuestion);
  EXPECT_EQ(boxes.Boxes()[0].type & MB_TYPEMASK, MB_YESNO);
  EXPECT_EQ(boxes.Boxes()[0].type & MB_ICONMASK, MB_ICONERROR);
  EXPECT_EQ(boxes.Boxes()[1].text, "Open failed");
  EXPECT_EQ(boxes.Boxes()[1].type & MB_ICONMASK, MB_ICONERROR);
  EXPECT_FALSE(fs::exists(program / "Tmp"));

  // Yes tries again; the default answer (No) then gives up.
  boxes.QueueAnswer(IDYES);
  dialog.ExtractSkin((program / "broken.skn").string(), "Tmp");
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{kRetryQuestion, "Open failed", kRetryQuestion, kRetryQuestion,
                                                     "Open failed"}));
}

TEST_F(SkinPackages, UnreadablePackageSaysOpenFailedAndLeavesAPlainWindow) {
  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;
  dialog.ApplySkinPackage((program / "absent.skn").string(), "Tmp/Skin.ini");
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Open failed"});
  EXPECT_TRUE(dialog.Background().isNull());
  EXPECT_TRUE(dialog.Buttons().empty());
  EXPECT_FALSE(fs::exists(program / "Tmp"));
  dialog.show();
  EXPECT_EQ(dialog.size(), QSize(400, 300));
  EXPECT_TRUE(dialog.mask().isEmpty());
}

TEST_F(SkinPackages, CorruptEntrySaysExtractFailedAndKeepsTheGoodOnes) {
  std::string text;
  for (int line = 0; line < 200; ++line) text += "; filler line " + std::to_string(line * 7919 % 1000) + "\n";
  skintest::WriteZip(program / "corrupt.skn", {{"Damaged.ini", text}, {"Skin.ini", "[Main]\nScreen=back.bmp\n"}});
  std::string bytes = ReadFile(program / "corrupt.skn");
  // The first entry's data starts after its 30-byte local header and name.
  const std::size_t data = 30 + std::string("Damaged.ini").size();
  for (std::size_t offset = data + 20; offset < data + 40; ++offset) bytes[offset] = static_cast<char>(bytes[offset] ^ 0x5A);
  WriteFile(program / "corrupt.skn", bytes);

  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;
  EXPECT_FALSE(dialog.ExtractSkin((program / "corrupt.skn").string(), "Tmp"));
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Extract failed"});
  EXPECT_FALSE(fs::exists(program / "Tmp" / "Damaged.ini"));
  EXPECT_FALSE(fs::exists(program / "Tmp" / "Damaged.ini.partial"));
  EXPECT_EQ(ReadFile(program / "Tmp" / "Skin.ini"), "[Main]\nScreen=back.bmp\n");
}

TEST_F(SkinPackages, EntriesLeavingTheWorkingFolderAreRefused) {
  const fs::path outside = root / "outside";
  fs::create_directories(outside);
  fs::create_directories(program / "Tmp");
  // A link planted in the working folder must not be written through.
  fs::create_directory_symlink(outside, program / "Tmp" / "planted");
  skintest::WriteZip(program / "evil.skn",
                     {
                         {"Skin.ini", "[Main]\n"},
                         {"../x", "escaped"},
                         {"sub/../../y", "escaped"},
                         {"..\\z", "escaped"},
                         {(outside / "absolute.txt").string(), "escaped"},
                         {"planted/through-link.txt", "escaped"},
                         {"link", (outside / "target").string(), true},
                         {"folder/inner.txt", "kept"},
                     });
  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;
  EXPECT_FALSE(dialog.ExtractSkin((program / "evil.skn").string(), "Tmp"));
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Extract failed"});
  EXPECT_FALSE(fs::exists(program / "x"));
  EXPECT_FALSE(fs::exists(program / "y"));
  EXPECT_FALSE(fs::exists(program / "z"));
  EXPECT_FALSE(fs::exists(program / "..\\z"));
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_FALSE(fs::exists(fs::symlink_status(program / "Tmp" / "link")));
  EXPECT_EQ(ReadFile(program / "Tmp" / "Skin.ini"), "[Main]\n");
  EXPECT_EQ(ReadFile(program / "Tmp" / "folder" / "inner.txt"), "kept");
  // Only the working folder's contents were written.
  for (const fs::directory_entry& entry : fs::directory_iterator(program)) {
    EXPECT_TRUE(entry.path().filename() == "Tmp" || entry.path().filename() == "evil.skn") << entry.path();
  }
}

TEST_F(SkinPackages, ZipReaderReportsCausesAndCounts) {
  CZipArchive zip;
  try {
    zip.Open((program / "none.skn").string());
    ADD_FAILURE() << "opening a missing file succeeded";
  } catch (const CZipException& problem) {
    EXPECT_NE(problem.m_iCause, CZipException::cdirNotFound);
  }
  WriteFile(program / "empty.skn", "");
  try {
    zip.Open((program / "empty.skn").string());
    ADD_FAILURE() << "opening an empty file succeeded";
  } catch (const CZipException& problem) {
    EXPECT_EQ(problem.m_iCause, CZipException::cdirNotFound);
  }
  skintest::WriteZip(program / "two.skn", {{"a.txt", "alpha"}, {"b/c.txt", "gamma"}});
  zip.Open((program / "two.skn").string());
  EXPECT_EQ(zip.GetCount(), 2);
  zip.ExtractFile(1, (root / "out").string());
  EXPECT_EQ(ReadFile(root / "out" / "b" / "c.txt"), "gamma");
  EXPECT_FALSE(fs::exists(root / "out" / "a.txt"));
  EXPECT_THROW(zip.ExtractFile(2, (root / "out").string()), CZipException);
  zip.Close();
  EXPECT_FALSE(zip.IsOpen());
}

TEST_F(SkinPackages, TwentySevenPackagesGiveTwentySixMenuEntriesWithStableCommands) {
  for (int number = 0; number < 27; ++number) {
    char name[16];
    std::snprintf(name, sizeof name, "skin%02d.skn", number);
    WriteFile(program / name, "");
  }
  WriteFile(program / "notes.txt", "");
  skintest::RecordingDialog dialog;
  dialog.BuildSkinList(program.string());
  ASSERT_EQ(dialog.SkinList().size(), 26u);
  EXPECT_EQ(dialog.SkinList().front(), "skin00");
  EXPECT_EQ(dialog.SkinList().back(), "skin25");

  dialog.SetSkinMenuPosition(4);
  for (int opening = 0; opening < 2; ++opening) {
    std::unique_ptr<QMenu> menu = dialog.BuildSkinMenu();
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 28);
    EXPECT_EQ(actions[0]->text().toStdString(), "Options");
    EXPECT_EQ(actions[0]->data().toInt(), CSkinDialog::kOptionsCommand);
    EXPECT_TRUE(actions[1]->isSeparator());
    for (int entry = 0; entry < 26; ++entry) {
      QAction* action = actions[entry + 2];
      EXPECT_EQ(action->data().toInt(), 32771 + entry) << "opening " << opening;
      EXPECT_EQ(action->text().toStdString(), dialog.SkinList()[static_cast<std::size_t>(entry)]);
      EXPECT_EQ(action->isChecked(), entry + 2 == 4) << "entry " << entry;
    }
  }
}

TEST_F(SkinPackages, SwitchingSkinsRebuildsTheWindowFromTheChosenPackage) {
  skintest::WriteZip(program / "Alpha.skn", SimpleSkin(QColor(200, 10, 10), "BUTTON_ALPHA"));
  skintest::WriteZip(program / "Beta.skn", SimpleSkin(QColor(10, 10, 200), "BUTTON_BETA"));
  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;
  dialog.BuildSkinList(program.string());
  ASSERT_EQ(dialog.SkinList(), (std::vector<std::string>{"Alpha", "Beta"}));
  dialog.ApplySkinPackage((program / "Alpha.skn").string(), "Tmp/Skin.ini");
  dialog.show();
  EXPECT_NE(dialog.FindButton("BUTTON_ALPHA"), nullptr);
  EXPECT_EQ(dialog.Background().pixelColor(40, 40), QColor(200, 10, 10));
  EXPECT_EQ(CSkinDialog::StoredLayoutFolder(), (fs::canonical(program) / "Tmp").string() + "/");
  EXPECT_FALSE(fs::exists(program / "Tmp")) << "the working folder is deleted after loading";

  // Switching from another current folder: the program folder comes from the layout folder.
  skintest::CurrentFolder elsewhere(root.path());
  dialog.OnCommand(32772);
  EXPECT_EQ(fs::canonical(fs::current_path()), fs::canonical(program));
  EXPECT_EQ(dialog.FindButton("BUTTON_ALPHA"), nullptr);
  EXPECT_NE(dialog.FindButton("BUTTON_BETA"), nullptr);
  EXPECT_EQ(dialog.Background().pixelColor(40, 40), QColor(10, 10, 200));
  EXPECT_EQ(dialog.SkinMenuPosition(), 3);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(fs::exists(program / "Tmp"));
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"before", "changed 32772"}));

  // A command past the list falls back to the first skin.
  dialog.events.clear();
  dialog.OnCommand(32790);
  EXPECT_NE(dialog.FindButton("BUTTON_ALPHA"), nullptr);
  EXPECT_EQ(dialog.SkinMenuPosition(), 2);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"before", "changed 32790"}));

  dialog.events.clear();
  dialog.OnCommand(CSkinDialog::kOptionsCommand);
  dialog.OnCommand(32770);  // not a command of the menu
  dialog.OnCommand(32797);
  EXPECT_EQ(dialog.events, std::vector<std::string>{"options"});
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(SkinPackages, RightClickMenuSwitchesToTheChosenSkin) {
  skintest::WriteZip(program / "Alpha.skn", SimpleSkin(QColor(200, 10, 10), "BUTTON_ALPHA"));
  skintest::WriteZip(program / "Beta.skn", SimpleSkin(QColor(10, 10, 200), "BUTTON_BETA"));
  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;
  dialog.BuildSkinList(program.string());
  dialog.ApplySkinPackage((program / "Alpha.skn").string(), "Tmp/Skin.ini");
  dialog.SetSkinMenuPosition(2);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

  std::vector<std::string> seen;
  QTimer::singleShot(50, &dialog, [&]() {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* action : menu->actions()) {
      seen.push_back(action->text().toStdString() + (action->isChecked() ? "*" : ""));
      if (action->data().toInt() == 32772) menu->setActiveAction(action);
    }
    QTest::keyClick(menu, Qt::Key_Return);
  });
  QTest::mouseClick(&dialog, Qt::RightButton, Qt::NoModifier, QPoint(60, 50));
  EXPECT_EQ(seen, (std::vector<std::string>{"Options", "", "Alpha*", "Beta"}));
  EXPECT_NE(dialog.FindButton("BUTTON_BETA"), nullptr);
  EXPECT_EQ(dialog.SkinMenuPosition(), 3);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"before", "changed 32772"}));
}

TEST_F(SkinPackages, SwitchingDuringAModalRunKeepsTheWindowRunning) {
  skintest::WriteZip(program / "Alpha.skn", SimpleSkin(QColor(200, 10, 10), "BUTTON_ALPHA"));
  skintest::WriteZip(program / "Beta.skn", SimpleSkin(QColor(10, 10, 200), "BUTTON_BETA"));
  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;
  dialog.BuildSkinList(program.string());
  dialog.ApplySkinPackage((program / "Alpha.skn").string(), "Tmp/Skin.ini");
  bool visibleAfterSwitch = false;
  QTimer::singleShot(50, &dialog, [&]() { dialog.OnCommand(32772); });
  QTimer::singleShot(300, &dialog, [&]() {
    visibleAfterSwitch = dialog.isVisible();
    dialog.done(7);
  });
  EXPECT_EQ(dialog.exec(), 7) << "the switch must not end the modal run";
  EXPECT_TRUE(visibleAfterSwitch);
  EXPECT_NE(dialog.FindButton("BUTTON_BETA"), nullptr);
}

TEST_F(SkinPackages, MouseMovesOverTheBackgroundReachTheHook) {
  skintest::WriteZip(program / "Alpha.skn", SimpleSkin(QColor(200, 10, 10), "BUTTON_ALPHA"));
  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;
  dialog.ApplySkinPackage((program / "Alpha.skn").string(), "Tmp/Skin.ini");
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  dialog.recordMoves = true;
  QTest::mouseMove(&dialog, QPoint(60, 40));
  QTest::mouseMove(&dialog, QPoint(70, 45));
  ASSERT_GE(dialog.events.size(), 2u);
  EXPECT_EQ(dialog.events.back(), "move '' 70 45");
}

TEST_F(SkinPackages, HostileLayoutValuesDoNotBreakTheWindow) {
  WriteFile(program / "garbage.bmp", std::string("BM") + std::string(60, '\xff'));
  // A BMP header that claims a picture of 100000 x 100000 pixels.
  std::string huge = BitmapBytes(QSize(4, 4), Qt::red);
  const std::int32_t side = 100000;
  std::memcpy(&huge[18], &side, 4);
  std::memcpy(&huge[22], &side, 4);
  WriteFile(program / "huge.bmp", huge);
  std::string layout = "[Main]\nScreen=garbage.bmp\n[COLOR]\nTRANSPARENT=0xZZZ\n[BUTTONINFO]\n";
  layout += "1=BUTTON_HUGE, huge.bmp, -2147483648,0,2147483647,99999999999, tip, T\n";
  layout += "2=BUTTON_LONG, garbage.bmp, 0,0,10,10, " + std::string(3000, 'x') + "\n";
  layout += "3=,,,,,,,,,,,,\n";
  layout += "[SLIDERINFO]\n1=S, huge.bmp, huge.bmp, garbage.bmp, 5,5,1,1, V, -99999999999, t\n";
  layout += "[PROGRESSINFO]\n1=P, 0,0,100000,100000, garbage.bmp\n";
  layout += "[LISTBOXINFO]\n1=L, 10,10,5,5\n";
  layout += "[COMBOBOXINFO]\n1=C, 0,0,0,0, huge.bmp\n";
  layout += "[LABELINFO]\n1=LBL, 0,0,50,20, text, , -5, \n";
  WriteFile(program / "Skin.ini", layout);
  skintest::RecordingDialog dialog;
  skintest::ApplyLayout(dialog, program, "Skin.ini");
  dialog.show();
  EXPECT_TRUE(dialog.Background().isNull());
  ASSERT_NE(dialog.FindButton("BUTTON_HUGE"), nullptr);
  EXPECT_TRUE(dialog.FindButton("BUTTON_HUGE")->FrameImage(0).isNull());
  EXPECT_NE(dialog.FindButton("BUTTON_LONG"), nullptr);
  // The value is read into a 2048-byte buffer: the tooltip is what fits after the other tokens.
  EXPECT_EQ(dialog.FindButton("BUTTON_LONG")->Tip(), std::string(2047 - 37, 'x'));
  EXPECT_NE(dialog.FindSlider("S"), nullptr);
  EXPECT_NE(dialog.FindList("L"), nullptr);
  EXPECT_NE(dialog.FindComboBox("C"), nullptr);
  EXPECT_LE(dialog.FindButton("BUTTON_HUGE")->width(), 16384);
  EXPECT_EQ(dialog.FindProgress("P"), nullptr) << "the main window reads no progress bars";
  EXPECT_EQ(dialog.size(), QSize(400, 300)) << "without a background the window is plain";
  EXPECT_FALSE(dialog.grab().isNull());
  dialog.ClearSkin();
  skintest::FlushDeletes();
}

TEST_F(SkinPackages, StaleWorkingFolderDoesNotSupplyFiles) {
  fs::create_directories(program / "Tmp");
  WriteFile(program / "Tmp" / "Skin.ini", "[BUTTONINFO]\n1=BUTTON_STALE, x.bmp, 0,0,1,1, t, F\n");
  skintest::CurrentFolder inside(program);
  skintest::RecordingDialog dialog;
  dialog.ApplySkinPackage((program / "absent.skn").string(), "Tmp/Skin.ini");
  EXPECT_EQ(dialog.FindButton("BUTTON_STALE"), nullptr);
  EXPECT_FALSE(fs::exists(program / "Tmp"));
}

}  // namespace

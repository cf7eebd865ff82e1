// Helpers for the skin engine tests: a QApplication, a current folder that is
// restored, bitmaps and layouts written into a temporary folder, zip packages
// built entry by entry, and a recorder of message boxes.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <filesystem>
#include <string>
#include <vector>

#include "app/skin/SkinDialog.h"
#include "platform/ui/MessageBox.h"
#include "tests/support/TempDir.h"

namespace skintest {

// The one QApplication of the test program (offscreen).
QApplication& Application();

// Makes `folder` the current folder and restores the previous one on exit.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::filesystem::path& folder);
  ~CurrentFolder();

 private:
  std::filesystem::path m_previous;
};

// Writes a BMP of `size` filled with `colour`.
void WriteBitmap(const std::filesystem::path& file, QSize size, QColor colour);
// Writes a BMP strip of frames side by side, one colour each.
void WriteStrip(const std::filesystem::path& file, QSize frame, const std::vector<QColor>& colours);
void WriteImage(const std::filesystem::path& file, const QImage& image);

// A zip archive written entry by entry.
struct ZipEntry {
  std::string name;
  std::string bytes;
  bool symbolicLink = false;  // stored with Unix link attributes
};
void WriteZip(const std::filesystem::path& file, const std::vector<ZipEntry>& entries);

// Records every message box and answers with the queued answers (then with
// the box's default button).
class MessageBoxRecorder {
 public:
  struct Box {
    std::string text;
    std::string caption;
    UINT type;
  };
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  void QueueAnswer(int answer) { m_answers.push_back(answer); }
  const std::vector<Box>& Boxes() const { return m_boxes; }
  std::vector<std::string> Texts() const;

 private:
  std::vector<Box> m_boxes;
  std::vector<int> m_answers;
  reel::MessageBoxHandler m_previous;
};

// A skinned window whose hooks are recorded, as "kind name [value]" lines.
class RecordingDialog : public CSkinDialog {
 public:
  void OnButtonClicked(const std::string& name) override { events.push_back("button " + name); }
  void OnOptionClicked(const std::string& name) override { events.push_back("option " + name); }
  void OnListDoubleClick() override { events.push_back("doubleclick"); }
  void OnSliderMoved(const std::string& name, int position) override {
    events.push_back("slider " + name + " " + std::to_string(position));
  }
  void OnBeforeSkinChange() override { events.push_back("before"); }
  void OnSkinChanged(int command) override { events.push_back("changed " + std::to_string(command)); }
  void OnOptions() override { events.push_back("options"); }
  void OnSkinMouseMove(const std::string& name, int x, int y) override {
    if (recordMoves) events.push_back("move '" + name + "' " + std::to_string(x) + " " + std::to_string(y));
  }
  std::vector<std::string> events;
  bool recordMoves = false;
};

// Applies a layout file written in `folder` (the file name relative to it).
void ApplyLayout(CSkinDialog& dialog, const std::filesystem::path& folder, const std::string& layout);

// Deletes what ClearSkin left for deletion.
void FlushDeletes();

// The colour of a grabbed widget's pixel.
QColor PixelOf(QWidget* widget, int x, int y);

}  // namespace skintest

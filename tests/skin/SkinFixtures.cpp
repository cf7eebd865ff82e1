#include "tests/skin/SkinFixtures.h"

#include <minizip/zip.h>

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <stdexcept>

namespace skintest {
namespace {

// Made before any test, so that fixtures may hold widgets as members.
class ApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { Application(); }
};

const bool kEnvironmentAdded = (::testing::AddGlobalTestEnvironment(new ApplicationEnvironment), true);

}  // namespace

QApplication& Application() {
  static int argc = 1;
  static char name[] = "skin_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* application = new QApplication(argc, argv);
  return *application;
}

CurrentFolder::CurrentFolder(const std::filesystem::path& folder) : m_previous(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

CurrentFolder::~CurrentFolder() {
  std::error_code ignored;
  std::filesystem::current_path(m_previous, ignored);
}

void WriteImage(const std::filesystem::path& file, const QImage& image) {
  if (!image.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(file.string()), "BMP")) {
    throw std::runtime_error("cannot write " + file.string());
  }
}

void WriteBitmap(const std::filesystem::path& file, QSize size, QColor colour) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(colour);
  WriteImage(file, image);
}

void WriteStrip(const std::filesystem::path& file, QSize frame, const std::vector<QColor>& colours) {
  QImage image(frame.width() * static_cast<int>(colours.size()), frame.height(), QImage::Format_RGB32);
  for (std::size_t index = 0; index < colours.size(); ++index) {
    for (int y = 0; y < frame.height(); ++y) {
      for (int x = 0; x < frame.width(); ++x) {
        image.setPixelColor(static_cast<int>(index) * frame.width() + x, y, colours[index]);
      }
    }
  }
  WriteImage(file, image);
}

void WriteZip(const std::filesystem::path& file, const std::vector<ZipEntry>& entries) {
  zipFile archive = zipOpen(file.c_str(), APPEND_STATUS_CREATE);
  if (!archive) throw std::runtime_error("cannot create " + file.string());
  for (const ZipEntry& entry : entries) {
    zip_fileinfo info{};
    if (entry.symbolicLink) info.external_fa = (0120777u << 16);
    // Version "made by" 3 (Unix) in the high byte, so link attributes count.
    if (zipOpenNewFileInZip4(archive, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                             Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                             3 << 8, 0) != ZIP_OK) {
      throw std::runtime_error("cannot add " + entry.name);
    }
    if (!entry.bytes.empty()) {
      zipWriteInFileInZip(archive, entry.bytes.data(), static_cast<unsigned>(entry.bytes.size()));
    }
    zipCloseFileInZip(archive);
  }
  zipClose(archive, nullptr);
}

MessageBoxRecorder::MessageBoxRecorder() {
  m_previous = reel::SetMessageBoxHandler([this](HWND, const std::string& text, const std::string& caption, UINT type) {
    m_boxes.push_back({text, caption, type});
    if (!m_answers.empty()) {
      const int answer = m_answers.front();
      m_answers.erase(m_answers.begin());
      return answer;
    }
    return reel::MessageBoxDefaultButton(type);
  });
}

MessageBoxRecorder::~MessageBoxRecorder() { reel::SetMessageBoxHandler(m_previous); }

std::vector<std::string> MessageBoxRecorder::Texts() const {
  std::vector<std::string> texts;
  for (const Box& box : m_boxes) texts.push_back(box.text);
  return texts;
}

void ApplyLayout(CSkinDialog& dialog, const std::filesystem::path& folder, const std::string& layout) {
  dialog.SetLayoutPath((folder / layout).string());
  dialog.LoadLayout();
}

void FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

QColor PixelOf(QWidget* widget, int x, int y) { return widget->grab().toImage().pixelColor(x, y); }

}  // namespace skintest

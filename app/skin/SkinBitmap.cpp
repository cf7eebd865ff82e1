#include "app/skin/SkinBitmap.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include "app/skin/SkinLayout.h"

namespace skin {
namespace {

// Skin bitmaps are small; anything larger than this is refused rather than
// decoded (a hostile package could otherwise ask for gigabytes).
constexpr int kLargestSide = 8192;

QImage ReadImage(const QString& path) {
  QImageReader reader(path);
  reader.setDecideFormatFromContent(true);
  const QSize size = reader.size();
  if (size.isValid() && (size.width() > kLargestSide || size.height() > kLargestSide)) return {};
  QImage image = reader.read();
  if (image.isNull()) return {};
  // Bitmaps are drawn opaque, as a bit-block transfer does: any alpha channel
  // in the file is dropped.
  return image.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

QImage LoadBitmap(const std::string& folder, const std::string& file) {
  if (file.empty()) return {};
  QString relative = QString::fromStdString(file);
  relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
  const QString path = QString::fromStdString(folder) + relative;
  if (QFileInfo(path).isFile()) return ReadImage(path);

  // Walk the path element by element, matching each without regard to case.
  QDir directory(QString::fromStdString(folder));
  const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  for (int position = 0; position < parts.size(); ++position) {
    const bool last = position + 1 == parts.size();
    const QStringList entries =
        directory.entryList(last ? QDir::Files : QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    QString match;
    for (const QString& entry : entries) {
      if (entry.compare(parts[position], Qt::CaseInsensitive) == 0) {
        match = entry;
        break;
      }
    }
    if (match.isEmpty()) return {};
    if (last) return ReadImage(directory.filePath(match));
    if (!directory.cd(match)) return {};
  }
  return {};
}

QImage KeyedImage(const QImage& image, std::uint32_t transparent) {
  if (image.isNull()) return {};
  QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
  if (transparent == kNoColour) return keyed;
  const QRgb key = OpaqueRgb(transparent) & 0x00FFFFFFu;
  for (int y = 0; y < keyed.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
    for (int x = 0; x < keyed.width(); ++x) {
      if ((line[x] & 0x00FFFFFFu) == key) line[x] = 0;
    }
  }
  return keyed;
}

}  // namespace skin

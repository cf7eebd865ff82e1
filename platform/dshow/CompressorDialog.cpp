#include "platform/dshow/CompressorDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QString>

#include <cmath>

#include "platform/win/Strings.h"

namespace reel {
namespace {

// Quality in percent, -1 standing for "encode at the bit rate".
int QualityPercent(double quality) { return quality < 0 ? -1 : static_cast<int>(std::lround(quality * 100)); }

QSpinBox* AddField(QFormLayout* form, const char* objectName, const QString& label, int minimum, int maximum, int value,
                   const QString& minimumText, const QString& suffix = QString()) {
  auto* field = new QSpinBox;
  field->setObjectName(QString::fromLatin1(objectName));
  field->setRange(minimum, maximum);
  field->setSpecialValueText(minimumText);
  field->setSuffix(suffix);
  field->setValue(value);
  form->addRow(label, field);
  return field;
}

}  // namespace

bool RunCompressorDialog(QWidget* parent, const VideoCodecDescription& codec, VideoCodecSettings* settings) {
  if (!settings) return false;
  QDialog dialog(parent);
  dialog.setWindowTitle(QString::fromStdU16String(codec.name));
  dialog.setModal(true);
  auto* form = new QFormLayout(&dialog);
  QSpinBox* quality = nullptr;
  QSpinBox* keyFrames = nullptr;
  QSpinBox* bitRate = nullptr;
  if (codec.hasQuality)
    quality = AddField(form, "quality", QObject::tr("Quality:"), -1, 100, QualityPercent(settings->quality),
                       QObject::tr("Bit rate"), QStringLiteral(" %"));
  if (codec.hasKeyFrames) {
    long interval = settings->keyFrameRate > 0 ? settings->keyFrameRate : codec.defaultKeyFrameRate;
    keyFrames = AddField(form, "keyFrameInterval", QObject::tr("Key frame every:"), 1,
                         static_cast<int>(kLongestKeyFrameInterval), static_cast<int>(interval),
                         QString(), QObject::tr(" frames"));
  }
  if (codec.hasBitRate) {
    long rate = settings->bitRate > 0 ? settings->bitRate : codec.defaultBitRate;
    bitRate = AddField(form, "bitRate", QObject::tr("Bit rate:"), 16, 100000, static_cast<int>(rate / 1000), QString(),
                       QObject::tr(" kbit/s"));
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);

  if (dialog.exec() != QDialog::Accepted) return false;
  if (quality) settings->quality = quality->value() < 0 ? -1.0 : quality->value() / 100.0;
  if (keyFrames) settings->keyFrameRate = keyFrames->value();
  if (bitRate) settings->bitRate = static_cast<long>(bitRate->value()) * 1000;
  return true;
}

}  // namespace reel

// The configuration dialog of a video codec: a small modal Qt dialog with
// the settings the codec has (quality, key-frame interval, bit rate). Its
// fields carry object names ("quality", "keyFrameInterval", "bitRate") so
// that a test can find them in the active modal widget, change them and
// accept the dialog.
#pragma once

#include "platform/dshow/Compressor.h"

class QWidget;

namespace reel {

// Shows the dialog over parent (may be null) until the user closes it.
// When accepted, *settings holds the values chosen and the result is true;
// when cancelled, *settings is unchanged. Runs on the user-interface thread.
bool RunCompressorDialog(QWidget* parent, const VideoCodecDescription& codec, VideoCodecSettings* settings);

}  // namespace reel

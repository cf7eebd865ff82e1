// The metadata writer on real FLV files written by FFmpeg's muxer: the output
// must pass `flvmeta --check`, the values flvmeta dumps must agree with the
// input, and libavformat must read the same packets from input and output.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cmath>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "control/FlvMetadataWriter.h"
#include "tests/flv/FlvTestFiles.h"
#include "tests/support/TempDir.h"

namespace {

using reel::test::ReadFile;
using reel::test::TempDir;

struct CommandResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CommandResult RunShell(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t read;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, read);
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

struct Packet {
  int stream = 0;
  std::int64_t dts = 0;  // FLV streams count in milliseconds
  std::int64_t position = 0;
  bool key = false;
  int size = 0;
};

struct MediaFile {
  std::string error;
  std::vector<AVCodecID> codecs;  // by stream index
  std::vector<AVMediaType> types;
  int sampleRate = 0;
  int channels = 0;
  double duration = 0;  // seconds, as libavformat reports it
  std::vector<Packet> packets;

  int StreamOf(AVMediaType type) const {
    for (std::size_t i = 0; i < types.size(); ++i) {
      if (types[i] == type) return static_cast<int>(i);
    }
    return -1;
  }
};

MediaFile OpenWithLibavformat(const std::string& path) {
  MediaFile file;
  AVFormatContext* context = nullptr;
  if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
    file.error = "cannot open " + path;
    return file;
  }
  if (avformat_find_stream_info(context, nullptr) < 0) file.error = "no stream info";
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVCodecParameters* parameters = context->streams[i]->codecpar;
    file.codecs.push_back(parameters->codec_id);
    file.types.push_back(parameters->codec_type);
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
      file.sampleRate = parameters->sample_rate;
      file.channels = parameters->ch_layout.nb_channels;
    }
  }
  if (context->duration != AV_NOPTS_VALUE) file.duration = context->duration / double(AV_TIME_BASE);
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(context, packet) >= 0) {
    file.packets.push_back({packet->stream_index, packet->dts, packet->pos, (packet->flags & AV_PKT_FLAG_KEY) != 0,
                            packet->size});
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&context);
  return file;
}

// The FLV ids of the codecs FFmpeg writes.
int FlvCodecId(AVCodecID codec) {
  switch (codec) {
    case AV_CODEC_ID_FLV1: return 2;
    case AV_CODEC_ID_H264: return 7;
    case AV_CODEC_ID_MP3: return 2;
    case AV_CODEC_ID_AAC: return 10;
    default: return -1;
  }
}

// The time of the input's last complete tag, whatever its type.
double LastTagSeconds(const std::string& file) {
  flvtest::ParsedFlv parsed = flvtest::ParseFlv(file);
  EXPECT_EQ(parsed.error, "");
  return parsed.tags.empty() ? 0 : parsed.tags.back().timeMs * 0.001;
}

struct FfmpegCase {
  const char* name;
  const char* encode;  // ffmpeg arguments between the sources and the output
  bool video;
  bool audio;
  int width;  // 0: the codec's header carries no size the writer reads
  int height;
  double sampleRate;  // the metadata's nominal rate
};

class FlvFromFfmpeg : public ::testing::TestWithParam<FfmpegCase> {};

TEST_P(FlvFromFfmpeg, OutputPassesFlvmetaAndAgreesWithTheInput) {
  const FfmpegCase& test = GetParam();
  TempDir folder("flvffmpeg");
  const std::string input = (folder / "in.flv").string();
  const std::string output = (folder / "out.flv").string();
  std::string sources;
  if (test.video) sources += " -f lavfi -i testsrc2=size=400x300:rate=25";
  if (test.audio) sources += " -f lavfi -i sine=frequency=440:sample_rate=44100";
  const CommandResult encoded =
      RunShell("ffmpeg -nostdin -v error -y" + sources + " -t 3.5 " + test.encode + " " + Quoted(input));
  ASSERT_EQ(encoded.exitCode, 0) << encoded.output;

  ASSERT_EQ(clipmill::FlvMetadataWriter::Rewrite(input, output), clipmill::FlvRewriteResult::Written);

  const CommandResult check = RunShell("flvmeta --check " + Quoted(output));
  EXPECT_EQ(check.exitCode, 0) << check.output;
  EXPECT_NE(check.output.find("0 error(s)"), std::string::npos) << check.output;
  EXPECT_EQ(check.output.find("error:"), std::string::npos) << check.output;

  const CommandResult dump = RunShell("flvmeta --dump --json " + Quoted(output));
  ASSERT_EQ(dump.exitCode, 0) << dump.output;
  const QJsonObject metadata = QJsonDocument::fromJson(QByteArray::fromStdString(dump.output)).object();
  ASSERT_FALSE(metadata.isEmpty()) << dump.output;

  const std::string inputBytes = ReadFile(input);
  const std::string outputBytes = ReadFile(output);
  const MediaFile source = OpenWithLibavformat(input);
  const MediaFile result = OpenWithLibavformat(output);
  ASSERT_EQ(source.error, "");
  ASSERT_EQ(result.error, "");

  // Duration and file size.
  EXPECT_DOUBLE_EQ(metadata["duration"].toDouble(), LastTagSeconds(inputBytes));
  EXPECT_NEAR(metadata["duration"].toDouble(), source.duration, 0.1);
  EXPECT_EQ(metadata["filesize"].toDouble(), static_cast<double>(outputBytes.size()));
  EXPECT_EQ(metadata["metadatacreator"].toString().toStdString(), "Quolrix Software 1.0");

  // Streams and codecs.
  const int videoStream = source.StreamOf(AVMEDIA_TYPE_VIDEO);
  const int audioStream = source.StreamOf(AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(videoStream >= 0, test.video);
  EXPECT_EQ(audioStream >= 0, test.audio);
  EXPECT_EQ(metadata["hasVideo"].toBool(), test.video);
  EXPECT_EQ(metadata["hasAudio"].toBool(), test.audio);
  if (test.video) {
    EXPECT_EQ(metadata["videocodecid"].toDouble(), FlvCodecId(source.codecs[videoStream]));
    EXPECT_NEAR(metadata["framerate"].toDouble(), 25, 1.5);
    if (test.width) {
      EXPECT_EQ(metadata["width"].toDouble(), test.width);
      EXPECT_EQ(metadata["height"].toDouble(), test.height);
    } else {
      EXPECT_FALSE(metadata.contains("width"));
      EXPECT_FALSE(metadata.contains("height"));
    }
  } else {
    EXPECT_FALSE(metadata.contains("videocodecid"));
    EXPECT_FALSE(metadata.contains("keyframes"));
  }
  if (test.audio) {
    EXPECT_EQ(metadata["audiocodecid"].toDouble(), FlvCodecId(source.codecs[audioStream]));
    EXPECT_EQ(metadata["audiosamplerate"].toDouble(), test.sampleRate);
    EXPECT_EQ(metadata["stereo"].toBool(), source.channels == 2);
    EXPECT_GT(metadata["audiodatarate"].toDouble(), 0);
  }

  // The output carries the input's packets unchanged, and libavformat reads them all.
  EXPECT_EQ(result.codecs, source.codecs);
  ASSERT_EQ(result.packets.size(), source.packets.size());
  for (std::size_t i = 0; i < source.packets.size(); ++i) {
    EXPECT_EQ(result.packets[i].stream, source.packets[i].stream) << i;
    EXPECT_EQ(result.packets[i].dts, source.packets[i].dts) << i;
    EXPECT_EQ(result.packets[i].size, source.packets[i].size) << i;
    EXPECT_EQ(result.packets[i].key, source.packets[i].key) << i;
  }

  if (!test.video) return;
  // Keyframe index: every entry is a video keyframe tag of the output at the
  // listed time, and every keyframe packet libavformat finds is listed.
  const QJsonArray positions = metadata["keyframes"].toObject()["filepositions"].toArray();
  const QJsonArray times = metadata["keyframes"].toObject()["times"].toArray();
  ASSERT_FALSE(positions.isEmpty());
  ASSERT_EQ(positions.size(), times.size());
  const flvtest::ParsedFlv parsed = flvtest::ParseFlv(outputBytes);
  ASSERT_EQ(parsed.error, "");
  std::size_t tag = 0;
  for (qsizetype i = 0; i < positions.size(); ++i) {
    const auto position = static_cast<std::uint64_t>(positions[i].toDouble());
    while (tag < parsed.tags.size() && parsed.tags[tag].offset < position) ++tag;
    ASSERT_LT(tag, parsed.tags.size());
    ASSERT_EQ(parsed.tags[tag].offset, position) << "entry " << i << " is not at a tag header";
    EXPECT_EQ(parsed.tags[tag].type, 9);
    EXPECT_TRUE(parsed.tags[tag].data[0] & 0x10);
    EXPECT_DOUBLE_EQ(times[i].toDouble(), parsed.tags[tag].timeMs * 0.001);
  }
  int keyPackets = 0;
  for (const Packet& packet : result.packets) {
    if (packet.stream != videoStream || !packet.key) continue;
    ++keyPackets;
    bool listed = false;
    for (qsizetype i = 0; i < positions.size(); ++i) {
      listed |= positions[i].toDouble() == static_cast<double>(packet.position) &&
                std::lround(times[i].toDouble() * 1000) == packet.dts;
    }
    EXPECT_TRUE(listed) << "keyframe packet at " << packet.position;
  }
  EXPECT_GE(keyPackets, 3);  // a keyframe every second
  EXPECT_EQ(metadata["lastkeyframelocation"].toDouble(), positions.last().toDouble());
  EXPECT_EQ(metadata["lastkeyframetimestamp"].toDouble(), times.last().toDouble());
}

INSTANTIATE_TEST_SUITE_P(
    RealFiles, FlvFromFfmpeg,
    ::testing::Values(
        FfmpegCase{"SorensonH263WithMp3", "-c:v flv1 -g 25 -c:a libmp3lame -ar 44100", true, true, 400, 300, 44100},
        FfmpegCase{"SorensonH263Qvga", "-c:v flv1 -s 320x240 -g 25 -an", true, false, 320, 240, 0},
        FfmpegCase{"H264WithAac", "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -ac 2", true, true, 400,
                   300, 44100},
        FfmpegCase{"Mp3AudioOnly", "-c:a libmp3lame -ar 22050", false, true, 0, 0, 22000}),
    [](const ::testing::TestParamInfo<FfmpegCase>& info) { return std::string(info.param.name); });

}  // namespace

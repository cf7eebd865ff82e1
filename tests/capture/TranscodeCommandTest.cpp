// `reeltool transcode` run as a program on generated clips: the files it
// writes open in libavformat with the asked-for codecs and sizes and play in
// mpv; refused options and failures give their exit status and a message
// and leave no file.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/support/PlayerCheck.h"
#include "tests/support/TempDir.h"

namespace {

namespace fixtures = reel::fixtures;

struct ProgramResult {
  int status = -1;
  std::string output;  // stdout and stderr
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ProgramResult RunReeltool(const std::vector<std::string>& arguments) {
  std::string command = Quoted(REELTOOL_PROGRAM) + " transcode";
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  command += " 2>&1";
  ProgramResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  std::size_t read = 0;
  while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), read);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// A custom profile: WMV2 at 176x144 and 12 fps with WMA2 stereo sound.
const char* const kPocketProfile = R"(<profile version="589824" name="Pocket 176x144" description="test">
  <streamconfig majortype="{73647561-0000-0010-8000-00AA00389B71}" streamnumber="1" streamname="Audio Stream" inputname="Audio409" bitrate="64000" bufferwindow="3000">
    <wmmediatype subtype="{00000161-0000-0010-8000-00AA00389B71}" bfixedsizesamples="1" btemporalcompression="0" lsamplesize="2973">
      <waveformatex wFormatTag="353" nChannels="2" nSamplesPerSec="44100" nAvgBytesPerSec="8000" nBlockAlign="2973" wBitsPerSample="16"/>
    </wmmediatype>
  </streamconfig>
  <streamconfig majortype="{73646976-0000-0010-8000-00AA00389B71}" streamnumber="2" streamname="Video Stream" inputname="Video409" bitrate="300000" bufferwindow="5000">
    <wmmediatype subtype="{32564D57-0000-0010-8000-00AA00389B71}" bfixedsizesamples="0" btemporalcompression="1" lsamplesize="0">
      <videoinfoheader dwbitrate="300000" dwbiterrorrate="0" avgtimeperframe="833333">
        <rcsource left="0" top="0" right="176" bottom="144"/>
        <rctarget left="0" top="0" right="176" bottom="144"/>
        <bitmapinfoheader biwidth="176" biheight="144" biplanes="1" bibitcount="24" bicompression="WMV2"/>
      </videoinfoheader>
    </wmmediatype>
  </streamconfig>
</profile>)";

class TranscodeCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fixtures::FixtureKind* kind = fixtures::FindKind("mp4");  // H.264 and AAC
    ASSERT_NE(kind, nullptr);
    spec = kind->spec;
    std::string error;
    ASSERT_TRUE(fixtures::WriteClip(spec, source.string(), &error)) << error;
    reel::test::WriteFile(folder / "pocket.prx", kPocketProfile);
    reel::test::WriteFile(folder / "broken.prx", "<profile version=\"589824\"><streamconfig majortype=");
  }

  reel::test::TempDir folder{"transcode"};
  std::filesystem::path source = folder / "source.mp4";
  fixtures::ClipSpec spec;
};

struct Conversion {
  const char* name;
  const char* output;
  std::vector<std::string> options;
  const char* videoCodec;
  const char* audioCodec;
  int width;
  int height;
};

void PrintTo(const Conversion& entry, std::ostream* stream) { *stream << entry.name; }

class Converts : public TranscodeCommandTest, public ::testing::WithParamInterface<Conversion> {};

TEST_P(Converts, WritesAFileThatPlays) {
  const Conversion& conversion = GetParam();
  std::filesystem::path output = folder / conversion.output;
  std::vector<std::string> arguments{source.string(), output.string()};
  for (const std::string& option : conversion.options)
    arguments.push_back(option.rfind("@", 0) == 0 ? (folder / option.substr(1)).string() : option);
  ProgramResult result = RunReeltool(arguments);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("transcoded "), std::string::npos) << result.output;

  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  const fixtures::StreamReport* video = report.FirstVideo();
  const fixtures::StreamReport* audio = report.FirstAudio();
  ASSERT_TRUE(video && audio) << fixtures::FormatReport(output.string(), report);
  EXPECT_EQ(video->codecName, conversion.videoCodec);
  EXPECT_EQ(video->width, conversion.width);
  EXPECT_EQ(video->height, conversion.height);
  EXPECT_EQ(video->decodeErrors, 0);
  EXPECT_GT(video->decodedFrames, 0);
  EXPECT_EQ(audio->codecName, conversion.audioCodec);
  EXPECT_NEAR(audio->decodedSeconds, spec.LengthSeconds(), 0.1);
  reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
  EXPECT_TRUE(verdict.played) << verdict.log;
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, Converts,
    ::testing::Values(
        Conversion{"AviXvidMp3", "out.avi", {"--video", "Xvid MPEG-4 Codec", "--audio", "MPEG Layer-3"}, "mpeg4", "mp3",
                   160, 120},
        Conversion{"AviMjpegPcm", "out.avi", {"--video", "MJPEG Compressor", "--audio", "PCM"}, "mjpeg", "pcm_s16le",
                   160, 120},
        Conversion{"AviResizedMpeg4Pcm", "out.avi",
                   {"--video", "Xvid MPEG-4 Codec", "--audio", "PCM", "--size", "320x240"}, "mpeg4", "pcm_s16le",
                   320, 240},
        Conversion{"WmvDefaultProfileResized", "out.wmv", {"--size", "176x144"}, "wmv2", "wmav2", 176, 144},
        Conversion{"WmvProfileFile", "out.wmv", {"--profile", "@pocket.prx"}, "wmv2", "wmav2", 176, 144}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TranscodeCommandTest, RefusalsAndFailuresExplainThemselves) {
  std::string avi = (folder / "out.avi").string();
  std::string wmv = (folder / "out.wmv").string();
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    int status;
    const char* message;  // part of what the program prints
  };
  const Case cases[] = {
      {"no output", {source.string()}, 2, "usage: reeltool transcode"},
      {"unknown container", {source.string(), (folder / "out.mkv").string()}, 2, "must be an .avi or a .wmv"},
      {"odd size", {source.string(), wmv, "--size", "175x144"}, 2, "expected WxH"},
      {"compressor for WMV", {source.string(), wmv, "--video", "MJPEG Compressor"}, 2, "--profile"},
      {"profile for AVI", {source.string(), avi, "--profile", "x.prx"}, 2, "for WMV"},
      {"unknown option", {source.string(), avi, "--fast"}, 2, "unknown option"},
      {"unknown video compressor", {source.string(), avi, "--video", "Nope"}, 1, "\"MJPEG Compressor\""},
      {"unknown audio compressor", {source.string(), avi, "--audio", "Nope"}, 1, "\"MPEG Layer-3\""},
      {"missing input", {(folder / "absent.mp4").string(), avi}, 1, "opening the input"},
      {"broken profile file", {source.string(), wmv, "--profile", (folder / "broken.prx").string()}, 1,
       "loading the profile file"},
      {"unknown system profile", {source.string(), wmv, "--profile", "{00000000-0000-0000-0000-0000000000AB}"}, 1,
       "system profile"},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.what);
    ProgramResult result = RunReeltool(entry.arguments);
    EXPECT_EQ(result.status, entry.status) << result.output;
    EXPECT_NE(result.output.find(entry.message), std::string::npos) << result.output;
    EXPECT_FALSE(std::filesystem::exists(avi) || std::filesystem::exists(wmv));
  }
}

}  // namespace

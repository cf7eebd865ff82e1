#include "tests/videocompressors/CompressorGraph.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/com/Bstr.h"
#include "platform/com/Variant.h"
#include "platform/dshow/DeviceEnumerator.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/dshow/MediaType.h"
#include "platform/win/Strings.h"
#include "tests/support/GraphHarness.h"

namespace reel::test {
namespace {

std::u16string Wide(const std::filesystem::path& path) { return Utf8ToUtf16(path.string()); }

// Calls visit(name, moniker) for each moniker of the video compressor
// category until it returns true.
void ForEachVideoCompressor(const std::function<bool(const std::u16string&, IMoniker*)>& visit) {
  auto enumerator = CreateObject<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  ASSERT_TRUE(enumerator);
  ComPtr<IEnumMoniker> monikers;
  if (enumerator->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) != S_OK) return;
  IMoniker* moniker = nullptr;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IMoniker> held;
    held.Attach(moniker);
    ComPtr<IPropertyBag> bag;
    if (FAILED(held->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) continue;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    std::u16string name;
    if (SUCCEEDED(bag->Read(u"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
      name = Utf8ToUtf16(Utf8FromBstr(value.bstrVal));
    VariantClear(&value);
    if (visit(name, held.Get())) return;
  }
}

}  // namespace

std::filesystem::path CompressorGraph::WriteSource(const std::string& kindName,
                                                   const std::function<void(fixtures::ClipSpec&)>& adjust) {
  const fixtures::FixtureKind* kind = fixtures::FindKind(kindName);
  EXPECT_NE(kind, nullptr) << kindName;
  if (!kind) return {};
  spec = kind->spec;
  if (adjust) adjust(spec);
  std::filesystem::path file = folder / ("source-" + kindName + "." + kind->extension);
  std::string error;
  EXPECT_TRUE(fixtures::WriteClip(spec, file.string(), &error)) << error;
  return file;
}

void CompressorGraph::BuildToCompressor(const std::filesystem::path& source, const std::filesystem::path& output,
                                        IBaseFilter* compressor, REFGUID videoSubtype) {
  graph = CreateObject<IGraphBuilder>(CLSID_FilterGraph);
  ASSERT_TRUE(graph);
  ComPtr<IBaseFilter> reader;
  ASSERT_EQ(graph->AddSourceFilter(Wide(source).c_str(), u"Source", &reader), S_OK);
  mux_ = CreateObject<IBaseFilter>(CLSID_AviDest);
  auto writer = CreateObject<IBaseFilter>(CLSID_FileWriter);
  ASSERT_TRUE(mux_ && writer);
  ASSERT_EQ(graph->AddFilter(mux_.Get(), u"AVI Mux"), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.Get(), u"File Writer"), S_OK);
  auto sink = QueryObject<IFileSinkFilter2>(writer.Get());
  ASSERT_TRUE(sink);
  ASSERT_EQ(sink->SetFileName(Wide(output).c_str(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(PinsOf(mux_.Get(), PINDIR_OUTPUT).at(0).Get(),
                                 PinsOf(writer.Get(), PINDIR_INPUT).at(0).Get(), nullptr),
            S_OK);
  compressor_ = compressor;
  ASSERT_EQ(graph->AddFilter(compressor, u"Compressor"), S_OK);

  for (ComPtr<IPin>& pin : PinsOf(reader.Get(), PINDIR_OUTPUT)) {
    bool video = FirstMajorType(pin.Get()) == MEDIATYPE_Video;
    auto decoder = CreateObject<IBaseFilter>(video ? CLSID_MediaVideoDecoder : CLSID_MediaAudioDecoder);
    ASSERT_TRUE(decoder);
    ASSERT_EQ(graph->AddFilter(decoder.Get(), video ? u"Video Decoder" : u"Audio Decoder"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(pin.Get(), PinsOf(decoder.Get(), PINDIR_INPUT).at(0).Get(), nullptr), S_OK);
    ComPtr<IPin> decoded = PinsOf(decoder.Get(), PINDIR_OUTPUT).at(0);
    if (!video) {
      CMediaType pcm(&MEDIATYPE_Audio);
      pcm.SetSubtype(&MEDIASUBTYPE_PCM);
      ASSERT_EQ(graph->ConnectDirect(decoded.Get(), FreeInput(mux_.Get()).Get(), &pcm), S_OK);
      continue;
    }
    // The decoder takes the uncompressed type proposed to it.
    CMediaType wanted;
    ASSERT_TRUE(MakeVideoType(videoSubtype, spec.width, spec.height,
                              static_cast<REFERENCE_TIME>(UNITS / spec.frameRate.value()), &wanted));
    HRESULT connected =
        graph->ConnectDirect(decoded.Get(), PinsOf(compressor, PINDIR_INPUT).at(0).Get(), &wanted);
    ASSERT_EQ(connected, S_OK) << std::hex << connected << " " << DescribeGraph(graph.Get());
  }
}

HRESULT CompressorGraph::ConnectCompressorOutput(const AM_MEDIA_TYPE* proposed) {
  if (!graph || !compressor_ || !mux_) return E_UNEXPECTED;
  return graph->ConnectDirect(PinsOf(compressor_.Get(), PINDIR_OUTPUT).at(0).Get(), FreeInput(mux_.Get()).Get(),
                              proposed);
}

void CompressorGraph::Build(const std::filesystem::path& source, const std::filesystem::path& output,
                            IBaseFilter* compressor, REFGUID videoSubtype) {
  BuildToCompressor(source, output, compressor, videoSubtype);
  if (::testing::Test::HasFatalFailure()) return;
  HRESULT connected = ConnectCompressorOutput();
  ASSERT_EQ(connected, S_OK) << std::hex << connected << " " << DescribeGraph(graph.Get());
  RunWithoutClock(graph.Get());
}

bool CompressorGraph::Convert(const std::filesystem::path& source, const std::filesystem::path& output,
                              IBaseFilter* compressor, REFGUID videoSubtype) {
  Build(source, output, compressor, videoSubtype);
  if (::testing::Test::HasFatalFailure() || !graph) return false;
  bool complete = RunToCompletion(graph.Get(), 120000);
  EXPECT_TRUE(complete) << DescribeGraph(graph.Get());
  return complete;
}

ComPtr<IBaseFilter> FindVideoCompressor(const std::u16string& wanted) {
  ComPtr<IBaseFilter> filter;
  ForEachVideoCompressor([&](const std::u16string& name, IMoniker* moniker) {
    if (name != wanted) return false;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    return true;
  });
  return filter;
}

std::vector<std::u16string> VideoCompressorNames() {
  std::vector<std::u16string> names;
  ForEachVideoCompressor([&](const std::u16string& name, IMoniker*) {
    names.push_back(name);
    return false;
  });
  return names;
}

namespace {

// Calls visit(packet) for each packet of the file's first video stream.
void ForEachVideoPacket(const std::string& path, const std::function<void(const AVPacket&)>& visit) {
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return;
  int stream = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVPacket* packet = av_packet_alloc();
  while (stream >= 0 && packet && av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == stream && packet->size > 0) visit(*packet);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
}

}  // namespace

std::vector<bool> VideoKeyFrames(const std::string& path) {
  std::vector<bool> keys;
  ForEachVideoPacket(path, [&](const AVPacket& packet) { keys.push_back(packet.flags & AV_PKT_FLAG_KEY); });
  return keys;
}

std::uintmax_t VideoBytes(const std::string& path) {
  std::uintmax_t bytes = 0;
  ForEachVideoPacket(path, [&](const AVPacket& packet) { bytes += static_cast<std::uintmax_t>(packet.size); });
  return bytes;
}

}  // namespace reel::test

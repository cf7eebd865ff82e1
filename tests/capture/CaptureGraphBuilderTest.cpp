// The capture graph builder on real graphs: output files set up with
// SetOutputFileName, streams connected with RenderStream (decoders put in by
// intelligent connect, compressors as intermediate filters, default
// renderers for a missing sink), FindInterface up and down the stream, and
// the error results of bad calls. Converted files are opened with
// libavformat and played in mpv.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/TaskMemory.h"
#include "platform/dshow/AsfWriter.h"
#include "platform/dshow/CaptureGraphBuilder.h"
#include "platform/dshow/Compressor.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/dshow/StockFilters.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/PlayerCheck.h"
#include "tests/support/TempDir.h"

namespace {

using reel::ComPtr;
using reel::IsSameObject;
using reel::test::CreateObject;
using reel::test::PinsOf;
using reel::test::QueryObject;
namespace fixtures = reel::fixtures;

std::u16string Wide(const std::filesystem::path& path) { return reel::Utf8ToUtf16(path.string()); }

CLSID ClassOf(IBaseFilter* filter) {
  CLSID clsid = GUID_NULL;
  if (filter) filter->GetClassID(&clsid);
  return clsid;
}

ComPtr<IBaseFilter> FilterOf(IPin* pin) {
  PIN_INFO info{};
  ComPtr<IBaseFilter> filter;
  if (pin && SUCCEEDED(pin->QueryPinInfo(&info))) filter.Attach(info.pFilter);
  return filter;
}

// The filter on the other end of the pin's connection; null when unconnected.
ComPtr<IBaseFilter> PeerFilterOf(IPin* pin) {
  ComPtr<IPin> peer;
  if (!pin || FAILED(pin->ConnectedTo(&peer))) return nullptr;
  return FilterOf(peer.Get());
}

int ConnectedInputs(IBaseFilter* filter) {
  int connected = 0;
  for (ComPtr<IPin>& pin : PinsOf(filter, PINDIR_INPUT))
    if (PeerFilterOf(pin.Get())) ++connected;
  return connected;
}

std::vector<ComPtr<IBaseFilter>> FiltersOf(IGraphBuilder* graph) {
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<IEnumFilters> enumerator;
  graph->EnumFilters(&enumerator);
  IBaseFilter* filter = nullptr;
  while (enumerator && enumerator->Next(1, &filter, nullptr) == S_OK) {
    ComPtr<IBaseFilter> held;
    held.Attach(filter);
    filters.push_back(held);
  }
  return filters;
}

// The filter of that class in the graph, or null.
ComPtr<IBaseFilter> FilterOfClass(IGraphBuilder* graph, REFCLSID clsid) {
  for (ComPtr<IBaseFilter>& filter : FiltersOf(graph))
    if (ClassOf(filter.Get()) == clsid) return filter;
  return nullptr;
}

// The first output pin of the filter that carries that major type.
ComPtr<IPin> OutputOfType(IBaseFilter* filter, REFGUID major) {
  for (ComPtr<IPin>& pin : PinsOf(filter, PINDIR_OUTPUT))
    if (reel::test::FirstMajorType(pin.Get()) == major) return pin;
  return nullptr;
}

class CaptureGraphBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    builder = CreateObject<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    ASSERT_TRUE(builder);
    ASSERT_EQ(builder->GetFiltergraph(&graph), S_OK);
    ASSERT_TRUE(graph);
  }

  // Writes the fixture of that kind and adds its source filter to the graph.
  void AddSource(const std::string& kindName) {
    const fixtures::FixtureKind* kind = fixtures::FindKind(kindName);
    ASSERT_NE(kind, nullptr) << kindName;
    spec = kind->spec;
    sourceFile = folder / ("source." + kind->extension);
    std::string error;
    ASSERT_TRUE(fixtures::WriteClip(spec, sourceFile.string(), &error)) << error;
    ASSERT_EQ(graph->AddSourceFilter(Wide(sourceFile).c_str(), u"Source", &source), S_OK);
  }

  ComPtr<IBaseFilter> AddFilter(REFCLSID clsid, const char16_t* name) {
    auto filter = CreateObject<IBaseFilter>(clsid);
    EXPECT_TRUE(filter);
    if (filter) {
      EXPECT_EQ(graph->AddFilter(filter.Get(), name), S_OK);
    }
    return filter;
  }

  // Source (PCM sound) -> decoder -> compressor -> AVI Mux -> File writer,
  // and the sound straight into the multiplexer, all through the builder.
  void BuildAvi(REFCLSID compressorClass) {
    AddSource("avi-msmpeg4-pcm");
    if (HasFatalFailure()) return;
    output = folder / "out.avi";
    ASSERT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, Wide(output).c_str(), &mux, &sink), S_OK);
    ASSERT_TRUE(mux && sink);
    compressor = AddFilter(compressorClass, u"Compressor");
    ASSERT_TRUE(compressor);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, source.Get(), compressor.Get(), mux.Get()), S_OK)
        << reel::DescribeGraph(graph.Get());
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Audio, source.Get(), nullptr, mux.Get()), S_OK)
        << reel::DescribeGraph(graph.Get());
  }

  // Runs the graph without a clock and checks the AVI file it wrote.
  void RunAndCheckAvi(const std::string& videoCodec) {
    reel::test::RunWithoutClock(graph.Get());
    ASSERT_TRUE(reel::test::RunToCompletion(graph.Get(), 60000)) << reel::DescribeGraph(graph.Get());
    fixtures::MediaReport report = fixtures::Probe(output.string());
    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_EQ(report.formatName, "avi");
    ASSERT_EQ(report.streams.size(), 2u) << fixtures::FormatReport(output.string(), report);
    const fixtures::StreamReport* video = report.FirstVideo();
    const fixtures::StreamReport* audio = report.FirstAudio();
    ASSERT_TRUE(video && audio) << fixtures::FormatReport(output.string(), report);
    EXPECT_EQ(video->codecName, videoCodec);
    EXPECT_EQ(video->width, spec.width);
    EXPECT_EQ(video->height, spec.height);
    EXPECT_EQ(video->decodeErrors, 0);
    EXPECT_NEAR(static_cast<double>(video->decodedFrames), spec.VideoFrameCount(), 1.0);
    EXPECT_EQ(audio->codecName, "pcm_s16le");
    EXPECT_EQ(audio->sampleRate, spec.sampleRate);
    EXPECT_EQ(audio->channels, spec.channels);
    EXPECT_NEAR(audio->decodedSeconds, spec.LengthSeconds(), 0.05);
    reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
    EXPECT_TRUE(verdict.played) << verdict.log;
  }

  reel::test::TempDir folder{"capture"};
  fixtures::ClipSpec spec;
  std::filesystem::path sourceFile;
  std::filesystem::path output;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> source;
  ComPtr<IBaseFilter> mux;
  ComPtr<IFileSinkFilter> sink;
  ComPtr<IBaseFilter> compressor;
};

struct CompressorCase {
  const char* name;
  CLSID compressor;
  const char* codec;  // as libavformat names it
};

void PrintTo(const CompressorCase& entry, std::ostream* stream) { *stream << entry.name; }

class AviThroughCompressor : public CaptureGraphBuilderTest, public ::testing::WithParamInterface<CompressorCase> {};

TEST_P(AviThroughCompressor, WritesAFileThatPlays) {
  BuildAvi(GetParam().compressor);
  ASSERT_FALSE(HasFatalFailure());

  // SetOutputFileName: AVI Mux feeding a File writer that has the name.
  EXPECT_EQ(ClassOf(mux.Get()), CLSID_AviDest);
  auto writer = QueryObject<IBaseFilter>(sink.Get());
  EXPECT_EQ(ClassOf(writer.Get()), CLSID_FileWriter);
  EXPECT_TRUE(IsSameObject(PeerFilterOf(PinsOf(mux.Get(), PINDIR_OUTPUT).at(0).Get()).Get(), writer.Get()));
  LPOLESTR name = nullptr;
  ASSERT_EQ(sink->GetCurFile(&name, nullptr), S_OK);
  EXPECT_EQ(reel::Utf16ToUtf8(name), output.string());
  CoTaskMemFree(name);

  // The compressed source reached the compressor through a decoder that
  // intelligent connect put in; the sound went straight in.
  ComPtr<IBaseFilter> decoder = PeerFilterOf(PinsOf(compressor.Get(), PINDIR_INPUT).at(0).Get());
  ASSERT_TRUE(decoder);
  EXPECT_FALSE(IsSameObject(decoder.Get(), source.Get()));
  EXPECT_TRUE(IsSameObject(PeerFilterOf(PinsOf(decoder.Get(), PINDIR_INPUT).at(0).Get()).Get(), source.Get()));
  EXPECT_TRUE(IsSameObject(PeerFilterOf(OutputOfType(source.Get(), MEDIATYPE_Audio).Get()).Get(), mux.Get()));
  EXPECT_EQ(ConnectedInputs(mux.Get()), 2);

  RunAndCheckAvi(GetParam().codec);
}

INSTANTIATE_TEST_SUITE_P(Compressors, AviThroughCompressor,
                         ::testing::Values(CompressorCase{"Mjpeg", CLSID_MjpegCompressor, "mjpeg"},
                                           CompressorCase{"Mpeg4", CLSID_Mpeg4Compressor, "mpeg4"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureGraphBuilderTest, FindInterfaceSearchesTheFilterItsPinsAndTheStream) {
  BuildAvi(CLSID_MjpegCompressor);
  ASSERT_FALSE(HasFatalFailure());
  auto writer = QueryObject<IBaseFilter>(sink.Get());
  ComPtr<IPin> muxOutput = PinsOf(mux.Get(), PINDIR_OUTPUT).at(0);

  struct Case {
    const char* what;
    const GUID* category;
    const GUID* type;
    IBaseFilter* from;
    IID iid;
    IUnknown* expected;  // null: not to be found
  };
  const Case cases[] = {
      {"interleaving on the multiplexer itself", nullptr, nullptr, mux.Get(), IID_IConfigInterleaving, mux.Get()},
      {"file sink downstream of the multiplexer", nullptr, nullptr, mux.Get(), IID_IFileSinkFilter, writer.Get()},
      {"file sink from the source", nullptr, nullptr, source.Get(), IID_IFileSinkFilter2, writer.Get()},
      {"compression downstream of the source", &LOOK_DOWNSTREAM_ONLY, nullptr, source.Get(),
       IID_IAMVideoCompression, compressor.Get()},
      {"compression down the video stream", nullptr, &MEDIATYPE_Video, source.Get(), IID_IAMVideoCompression,
       compressor.Get()},
      {"no compression down the audio stream", nullptr, &MEDIATYPE_Audio, source.Get(), IID_IAMVideoCompression,
       nullptr},
      {"compression upstream of the writer", &LOOK_UPSTREAM_ONLY, nullptr, writer.Get(), IID_IAMVideoCompression,
       compressor.Get()},
      {"nothing upstream of the source", &LOOK_UPSTREAM_ONLY, nullptr, source.Get(), IID_IAMVideoCompression,
       nullptr},
      {"nothing downstream of the writer", &LOOK_DOWNSTREAM_ONLY, nullptr, writer.Get(), IID_IConfigInterleaving,
       nullptr},
      {"upstream only skips the filter itself", &LOOK_UPSTREAM_ONLY, nullptr, mux.Get(), IID_IConfigInterleaving,
       nullptr},
      {"interleaving upstream of the writer", &LOOK_UPSTREAM_ONLY, nullptr, writer.Get(), IID_IConfigInterleaving,
       mux.Get()},
      {"a pin's interface", nullptr, nullptr, writer.Get(), IID_IPin, nullptr},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.what);
    ComPtr<IUnknown> found;
    HRESULT result = builder->FindInterface(entry.category, entry.type, entry.from, entry.iid,
                                            reinterpret_cast<void**>(&found));
    if (entry.iid == IID_IPin) {
      // The writer has only its input pin: that is what answers.
      ASSERT_EQ(result, S_OK);
      EXPECT_TRUE(IsSameObject(found.Get(), PinsOf(writer.Get(), PINDIR_INPUT).at(0).Get()));
    } else if (entry.expected) {
      ASSERT_EQ(result, S_OK);
      EXPECT_TRUE(IsSameObject(found.Get(), entry.expected));
    } else {
      EXPECT_EQ(result, E_NOINTERFACE);
      EXPECT_FALSE(found);
    }
  }
}

TEST_F(CaptureGraphBuilderTest, NoSinkRendersToTheDefaultRendererNotTheMultiplexer) {
  AddSource("avi-msmpeg4-pcm");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, Wide(folder / "out.avi").c_str(), &mux, &sink), S_OK);
  ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, source.Get(), nullptr, nullptr), S_OK);
  ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Audio, source.Get(), nullptr, nullptr), S_OK);

  ComPtr<IBaseFilter> videoRenderer = FilterOfClass(graph.Get(), CLSID_VideoRenderer);
  ComPtr<IBaseFilter> audioRenderer = FilterOfClass(graph.Get(), CLSID_AudioRender);
  ASSERT_TRUE(videoRenderer && audioRenderer) << reel::DescribeGraph(graph.Get());
  EXPECT_EQ(ConnectedInputs(videoRenderer.Get()), 1);
  EXPECT_EQ(ConnectedInputs(audioRenderer.Get()), 1);
  EXPECT_EQ(ConnectedInputs(mux.Get()), 0);
  // Both source pins are used now: a third call has nothing to render.
  EXPECT_TRUE(FAILED(builder->RenderStream(nullptr, &MEDIATYPE_Video, source.Get(), nullptr, nullptr)));
}

// The converter's own AVI graph on decoded pictures: source pin through a
// decoder -> tee, tee -> compressor -> multiplexer, and the tee's next pin
// to the default video renderer.
TEST_F(CaptureGraphBuilderTest, TeeFeedsTheFileAndARendererFromPinsAndFilters) {
  AddSource("avi-msmpeg4-pcm");
  ASSERT_FALSE(HasFatalFailure());
  output = folder / "out.avi";
  ASSERT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, Wide(output).c_str(), &mux, &sink), S_OK);
  ComPtr<IBaseFilter> decoder = AddFilter(CLSID_MediaVideoDecoder, u"Video Decoder");
  ComPtr<IBaseFilter> tee = AddFilter(CLSID_InfTee, u"Smart Tee 2");
  compressor = AddFilter(CLSID_Mpeg4Compressor, u"Compressor");
  ASSERT_TRUE(decoder && tee && compressor);

  ComPtr<IPin> videoPin = OutputOfType(source.Get(), MEDIATYPE_Video);
  ComPtr<IPin> audioPin = OutputOfType(source.Get(), MEDIATYPE_Audio);
  ASSERT_TRUE(videoPin && audioPin);
  ASSERT_EQ(builder->RenderStream(nullptr, nullptr, videoPin.Get(), decoder.Get(), tee.Get()), S_OK);
  ASSERT_EQ(builder->RenderStream(nullptr, nullptr, tee.Get(), compressor.Get(), mux.Get()), S_OK);
  ASSERT_EQ(builder->RenderStream(nullptr, nullptr, tee.Get(), nullptr, nullptr), S_OK);
  ASSERT_EQ(builder->RenderStream(nullptr, nullptr, audioPin.Get(), nullptr, mux.Get()), S_OK);
  // A pin that is already connected is not rendered again.
  EXPECT_EQ(builder->RenderStream(nullptr, nullptr, videoPin.Get(), nullptr, tee.Get()), VFW_E_ALREADY_CONNECTED);
  EXPECT_TRUE(IsSameObject(PeerFilterOf(PinsOf(tee.Get(), PINDIR_INPUT).at(0).Get()).Get(), decoder.Get()));

  ComPtr<IBaseFilter> renderer = FilterOfClass(graph.Get(), CLSID_VideoRenderer);
  ASSERT_TRUE(renderer) << reel::DescribeGraph(graph.Get());
  EXPECT_TRUE(IsSameObject(PeerFilterOf(PinsOf(renderer.Get(), PINDIR_INPUT).at(0).Get()).Get(), tee.Get()))
      << reel::DescribeGraph(graph.Get());
  EXPECT_TRUE(IsSameObject(PeerFilterOf(PinsOf(compressor.Get(), PINDIR_INPUT).at(0).Get()).Get(), tee.Get()));
  RunAndCheckAvi("mpeg4");
}

TEST_F(CaptureGraphBuilderTest, AsfOutputIsTheWriterItselfAndWritesWindowsMedia) {
  AddSource("avi-msmpeg4-pcm");
  ASSERT_FALSE(HasFatalFailure());
  output = folder / "out.wmv";
  ASSERT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Asf, Wide(output).c_str(), &mux, &sink), S_OK);
  EXPECT_EQ(ClassOf(mux.Get()), CLSID_WMAsfWriter);
  EXPECT_TRUE(IsSameObject(mux.Get(), sink.Get()));
  EXPECT_TRUE(QueryObject<IConfigAsfWriter>(sink.Get()));
  EXPECT_EQ(FiltersOf(graph.Get()).size(), 2u) << "no File writer after the ASF writer";
  LPOLESTR name = nullptr;
  ASSERT_EQ(sink->GetCurFile(&name, nullptr), S_OK);
  EXPECT_EQ(reel::Utf16ToUtf8(name), output.string());
  CoTaskMemFree(name);

  // The writer takes pictures and PCM: decoders come in by intelligent connect.
  ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, source.Get(), nullptr, mux.Get()), S_OK)
      << reel::DescribeGraph(graph.Get());
  ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Audio, source.Get(), nullptr, mux.Get()), S_OK)
      << reel::DescribeGraph(graph.Get());
  reel::test::RunWithoutClock(graph.Get());
  ASSERT_TRUE(reel::test::RunToCompletion(graph.Get(), 60000)) << reel::DescribeGraph(graph.Get());

  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.formatName, "asf");
  ASSERT_TRUE(report.FirstVideo() && report.FirstAudio()) << fixtures::FormatReport(output.string(), report);
  EXPECT_EQ(report.FirstVideo()->codecName, "wmv2");
  EXPECT_EQ(report.FirstAudio()->codecName, "wmav2");
  EXPECT_EQ(report.FirstVideo()->decodeErrors, 0);
  EXPECT_NEAR(report.FirstAudio()->decodedSeconds, spec.LengthSeconds(), 0.1);
  reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
  EXPECT_TRUE(verdict.played) << verdict.log;
}

TEST_F(CaptureGraphBuilderTest, TheGraphIsTheOneSetOrOneOfItsOwn) {
  ComPtr<IGraphBuilder> again;
  ASSERT_EQ(builder->GetFiltergraph(&again), S_OK);
  EXPECT_TRUE(IsSameObject(again.Get(), graph.Get()));
  EXPECT_EQ(builder->SetFiltergraph(graph.Get()), E_UNEXPECTED);

  auto fresh = CreateObject<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
  auto other = CreateObject<IGraphBuilder>(CLSID_FilterGraph);
  ASSERT_TRUE(fresh && other);
  EXPECT_EQ(fresh->SetFiltergraph(nullptr), E_POINTER);
  ASSERT_EQ(fresh->SetFiltergraph(other.Get()), S_OK);
  ComPtr<IGraphBuilder> held;
  ASSERT_EQ(fresh->GetFiltergraph(&held), S_OK);
  EXPECT_TRUE(IsSameObject(held.Get(), other.Get()));
  EXPECT_EQ(fresh->GetFiltergraph(nullptr), E_POINTER);
}

TEST_F(CaptureGraphBuilderTest, BadCallsReturnErrorsAndLeaveTheGraphAlone) {
  AddSource("avi-video-only");
  ASSERT_FALSE(HasFatalFailure());
  std::u16string file = Wide(folder / "out.avi");
  auto outside = CreateObject<IBaseFilter>(CLSID_NullRenderer);  // never added to the graph
  ComPtr<IPin> videoPin = PinsOf(source.Get(), PINDIR_OUTPUT).at(0);
  ASSERT_TRUE(outside);

  ComPtr<IBaseFilter> muxOut;
  ComPtr<IFileSinkFilter> sinkOut;
  void* found = nullptr;
  const GUID unknownType = MEDIASUBTYPE_RGB24;  // not a multiplexer
  struct Case {
    const char* what;
    HRESULT result;
    HRESULT expected;
  };
  const Case cases[] = {
      {"output without a type", builder->SetOutputFileName(nullptr, file.c_str(), &muxOut, &sinkOut), E_POINTER},
      {"output without a name", builder->SetOutputFileName(&MEDIASUBTYPE_Avi, nullptr, &muxOut, &sinkOut),
       E_POINTER},
      {"output with an empty name", builder->SetOutputFileName(&MEDIASUBTYPE_Avi, u"", &muxOut, &sinkOut),
       E_INVALIDARG},
      {"output without a place for the multiplexer",
       builder->SetOutputFileName(&MEDIASUBTYPE_Avi, file.c_str(), nullptr, &sinkOut), E_POINTER},
      {"output of an unsupported type", builder->SetOutputFileName(&unknownType, file.c_str(), &muxOut, &sinkOut),
       E_INVALIDARG},
      {"render without a source", builder->RenderStream(nullptr, nullptr, nullptr, nullptr, nullptr), E_POINTER},
      {"render a type the source lacks",
       builder->RenderStream(nullptr, &MEDIATYPE_Audio, source.Get(), nullptr, nullptr), E_FAIL},
      {"render into a sink outside the graph",
       builder->RenderStream(nullptr, nullptr, source.Get(), nullptr, outside.Get()), VFW_E_NOT_IN_GRAPH},
      {"render from a filter outside the graph",
       builder->RenderStream(nullptr, nullptr, outside.Get(), nullptr, nullptr), VFW_E_NOT_IN_GRAPH},
      {"render from an input pin",
       builder->RenderStream(nullptr, nullptr, PinsOf(outside.Get(), PINDIR_INPUT).at(0).Get(), nullptr, nullptr),
       E_INVALIDARG},
      {"render from something that is neither pin nor filter",
       builder->RenderStream(nullptr, nullptr, graph.Get(), nullptr, nullptr), E_INVALIDARG},
      {"find without a filter", builder->FindInterface(nullptr, nullptr, nullptr, IID_IBaseFilter, &found),
       E_POINTER},
      {"find without a place for the answer",
       builder->FindInterface(nullptr, nullptr, source.Get(), IID_IBaseFilter, nullptr), E_POINTER},
      {"find what nothing has",
       builder->FindInterface(nullptr, nullptr, source.Get(), IID_IConfigInterleaving, &found), E_NOINTERFACE},
      {"find pin without a place for it",
       builder->FindPin(source.Get(), PINDIR_OUTPUT, nullptr, nullptr, TRUE, 1, nullptr),
       E_POINTER},
  };
  for (const Case& entry : cases) EXPECT_EQ(entry.result, entry.expected) << entry.what;
  EXPECT_FALSE(muxOut);
  EXPECT_FALSE(sinkOut);
  EXPECT_EQ(found, nullptr);
  // Only the source is in the graph and its pin is still free.
  EXPECT_EQ(FiltersOf(graph.Get()).size(), 1u) << reel::DescribeGraph(graph.Get());
  EXPECT_FALSE(PeerFilterOf(videoPin.Get()));

  ComPtr<IPin> pin;
  EXPECT_EQ(builder->FindPin(source.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, TRUE, 0, &pin), S_OK);
  EXPECT_TRUE(IsSameObject(pin.Get(), videoPin.Get()));
  pin = nullptr;
  EXPECT_EQ(builder->FindPin(source.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, TRUE, 1, &pin), E_FAIL);
  EXPECT_EQ(builder->FindPin(source.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Audio, TRUE, 0, &pin), E_FAIL);
}

}  // namespace

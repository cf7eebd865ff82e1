// reeltool transcode IN OUT.avi|OUT.wmv [--video NAME] [--audio NAME]
//                   [--profile ID|FILE.prx] [--size WxH]
// converts IN as the converter does: the capture graph builder sets up the
// output (AVI Mux and File writer, or the ASF writer) and connects each
// stream of the source to it, through the named compressors for AVI
// (friendly names of the video and audio compressor categories) with the
// decoders intelligent connect puts in. The graph runs without a clock to
// its end; one line sums up what was written.
//
// A stream without a compressor goes into the AVI file as the graph
// connects it: as it is when AVI carries that codec, decoded otherwise.
// --size puts the resizer (stretching) in front of the video compressor.
// WMV encodes as the profile says (a system profile id, a .prx file, or the
// writer's default); there --size changes the profile's picture size, as
// the writer scales to it.
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/Bstr.h"
#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Guid.h"
#include "platform/com/Variant.h"
#include "platform/des/Resizer.h"
#include "platform/dshow/AsfWriter.h"
#include "platform/dshow/CaptureGraphBuilder.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/DeviceEnumerator.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/MediaType.h"
#include "platform/win/Strings.h"
#include "platform/wmf/WmfInterfaces.h"
#include "tools/reeltool/ReelToolCommand.h"

namespace reeltool {
namespace {

using reel::ComPtr;

constexpr const char* kUsage =
    "usage: reeltool transcode IN OUT.avi|OUT.wmv [--video NAME] [--audio NAME] [--profile ID|FILE.prx] [--size WxH]\n";

struct Options {
  std::string input;
  std::string output;
  bool wmv = false;
  std::optional<std::string> video;    // video compressor friendly name (AVI)
  std::optional<std::string> audio;    // audio compressor friendly name (AVI)
  std::optional<std::string> profile;  // system profile id or .prx file (WMV)
  int width = 0;                       // 0: keep the size
  int height = 0;
};

// Thrown to end the command with a message.
struct Failure {
  std::string message;
  int status = kFailure;
};

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

void Check(HRESULT result, const std::string& what) {
  if (FAILED(result)) throw Failure{what + " failed (" + Hex(result) + ")"};
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool ParseSize(const std::string& text, int* width, int* height) {
  int w = 0, h = 0;
  char x = 0, extra = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X')) return false;
  // Encoders want even sizes; keep within what a picture can be.
  if (w < 16 || h < 16 || w > 4096 || h > 4096 || w % 2 || h % 2) return false;
  *width = w;
  *height = h;
  return true;
}

Options ParseOptions(const Arguments& arguments) {
  Options options;
  std::vector<std::string> positional;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    auto value = [&]() -> std::string {
      if (index + 1 >= arguments.size()) throw Failure{argument + " needs a value\n" + kUsage, kUsageError};
      return arguments[++index];
    };
    if (argument == "--video") {
      options.video = value();
    } else if (argument == "--audio") {
      options.audio = value();
    } else if (argument == "--profile") {
      options.profile = value();
    } else if (argument == "--size") {
      std::string size = value();
      if (!ParseSize(size, &options.width, &options.height))
        throw Failure{"--size " + size + ": expected WxH with even numbers from 16 to 4096", kUsageError};
    } else if (argument.rfind("--", 0) == 0) {
      throw Failure{"unknown option " + argument + "\n" + kUsage, kUsageError};
    } else {
      positional.push_back(argument);
    }
  }
  if (positional.size() != 2) throw Failure{kUsage, kUsageError};
  options.input = positional[0];
  options.output = positional[1];
  std::string extension = Lowercase(std::filesystem::path(options.output).extension().string());
  if (extension != ".avi" && extension != ".wmv")
    throw Failure{options.output + ": the output must be an .avi or a .wmv file", kUsageError};
  options.wmv = extension == ".wmv";
  if (options.wmv && (options.video || options.audio))
    throw Failure{"--video and --audio choose AVI compressors; WMV encodes as its --profile says", kUsageError};
  if (!options.wmv && options.profile) throw Failure{"--profile is for WMV output", kUsageError};
  return options;
}

std::string FriendlyName(IMoniker* moniker) {
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))) || !bag)
    return {};
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  std::string name;
  if (SUCCEEDED(bag->Read(u"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
    name = reel::Utf8FromBstr(value.bstrVal);
  VariantClear(&value);
  return name;
}

// The filter of the category with exactly that friendly name, bound from its
// moniker; the error lists the names there are.
ComPtr<IBaseFilter> BindByName(REFCLSID category, const char* kind, const std::string& wanted) {
  ComPtr<ICreateDevEnum> devices;
  Check(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void**>(&devices)),
        "creating the system device enumerator");
  ComPtr<IEnumMoniker> monikers;
  std::string names;
  if (devices->CreateClassEnumerator(category, &monikers, 0) == S_OK && monikers) {
    IMoniker* moniker = nullptr;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
      ComPtr<IMoniker> held;
      held.Attach(moniker);
      std::string name = FriendlyName(held.Get());
      if (name == wanted) {
        ComPtr<IBaseFilter> filter;
        Check(held->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)),
              "creating the " + std::string(kind) + " \"" + wanted + "\"");
        return filter;
      }
      names += (names.empty() ? "" : ", ") + ("\"" + name + "\"");
    }
  }
  throw Failure{std::string("no ") + kind + " called \"" + wanted + "\"; there are: " +
                (names.empty() ? "none" : names)};
}

// A .prx file as the UTF-16 text the profile manager reads: UTF-16 with a
// byte-order mark, or UTF-8.
std::u16string ReadProfileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Failure{path + ": cannot read the profile file"};
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto byte = [&](std::size_t index) { return static_cast<unsigned char>(bytes[index]); };
  if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    std::u16string text;
    for (std::size_t index = 2; index + 1 < bytes.size(); index += 2)
      text.push_back(static_cast<char16_t>(byte(index) | (byte(index + 1) << 8)));
    return text;
  }
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  return reel::Utf8ToUtf16(bytes);
}

// Sets the picture size of every video stream of the profile.
void ResizeProfile(IWMProfile* profile, int width, int height) {
  DWORD count = 0;
  Check(profile->GetStreamCount(&count), "reading the profile");
  bool resized = false;
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IWMStreamConfig> stream;
    Check(profile->GetStream(index, &stream), "reading the profile's streams");
    GUID type = GUID_NULL;
    stream->GetStreamType(&type);
    if (type != WMMEDIATYPE_Video) continue;
    ComPtr<IWMMediaProps> properties;
    Check(stream.As(&properties), "reading the video stream's type");
    DWORD bytes = 0;
    Check(properties->GetMediaType(nullptr, &bytes), "reading the video stream's type");
    std::vector<std::uint64_t> buffer(bytes / sizeof(std::uint64_t) + 1);
    auto* mediaType = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
    Check(properties->GetMediaType(mediaType, &bytes), "reading the video stream's type");
    if (mediaType->formattype != WMFORMAT_VideoInfo || mediaType->cbFormat < sizeof(VIDEOINFOHEADER))
      throw Failure{"the profile's video stream has no picture format to resize"};
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(mediaType->pbFormat);
    info->rcSource = info->rcTarget = RECT{0, 0, width, height};
    info->bmiHeader.biWidth = width;
    info->bmiHeader.biHeight = height;
    info->bmiHeader.biSizeImage = 0;
    Check(properties->SetMediaType(mediaType), "setting the picture size");
    Check(profile->ReconfigStream(stream.Get()), "setting the picture size");
    resized = true;
  }
  if (!resized) throw Failure{"--size: the profile has no video stream"};
}

// Configures the ASF writer from --profile and --size.
void ConfigureAsfWriter(IFileSinkFilter* sink, const Options& options) {
  ComPtr<IConfigAsfWriter> config;
  Check(sink->QueryInterface(IID_IConfigAsfWriter, reinterpret_cast<void**>(&config)), "configuring the ASF writer");
  if (options.profile) {
    const std::string& profile = *options.profile;
    if (std::optional<GUID> id = reel::GuidFromString(profile)) {
      Check(config->ConfigureFilterUsingProfileGuid(*id), "system profile " + profile);
    } else {
      ComPtr<IWMProfileManager> manager;
      Check(WMCreateProfileManager(&manager), "creating the profile manager");
      ComPtr<IWMProfile> loaded;
      std::u16string text = ReadProfileText(profile);
      Check(manager->LoadProfileByData(text.c_str(), &loaded), "loading the profile file " + profile);
      Check(config->ConfigureFilterUsingProfile(loaded.Get()), "configuring the writer with " + profile);
    }
  }
  if (options.width) {
    ComPtr<IWMProfile> current;
    Check(config->GetCurrentProfile(&current), "reading the writer's profile");
    ResizeProfile(current.Get(), options.width, options.height);
    Check(config->ConfigureFilterUsingProfile(current.Get()), "configuring the writer at the new size");
  }
}

GUID MajorTypeOf(IPin* pin) {
  ComPtr<IEnumMediaTypes> types;
  AM_MEDIA_TYPE* type = nullptr;
  GUID major = GUID_NULL;
  if (SUCCEEDED(pin->EnumMediaTypes(&types)) && types && types->Next(1, &type, nullptr) == S_OK && type) {
    major = type->majortype;
    DeleteMediaType(type);
  }
  return major;
}

std::vector<ComPtr<IPin>> OutputPins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumerator;
  filter->EnumPins(&enumerator);
  IPin* pin = nullptr;
  while (enumerator && enumerator->Next(1, &pin, nullptr) == S_OK) {
    ComPtr<IPin> held;
    held.Attach(pin);
    PIN_DIRECTION direction = PINDIR_INPUT;
    held->QueryDirection(&direction);
    if (direction == PINDIR_OUTPUT) pins.push_back(held);
  }
  return pins;
}

// What reaches the output filter, one media type per connected input:
// "Video MJPG 160x120; Audio PCM 44100 Hz 2 ch 16 bit".
std::string DescribeInput(IBaseFilter* output) {
  std::string description;
  ComPtr<IEnumPins> enumerator;
  output->EnumPins(&enumerator);
  IPin* pin = nullptr;
  while (enumerator && enumerator->Next(1, &pin, nullptr) == S_OK) {
    ComPtr<IPin> held;
    held.Attach(pin);
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    held->QueryDirection(&direction);
    CMediaType type;
    if (direction != PINDIR_INPUT || FAILED(held->ConnectionMediaType(&type))) continue;
    description += (description.empty() ? "" : "; ") + reel::DescribeMediaType(type);
  }
  return description;
}

int Transcode(const Options& options) {
  auto started = std::chrono::steady_clock::now();
  ComPtr<ICaptureGraphBuilder2> builder;
  Check(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                         reinterpret_cast<void**>(&builder)),
        "creating the capture graph builder");
  ComPtr<IGraphBuilder> graph;
  Check(builder->GetFiltergraph(&graph), "creating the filter graph");

  ComPtr<IBaseFilter> source;
  Check(graph->AddSourceFilter(reel::Utf8ToUtf16(options.input).c_str(), u"Source", &source),
        options.input + ": opening the input");
  std::vector<ComPtr<IPin>> streams = OutputPins(source.Get());
  if (streams.empty()) throw Failure{options.input + ": no streams"};

  ComPtr<IBaseFilter> output;
  ComPtr<IFileSinkFilter> sink;
  Check(builder->SetOutputFileName(options.wmv ? &MEDIASUBTYPE_Asf : &MEDIASUBTYPE_Avi,
                                   reel::Utf8ToUtf16(options.output).c_str(), &output, &sink),
        options.output + ": setting up the output");
  // The File writer keeps what is beyond the new end of an old file unless
  // told to overwrite it.
  ComPtr<IFileSinkFilter2> overwrite;
  if (SUCCEEDED(sink.As(&overwrite))) Check(overwrite->SetMode(AM_FILE_OVERWRITE), "overwriting " + options.output);

  ComPtr<IBaseFilter> videoCompressor, audioCompressor, resizer;
  if (options.wmv) {
    ConfigureAsfWriter(sink.Get(), options);
  } else {
    if (options.video) {
      videoCompressor = BindByName(CLSID_VideoCompressorCategory, "video compressor", *options.video);
      Check(graph->AddFilter(videoCompressor.Get(), u"Compressor"), "adding the video compressor");
    }
    if (options.audio) {
      audioCompressor = BindByName(CLSID_AudioCompressorCategory, "audio compressor", *options.audio);
      Check(graph->AddFilter(audioCompressor.Get(), u"Audio Compressor"), "adding the audio compressor");
    }
    if (options.width) {
      Check(CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&resizer)),
            "creating the resizer");
      ComPtr<IResize> size;
      Check(resizer.As(&size), "creating the resizer");
      Check(size->put_Size(options.height, options.width, RESIZEF_STRETCH), "setting the picture size");
      Check(graph->AddFilter(resizer.Get(), u"Resizer"), "adding the resizer");
    }
  }

  int connected = 0;
  for (ComPtr<IPin>& stream : streams) {
    GUID major = MajorTypeOf(stream.Get());
    bool video = major == MEDIATYPE_Video;
    if (!video && major != MEDIATYPE_Audio) continue;
    IBaseFilter* compressor = video ? videoCompressor.Get() : audioCompressor.Get();
    HRESULT result = S_OK;
    if (video && resizer) {
      // source -> resizer -> compressor, then the compressor to the output.
      result = builder->RenderStream(nullptr, nullptr, stream.Get(), resizer.Get(),
                                     compressor ? compressor : output.Get());
      if (SUCCEEDED(result) && compressor)
        result = builder->RenderStream(nullptr, nullptr, compressor, nullptr, output.Get());
    } else {
      result = builder->RenderStream(nullptr, nullptr, stream.Get(), compressor, output.Get());
    }
    const char* kind = video ? "video" : "audio";
    if (SUCCEEDED(result)) {
      ++connected;
    } else if (options.wmv) {
      // A profile without a stream of this kind leaves it out.
      std::fprintf(stderr, "reeltool transcode: the %s stream is left out: the profile takes none (%s)\n", kind,
                   Hex(result).c_str());
    } else {
      throw Failure{std::string("cannot connect the ") + kind + " stream to the AVI output (" + Hex(result) + ")\n" +
                    reel::DescribeGraph(graph.Get())};
    }
  }
  if (connected == 0) throw Failure{"no stream of " + options.input + " reaches the output"};

  // As the converter sets it: whole interleaving, one second each way.
  ComPtr<IConfigInterleaving> interleaving;
  if (SUCCEEDED(output->QueryInterface(IID_IConfigInterleaving, reinterpret_cast<void**>(&interleaving)))) {
    REFERENCE_TIME second = UNITS;
    interleaving->put_Mode(INTERLEAVE_FULL);
    interleaving->put_Interleaving(&second, &second);
  }
  ComPtr<IMediaFilter> clock;
  Check(graph.As(&clock), "removing the clock");
  Check(clock->SetSyncSource(nullptr), "removing the clock");

  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  Check(graph.As(&control), "controlling the graph");
  Check(graph.As(&events), "reading the graph's events");
  auto running = std::chrono::steady_clock::now();
  Check(control->Run(), "running the graph");
  // Until the end or an abort, whose first parameter says why.
  std::string problem;
  for (bool done = false; !done;) {
    LONG code = 0;
    LONG_PTR first = 0, second = 0;
    HRESULT waited = events->GetEvent(&code, &first, &second, 60 * 60 * 1000);
    if (FAILED(waited)) {
      problem = "no end after an hour (" + Hex(waited) + ")";
      break;
    }
    if (code == EC_ERRORABORT || code == EC_USERABORT)
      problem = (code == EC_ERRORABORT ? "a filter failed (" : "aborted (") + Hex(static_cast<HRESULT>(first)) + ")";
    done = code == EC_COMPLETE || !problem.empty();
    events->FreeEventParams(code, first, second);
  }
  auto finished = std::chrono::steady_clock::now();
  control->Stop();
  if (!problem.empty()) {
    // What was written is no usable file.
    std::error_code ignored;
    std::filesystem::remove(options.output, ignored);
    throw Failure{"the conversion did not complete: " + problem};
  }

  std::error_code sizeError;
  auto bytes = std::filesystem::file_size(options.output, sizeError);
  auto seconds = [](auto from, auto to) { return std::chrono::duration<double>(to - from).count(); };
  // The multiplexer stores what it gets; the ASF writer encodes it as its
  // profile says.
  std::printf("transcoded %s -> %s: %s %s; %llu bytes, built in %.3f s, ran in %.3f s\n", options.input.c_str(),
              options.output.c_str(), options.wmv ? "ASF writer encoding" : "AVI Mux storing",
              DescribeInput(output.Get()).c_str(),
              static_cast<unsigned long long>(sizeError ? 0 : bytes), seconds(started, running),
              seconds(running, finished));
  return kSuccess;
}

}  // namespace

int RunTranscode(const Arguments& arguments) {
  try {
    return Transcode(ParseOptions(arguments));
  } catch (const Failure& failure) {
    std::fprintf(stderr, "reeltool transcode: %s\n", failure.message.c_str());
    return failure.status;
  }
}

}  // namespace reeltool

// A small output graph for compressor tests: a generated clip is decoded,
// its video handed to a video compressor in a proposed uncompressed type
// and written with the AVI multiplexer and the File Writer (sound, when the
// clip has some, goes to the multiplexer as PCM).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/DShowInterfaces.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/support/TempDir.h"

namespace reel::test {

class CompressorGraph : public ::testing::Test {
 protected:
  // Writes the fixture of that kind (changed by adjust) into the folder.
  std::filesystem::path WriteSource(const std::string& kindName,
                                    const std::function<void(fixtures::ClipSpec&)>& adjust = nullptr);
  // Source, decoders, compressor (as "Compressor"), multiplexer and file
  // writer, connected; the graph runs without a clock. Failures are
  // reported as test failures.
  void Build(const std::filesystem::path& source, const std::filesystem::path& output, IBaseFilter* compressor,
             REFGUID videoSubtype);
  // The same graph up to the compressor's input (sound already at the
  // multiplexer); then ConnectCompressorOutput, with a proposed output type
  // or none, returns what the connection to the multiplexer gave.
  void BuildToCompressor(const std::filesystem::path& source, const std::filesystem::path& output,
                         IBaseFilter* compressor, REFGUID videoSubtype);
  HRESULT ConnectCompressorOutput(const AM_MEDIA_TYPE* proposed = nullptr);
  // Build, run to the end and report whether the graph completed.
  bool Convert(const std::filesystem::path& source, const std::filesystem::path& output, IBaseFilter* compressor,
               REFGUID videoSubtype);

  TempDir folder{"videocompressors"};
  fixtures::ClipSpec spec;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> compressor_;
  ComPtr<IBaseFilter> mux_;
};

// The compressor of the video compressor category with that friendly name,
// bound from its moniker; null when there is none.
ComPtr<IBaseFilter> FindVideoCompressor(const std::u16string& name);
// Every friendly name of the video compressor category, in its order.
std::vector<std::u16string> VideoCompressorNames();
// The key-frame flags of a file's first video stream, packet by packet.
std::vector<bool> VideoKeyFrames(const std::string& path);
// The bytes of a file's first video stream (its packets, without the
// container's headers and index).
std::uintmax_t VideoBytes(const std::string& path);

}  // namespace reel::test

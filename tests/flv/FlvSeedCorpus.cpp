// Writes the seed corpus of the FLV fuzz target: small files of the shapes
// the tests use (usage: flv_seed_corpus FOLDER).
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/flv/FlvTestFiles.h"

namespace {

void Save(const std::string& folder, const char* name, const std::string& bytes) {
  std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
}

// Video payloads whose first bytes hold a picture size, by codec.
const std::string kH263Qvga = std::string("\x12\x00\x00\x84\x00\x80\x00\x00\x00\x00", 10);
const std::string kH263Explicit = std::string("\x12\x00\x00\x84\x01\x01\x68\x4B\x00\x00\x00", 11);
const std::string kScreenVideo = std::string("\x13\x32\x80\x31\xE0\x00", 6);
const std::string kVp6 = std::string("\x14\x24\x55\x66\x0F\x14\x0F\x14", 8);
const std::string kVp6Alpha = std::string("\x15\x31\x00\x00\x09\x55\x66\x09\x0B", 9);
const std::string kAvc = std::string("\x17\x00\x00\x00\x00\x01\x64\x00\x1F", 9);

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  using flvtest::FlvBuilder;

  Save(folder, "header-only.flv", FlvBuilder().bytes());
  Save(folder, "audio-only.flv", FlvBuilder(0x04).Audio(0, 0x2E).Audio(26, 0x2E).Audio(52, 0x2F).bytes());

  FlvBuilder mixed;
  mixed.OwnMetadata();
  for (int i = 0; i < 6; ++i) {
    mixed.Tag(9, i * 40, i % 3 == 0 ? kH263Qvga : "\x22" + kH263Qvga.substr(1));
    mixed.Audio(i * 40 + 20, 0xAF, 12 + i);
  }
  Save(folder, "mixed.flv", mixed.bytes());
  Save(folder, "cut-off.flv", mixed.bytes().substr(0, mixed.bytes().size() - 7));

  const std::pair<const char*, const std::string*> pictures[] = {
      {"h263-explicit.flv", &kH263Explicit}, {"screen-video.flv", &kScreenVideo}, {"vp6.flv", &kVp6},
      {"vp6-alpha.flv", &kVp6Alpha},         {"avc.flv", &kAvc}};
  for (const auto& [name, payload] : pictures) {
    Save(folder, name, FlvBuilder(0x01).Tag(9, 0, *payload).Tag(9, 40, "\x22\x01").Tag(9, 80, "\x12\x01").bytes());
  }
  Save(folder, "negative-times.flv", FlvBuilder().Video(-40, 0x12).Audio(-20, 0x2E).Video(0x01000010, 0x12).bytes());
  Save(folder, "empty-tags.flv", FlvBuilder().Tag(9, 0, "").Tag(8, 0, "").Tag(18, 0, "").bytes());
  return 0;
}

// Times metadata injection into a large FLV file: FlvMetadataWriter against
// yamdi (`yamdi -i IN -o OUT`), alternating runs on the same warm input.
//
// The input is made from a real clip: ffmpeg writes ten seconds of Sorenson
// H.263 and MP3, and its audio and video tags are repeated with advancing
// times until the file reaches the requested size (100 MB by default).
//
// usage: [TMPDIR=folder] flv_inject_bench [MEGABYTES] [RUNS]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "control/FlvMetadataWriter.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double CpuSeconds(const rusage& usage) {
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return CpuSeconds(usage);
}

// Runs a program and answers its exit status; `cpuSeconds` gets its user
// and system time.
int Spawn(const std::vector<std::string>& command, double* cpuSeconds = nullptr) {
  std::vector<char*> argv;
  for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) return -1;
  if (cpuSeconds) *cpuSeconds = CpuSeconds(usage);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::uint32_t BigEndian(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// Repeats the clip's audio and video tags, shifting each copy's times past
// the previous one, until `targetBytes` are written.
bool MakeLargeInput(const fs::path& clip, const fs::path& output, std::uint64_t targetBytes) {
  const std::string source = ReadWhole(clip);
  if (source.size() < 13 || source.compare(0, 3, "FLV") != 0) return false;
  struct TagSpan {
    std::size_t offset, length;
    std::uint32_t timeMs;
  };
  std::vector<TagSpan> tags;
  std::uint32_t clipLength = 0;
  for (std::size_t at = BigEndian(source, 5, 4) + 4; at + 11 <= source.size();) {
    const std::size_t length = BigEndian(source, at + 1, 3) + 15;
    if (at + length > source.size()) break;
    const std::uint32_t time = BigEndian(source, at + 4, 3) | (BigEndian(source, at + 7, 1) << 24);
    const auto type = static_cast<std::uint8_t>(source[at]);
    if (type == 8 || type == 9) tags.push_back({at, length, time});
    clipLength = std::max(clipLength, time);
    at += length;
  }
  if (tags.empty()) return false;
  clipLength += 40;

  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(source.data(), 13);
  std::uint64_t written = 13;
  for (std::uint32_t shift = 0; written < targetBytes; shift += clipLength) {
    for (const TagSpan& tag : tags) {
      std::string copy = source.substr(tag.offset, tag.length);
      const std::uint32_t time = tag.timeMs + shift;
      copy[4] = static_cast<char>(time >> 16);
      copy[5] = static_cast<char>(time >> 8);
      copy[6] = static_cast<char>(time);
      copy[7] = static_cast<char>(time >> 24);
      out.write(copy.data(), static_cast<std::streamsize>(copy.size()));
      written += copy.size();
    }
  }
  return static_cast<bool>(out);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  if (megabytes == 0 || runs <= 0) {
    std::fprintf(stderr, "usage: %s [MEGABYTES] [RUNS]\n", argv[0]);
    return 2;
  }

  // $TMPDIR chooses the file system (e.g. /dev/shm to leave the disk out).
  std::string pattern = (fs::temp_directory_path() / "flvbench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path folder = pattern;
  const fs::path clip = folder / "clip.flv";
  const fs::path input = folder / "input.flv";
  const fs::path ours = folder / "ours.flv";
  const fs::path theirs = folder / "yamdi.flv";

  int status = Spawn({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25",
                      "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t", "10", "-c:v", "flv1", "-q:v",
                      "3", "-g", "25", "-c:a", "libmp3lame", "-b:a", "128k", clip.string()});
  if (status != 0 || !MakeLargeInput(clip, input, megabytes * 1000 * 1000)) {
    std::fprintf(stderr, "cannot make the input (is ffmpeg installed?)\n");
    fs::remove_all(folder);
    return 1;
  }
  std::printf("input: %s, %.1f MB\n", input.c_str(), fs::file_size(input) / 1e6);

  std::vector<double> ourTimes, yamdiTimes, ourCpu, yamdiCpu;
  clipmill::FlvMetadataWriter writer;
  // One untimed round of each first, so both start with the input in the page cache.
  for (int run = -1; run < runs; ++run) {
    const double cpuBefore = OwnCpuSeconds();
    auto start = Clock::now();
    writer.InjectMetadata(input.string(), ours.string());
    const double ourSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double ourCpuSeconds = OwnCpuSeconds() - cpuBefore;

    double yamdiCpuSeconds = 0;
    start = Clock::now();
    status = Spawn({"yamdi", "-i", input.string(), "-o", theirs.string()}, &yamdiCpuSeconds);
    const double yamdiSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0) {
      std::fprintf(stderr, "yamdi failed (status %d; is it installed?)\n", status);
      fs::remove_all(folder);
      return 1;
    }
    if (run >= 0) {
      ourTimes.push_back(ourSeconds);
      yamdiTimes.push_back(yamdiSeconds);
      ourCpu.push_back(ourCpuSeconds);
      yamdiCpu.push_back(yamdiCpuSeconds);
      std::printf("run %d: FlvMetadataWriter %.3f s (cpu %.3f s), yamdi %.3f s (cpu %.3f s)\n", run + 1, ourSeconds,
                  ourCpuSeconds, yamdiSeconds, yamdiCpuSeconds);
    }
  }
  const double ourMedian = Median(ourTimes);
  const double yamdiMedian = Median(yamdiTimes);
  std::printf("median of %d runs: FlvMetadataWriter %.3f s (%.0f MB/s), yamdi %.3f s (%.0f MB/s)\n", runs, ourMedian,
              fs::file_size(input) / 1e6 / ourMedian, yamdiMedian, fs::file_size(input) / 1e6 / yamdiMedian);
  std::printf("median cpu time (user + system): FlvMetadataWriter %.3f s, yamdi %.3f s\n", Median(ourCpu),
              Median(yamdiCpu));
  std::printf("ratio yamdi / FlvMetadataWriter: %.2f wall clock, %.2f cpu\n", yamdiMedian / ourMedian,
              Median(yamdiCpu) / Median(ourCpu));
  std::printf("output sizes: FlvMetadataWriter %ju bytes, yamdi %ju bytes\n",
              static_cast<std::uintmax_t>(fs::file_size(ours)), static_cast<std::uintmax_t>(fs::file_size(theirs)));
  fs::remove_all(folder);
  return 0;
}

// A temporary folder that is removed with everything in it when the object dies.
#pragma once

#include <filesystem>
#include <string>

namespace reel::test {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "reeltest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Reads or writes a whole file; used to set up and inspect fixtures.
std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

}  // namespace reel::test

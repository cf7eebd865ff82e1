// skinpack: makes a skin package (a zip archive) from the files of a folder.
//
//   skinpack OUTPUT.skn FOLDER
//
// Every regular file directly in FOLDER is stored, deflated, under its own
// name, in name order, so the same sources give the same package.
#include <minizip/zip.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool AddFile(zipFile archive, const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  zip_fileinfo info{};
  // A fixed date keeps packages identical from build to build.
  info.tmz_date.tm_year = 2000;
  info.tmz_date.tm_mday = 1;
  const std::string name = file.filename().string();
  if (zipOpenNewFileInZip(archive, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                          Z_BEST_COMPRESSION) != ZIP_OK) {
    return false;
  }
  const bool written =
      bytes.empty() || zipWriteInFileInZip(archive, bytes.data(), static_cast<unsigned>(bytes.size())) == ZIP_OK;
  return zipCloseFileInZip(archive) == ZIP_OK && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: skinpack OUTPUT.skn FOLDER\n";
    return 2;
  }
  const fs::path output = argv[1];
  const fs::path folder = argv[2];
  std::vector<fs::path> files;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  if (error || files.empty()) {
    std::cerr << "skinpack: nothing to pack in " << folder << "\n";
    return 1;
  }
  std::sort(files.begin(), files.end());

  const fs::path partial = output.string() + ".partial";
  zipFile archive = zipOpen(partial.c_str(), APPEND_STATUS_CREATE);
  if (!archive) {
    std::cerr << "skinpack: cannot create " << partial << "\n";
    return 1;
  }
  bool ok = true;
  for (const fs::path& file : files) {
    if (!AddFile(archive, file)) {
      std::cerr << "skinpack: cannot add " << file << "\n";
      ok = false;
      break;
    }
  }
  if (zipClose(archive, nullptr) != ZIP_OK) ok = false;
  if (!ok) {
    fs::remove(partial, error);
    return 1;
  }
  fs::rename(partial, output, error);
  if (error) {
    std::cerr << "skinpack: cannot write " << output << "\n";
    return 1;
  }
  return 0;
}

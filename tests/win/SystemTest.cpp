#include "platform/win/System.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"

namespace {

using reel::test::TempDir;
using reel::test::WriteFile;

TEST(SystemTest, ModuleFileNameIsTheExecutable) {
  char buffer[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(buffer), length);
  EXPECT_EQ(std::filesystem::path(buffer), std::filesystem::canonical("/proc/self/exe"));
  EXPECT_EQ(std::filesystem::path(buffer).filename(), "win_tests");

  // Too small: cut to size - 1 characters, size returned, and the error says so.
  char small[6];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), sizeof(small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small), std::string(buffer, 5));

  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(buffer), buffer, sizeof(buffer)), 0u);
}

class TempPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* current = std::getenv("TMPDIR");
    hadTmpdir_ = current != nullptr;
    if (hadTmpdir_) saved_ = current;
  }
  void TearDown() override {
    if (hadTmpdir_) setenv("TMPDIR", saved_.c_str(), 1);
    else unsetenv("TMPDIR");
  }
  static std::string TempPath() {
    char buffer[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof(buffer), buffer);
    EXPECT_EQ(std::strlen(buffer), length);
    return buffer;
  }
  bool hadTmpdir_ = false;
  std::string saved_;
};

TEST_F(TempPathTest, EndsWithASeparator) {
  unsetenv("TMPDIR");
  EXPECT_EQ(TempPath(), "/tmp/");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(TempPath(), "/tmp/");
  setenv("TMPDIR", "/var/scratch", 1);
  EXPECT_EQ(TempPath(), "/var/scratch/");
  setenv("TMPDIR", "/var/scratch/", 1);
  EXPECT_EQ(TempPath(), "/var/scratch/");

  // Too small: the size needed, terminator included, and the buffer untouched.
  char small[5] = "####";
  EXPECT_EQ(GetTempPathA(sizeof(small), small), 14u);
  EXPECT_STREQ(small, "####");
  EXPECT_EQ(GetTempPathA(0, nullptr), 14u);
}

TEST(SystemTest, VersionIsANewerWindows) {
  OSVERSIONINFOA info {};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_GT(info.dwMajorVersion, 5u);  // keeps the start-up decoder registration off
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);

  OSVERSIONINFOEXA extended {};
  extended.dwOSVersionInfoSize = sizeof(extended);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended)));
  EXPECT_EQ(extended.dwMajorVersion, info.dwMajorVersion);

  OSVERSIONINFOA wrong {};
  wrong.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&wrong));
  EXPECT_EQ(wrong.dwMajorVersion, 0u);
}

TEST(SystemTest, CurrentDirectoryRoundTrips) {
  TempDir dir;
  const std::filesystem::path previous = std::filesystem::current_path();
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
  char buffer[512];
  const DWORD length = GetCurrentDirectoryA(sizeof(buffer), buffer);
  EXPECT_EQ(std::filesystem::path(buffer), std::filesystem::canonical(dir.path()));
  EXPECT_EQ(std::strlen(buffer), length);
  char small[2] = "#";
  EXPECT_EQ(GetCurrentDirectoryA(sizeof(small), small), length + 1);
  EXPECT_STREQ(small, "#");

  EXPECT_FALSE(SetCurrentDirectoryA((dir.path() / "missing").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(SetCurrentDirectoryA(previous.c_str()));
}

TEST(SystemTest, FilesAndFolders) {
  TempDir dir;
  const std::string folder = (dir / "made").string();
  const std::string file = (dir / "made/file.txt").string();

  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA((dir / "no/such").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);

  WriteFile(file, "x");
  EXPECT_EQ(GetFileAttributesA(file.c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_FALSE(RemoveDirectoryA(folder.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(DeleteFileA(folder.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  ASSERT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(RemoveDirectoryA(folder.c_str()));
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(SystemTest, MulDivRoundsAndFailsAsWindows) {
  struct Case {
    INT number, numerator, denominator, expected;
  };
  for (const Case& c : {Case{10, 3, 4, 8},            // 7.5 rounds up
                        Case{-10, 3, 4, -8},          // and away from zero when negative
                        Case{10, -3, 4, -8},          Case{10, 3, -4, -8},
                        Case{-10, -3, -4, -8},        Case{7, 1, 3, 2},
                        Case{8, 1, 3, 3},             Case{0, -5, 3, 0},
                        Case{5, 5, 0, -1},            // division by zero
                        Case{INT_MAX, 2, 1, -1},      // overflow
                        Case{INT_MAX, INT_MAX, INT_MAX, INT_MAX},
                        Case{INT_MIN, 1, -1, -1},     // 2^31 does not fit
                        Case{640, 480, 720, 427}}) {
    EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.expected)
        << c.number << " * " << c.numerator << " / " << c.denominator;
  }
}

TEST(SystemTest, SleepWaitsAndTicksAdvance) {
  const DWORD before = GetTickCount();
  const ULONGLONG before64 = GetTickCount64();
  Sleep(50);
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - before), 45u);
  EXPECT_GE(GetTickCount64() - before64, 45u);
}

}  // namespace
